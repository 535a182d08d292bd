#!/usr/bin/env bash
# Runs every fuzz target for longer than the test command does, two at a time, each growing a
# corpus kept between runs in $FUZZ_WORK/<target>/ (default fuzz-work/; started from the seeds in
# fuzz/corpus/). FUZZ_JOBS targets run at once (default 2).
#   scripts/fuzz.sh [SECONDS] [TARGET...]      (default 600 s, every target)
# A finding's input lands in $FUZZ_WORK/findings/<target>/; copy it into
# fuzz/regressions/<corpus name>/ and the test suite runs it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-lib.sh
seconds=${1:-600}
shift || true
jobs=${FUZZ_JOBS:-2}
work=${FUZZ_WORK:-fuzz-work}

fuzz_build
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$FUZZ_BUILD"/bin/*Fuzz; do targets+=("$(basename "$t")"); done
fi

summary=$work/summary.txt
mkdir -p "$work"
: >"$summary"
run_one() {
  local name=$1
  fuzz_run "$FUZZ_BUILD/bin/$name" "$seconds" "$work/$name" "$work/$name.log" \
    "$work/findings/$name" >>"$summary" || echo "$name: FAILED" >>"$summary"
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
