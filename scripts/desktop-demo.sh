#!/usr/bin/env bash
# The desktop demo: starts simulated devices, writes a device list naming them into a demo
# folder with sample firmware files, and starts the desktop application there. Every simulator
# it started stops when the window closes or the script is interrupted.
#   scripts/desktop-demo.sh [BIN_DIR]     (default build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(cd "${1:-build/bin}" && pwd)

# shellcheck source=scripts/sim-lib.sh
source scripts/sim-lib.sh

key=00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF
start_sim hub --tcp 127.0.0.1:0 --unit "G4 ,A1,100,0,B07" --unit "G4 ,B2,100,1" \
  --unit "G6 ,A1,100,2"
hub=${ready#tcp }
start_sim station --tcp 127.0.0.1:0 --key "$key" --unit "G4 ,A1,100,0"
station=${ready#tcp }
start_sim serial --pty --unit "G4 ,A1,100,0" --baud 38400
serial=${ready#pty }

demo="$workdir/demo"
mkdir -p "$demo"
cp samples/*.hex "$demo/"
cd "$demo"
"$bin/zandor" devices add --name Hub --address "${hub%:*}" --port "${hub##*:}" >/dev/null
"$bin/zandor" devices add --name Station --address "${station%:*}" --port "${station##*:}" \
  --key "$key" >/dev/null
# The simulated serial device is a pseudo-terminal: COM9 leads to it for this run only.
"$bin/zandor" devices add --name Serial --address serial --port 9 >/dev/null
export ZANDOR_COM_PORTS="COM9=$serial"

echo "Simulated devices: Hub tcp $hub, Station tcp $station (enciphered), Serial COM9 = $serial"
echo "Demo folder: $demo (firmware: multi-unit.hex and the other samples)"
"$bin/zandorupdate"
