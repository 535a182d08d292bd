#!/usr/bin/env bash
# Sets up, builds, and runs the main job: when no device is named, a demo against the simulator.
#   scripts/run.sh                        demo: updates simulated devices over TCP and a pty
#   scripts/run.sh FIRMWARE TARGET...     updates real devices (see: build/bin/zandor update --help)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
bin=build/bin

if [ $# -gt 0 ]; then
  exec "$bin/zandor" update "$@"
fi

workdir=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$workdir"
}
trap cleanup EXIT

start_sim() {  # start_sim NAME ARGS...: starts zandor-sim, prints its address line
  local name=$1
  shift
  "$bin/zandor-sim" "$@" >"$workdir/$name.out" 2>"$workdir/$name.err" &
  pids+=($!)
  for _ in $(seq 100); do
    [ -s "$workdir/$name.out" ] && break
    sleep 0.05
  done
  head -n 1 "$workdir/$name.out"
}

echo "== the firmware file"
"$bin/zandor" info samples/multi-unit.hex
"$bin/zandor" test samples/multi-unit.hex

echo
echo "== a simulated three-unit device on loopback TCP"
address=$(start_sim tcp --tcp 127.0.0.1:0 \
  --unit "G4 ,A1,100,0,B07" --unit "G4 ,B2,100,1" --unit "G6 ,A1,100,2")
echo "zandor-sim: $address"
"$bin/zandor" update samples/multi-unit.hex "tcp:${address#tcp }"

echo
echo "== a simulated device on loopback TCP, enciphered"
key=00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF
address=$(start_sim key --tcp 127.0.0.1:0 --key "$key" --unit "G4 ,A1,100,0")
echo "zandor-sim: $address (key $key)"
"$bin/zandor" update samples/multi-unit.hex "tcp:${address#tcp }:$key"

echo
echo "== a simulated single-unit device on a pseudo-terminal (38400 baud line)"
pty=$(start_sim pty --pty --single-unit --unit "G3 ,AB,100" --baud 38400)
echo "zandor-sim: $pty"
"$bin/zandor" update samples/single-64k.hex "serial:${pty#pty }"
