#!/usr/bin/env bash
# Renders every window of the desktop application under Xvfb into docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/zandor-screenshots docs/screenshots
