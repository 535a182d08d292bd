#!/usr/bin/env bash
# Sets up, builds, and runs the main job: when no device is named, a demo against the simulator.
#   scripts/run.sh                        demo: updates simulated devices over TCP and a pty
#   scripts/run.sh FIRMWARE TARGET...     updates real devices (see: build/bin/zandor update --help)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build

if [ $# -gt 0 ]; then
  exec build/bin/zandor update "$@"
fi
exec bash scripts/demo.sh build/bin
