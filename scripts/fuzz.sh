#!/usr/bin/env bash
# Runs every fuzz target for longer than the test command does, two at a time, each growing a
# corpus kept between runs in fuzz-work/<target>/ (started from the seeds in fuzz/corpus/).
#   scripts/fuzz.sh [SECONDS] [TARGET...]      (default 600 s, every target)
# A finding's input lands in fuzz-work/findings/<target>/; copy it into
# fuzz/regressions/<corpus name>/ and the test suite runs it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-lib.sh
seconds=${1:-600}
shift || true
jobs=${FUZZ_JOBS:-2}

fuzz_build
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$FUZZ_BUILD"/bin/*Fuzz; do targets+=("$(basename "$t")"); done
fi

summary=fuzz-work/summary.txt
mkdir -p fuzz-work
: >"$summary"
run_one() {
  local name=$1
  fuzz_run "$FUZZ_BUILD/bin/$name" "$seconds" "fuzz-work/$name" "fuzz-work/$name.log" \
    "fuzz-work/findings/$name" >>"$summary" || echo "$name: FAILED" >>"$summary"
}
running=0
for name in "${targets[@]}"; do
  echo "== $name for ${seconds}s"
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait
echo
echo "== summary (${seconds}s each)"
sort "$summary"
! grep -q FAILED "$summary"
