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
run_suite asan+ubsan build-asan -DZANDOR_SANITIZE=address -DZANDOR_BENCH=OFF
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  run_suite tsan build-tsan -DZANDOR_SANITIZE=thread -DZANDOR_BENCH=OFF

echo "== fuzz: build"
bash scripts/build.sh build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DZANDOR_FUZZ=ON \
  -DZANDOR_SANITIZE=address -DZANDOR_TESTS=OFF -DZANDOR_BENCH=OFF -DZANDOR_DESKTOP=OFF
fuzz_failed=0
for target in build-fuzz/bin/*Fuzz; do
  name=$(basename "$target")
  seeds=fuzz/corpus/$(echo "${name%Fuzz}" | sed -E 's/([a-z])([A-Z])/\1-\2/g' | tr 'A-Z' 'a-z')
  work=$(mktemp -d)
  echo "== fuzz: $name for ${FUZZ_SECONDS}s (seeds $seeds)"
  if "$target" -max_total_time="$FUZZ_SECONDS" -max_len=8192 -print_final_stats=0 "$work" "$seeds" \
      >"$work.log" 2>&1; then
    echo "$name: clean ($(grep -o 'Done [0-9]* runs' "$work.log" || true))" | tee -a "$summary"
  else
    tail -n 40 "$work.log"
    echo "$name: FAILED" | tee -a "$summary"
    fuzz_failed=1
  fi
  rm -rf "$work" "$work.log"
done

echo
echo "== summary"
cat "$summary"
[ "$fuzz_failed" -eq 0 ] || exit 1
passed=$(grep -oE 'out of [0-9]+' "$summary" | awk '{s+=$3} END {print s+0}')
echo "$passed passed, 0 failed"
