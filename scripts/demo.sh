#!/usr/bin/env bash
# The command-line demo: starts simulated devices, updates each with `zandor update`, and stops
# every simulator it started, also when it is interrupted.
#   scripts/demo.sh [BIN_DIR]     (default build/bin)
# ZANDOR_DEMO_BAUD sets the pace of the pseudo-terminal line (default 38400; 0 = unpaced).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/bin}
baud=${ZANDOR_DEMO_BAUD:-38400}

# shellcheck source=scripts/sim-lib.sh
source scripts/sim-lib.sh

echo "== the firmware file"
"$bin/zandor" info samples/multi-unit.hex
"$bin/zandor" test samples/multi-unit.hex

echo
echo "== a simulated three-unit device on loopback TCP"
start_sim tcp --tcp 127.0.0.1:0 \
  --unit "G4 ,A1,100,0,B07" --unit "G4 ,B2,100,1" --unit "G6 ,A1,100,2"
echo "zandor-sim: $ready"
"$bin/zandor" update samples/multi-unit.hex "tcp:${ready#tcp }"

echo
echo "== a simulated device on loopback TCP, enciphered"
key=00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF
start_sim key --tcp 127.0.0.1:0 --key "$key" --unit "G4 ,A1,100,0"
echo "zandor-sim: $ready (key $key)"
"$bin/zandor" update samples/multi-unit.hex "tcp:${ready#tcp }:$key"

echo
echo "== a simulated single-unit device on a pseudo-terminal (${baud} baud line)"
start_sim pty --pty --family matrix --baud "$baud"
echo "zandor-sim: $ready"
"$bin/zandor" update samples/single-64k.hex "serial:${ready#pty }"
