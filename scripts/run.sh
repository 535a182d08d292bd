#!/usr/bin/env bash
# Sets up, builds, and runs the main job on the sample firmware files.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
sample=samples/single-64k.hex
echo "== zandor info $sample"
build/bin/zandor info "$sample"
echo "== zandor test $sample"
build/bin/zandor test "$sample"
