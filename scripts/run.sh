#!/usr/bin/env bash
# Sets up, builds, and runs the main job: when no device is named, a demo against the simulator.
#   scripts/run.sh                        with a display: the desktop application over simulated
#                                         devices; without one: the command-line demo
#   ZANDOR_DEMO=cli scripts/run.sh        the command-line demo also where there is a display
#   scripts/run.sh FIRMWARE TARGET...     updates real devices (see: build/bin/zandor update --help)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build

if [ $# -gt 0 ]; then
  exec build/bin/zandor update "$@"
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${ZANDOR_DEMO:-}" != cli ]; then
  exec bash scripts/desktop-demo.sh build/bin
fi
exec bash scripts/demo.sh build/bin
