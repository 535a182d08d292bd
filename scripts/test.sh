#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the plain build, the same suite under
# AddressSanitizer + UBSan and under ThreadSanitizer, and a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
FUZZ_SECONDS=${FUZZ_SECONDS:-20}

bash scripts/setup.sh

summary=$(mktemp)
trap 'rm -f "$summary"' EXIT

run_suite() {  # run_suite NAME DIR [cmake options...]
  local name=$1 dir=$2
  shift 2
  echo "== $name: build"
  bash scripts/build.sh "$dir" "$@"
  echo "== $name: tests"
  local log
  log=$(mktemp)
  if ctest --test-dir "$dir" --output-on-failure -j2 | tee "$log"; then :; else
    rm -f "$log"
    echo "$name: tests failed"
    exit 1
  fi
  grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | sed "s/^/$name: /" >>"$summary"
  rm -f "$log"
}

run_suite plain build
echo "== real input: the desktop under Xvfb with xdotool"
real_log=$(mktemp)
if bash scripts/real-input-test.sh build/bin | tee "$real_log"; then :; else
  rm -f "$real_log"
  echo "real input: failed"
  exit 1
fi
grep -E '^real-input: [0-9]+ passed' "$real_log" >>"$summary"
rm -f "$real_log"
run_suite asan+ubsan build-asan -DZANDOR_SANITIZE=address -DZANDOR_BENCH=OFF
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  run_suite tsan build-tsan -DZANDOR_SANITIZE=thread -DZANDOR_BENCH=OFF

echo "== fuzz: build"
source scripts/fuzz-lib.sh
fuzz_build
fuzz_failed=0
for target in "$FUZZ_BUILD"/bin/*Fuzz; do
  work=$(mktemp -d)
  echo "== fuzz: $(basename "$target") for ${FUZZ_SECONDS}s"
  fuzz_run "$target" "$FUZZ_SECONDS" "$work/corpus" "$work/log" \
    "fuzz-work/findings/$(basename "$target")" | tee -a "$summary" || fuzz_failed=1
  rm -rf "$work"
done

echo
echo "== summary"
cat "$summary"
[ "$fuzz_failed" -eq 0 ] || exit 1
passed=$(grep -oE 'out of [0-9]+|^real-input: [0-9]+' "$summary" | awk '{s+=$NF} END {print s+0}')
echo "$passed passed, 0 failed"
