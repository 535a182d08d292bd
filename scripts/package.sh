#!/usr/bin/env bash
# Builds the Debian package of the three programs into build-package/ and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build-package -DCMAKE_BUILD_TYPE=Release -DZANDOR_TESTS=OFF -DZANDOR_BENCH=OFF
(cd build-package && cpack -G DEB >/dev/null)
ls build-package/zandorupdate_*.deb
