# Shared by scripts/test.sh and scripts/fuzz.sh: building the fuzz targets and running one.
FUZZ_BUILD=build-fuzz

fuzz_build() {
  bash scripts/build.sh "$FUZZ_BUILD" -DCMAKE_CXX_COMPILER=clang++ -DZANDOR_FUZZ=ON \
    -DZANDOR_SANITIZE=address -DZANDOR_TESTS=OFF -DZANDOR_BENCH=OFF -DZANDOR_DESKTOP=OFF
}

# The seed folder of a target: DeviceReplyFuzz -> fuzz/corpus/device-reply.
fuzz_seeds() {
  echo "fuzz/corpus/$(echo "${1%Fuzz}" | sed -E 's/([a-z])([A-Z])/\1-\2/g' | tr 'A-Z' 'a-z')"
}

# fuzz_run TARGET SECONDS CORPUS LOG [FINDINGS]: runs the target for SECONDS, growing CORPUS from
# its seeds; a crash, a leak or an input that runs longer than 10 s is a failure, written to
# FINDINGS (default: the corpus folder). Prints "cov: N ft: N ..." of the last status line.
fuzz_run() {
  local target=$1 seconds=$2 corpus=$3 log=$4 findings=${5:-$3}
  local name seeds options=()
  name=$(basename "$target")
  seeds=$(fuzz_seeds "$name")
  mkdir -p "$corpus" "$findings"
  # A dictionary of the format's words, where the target has one.
  [ -f "fuzz/dict/$(basename "$seeds").dict" ] && options+=(-dict="fuzz/dict/$(basename "$seeds").dict")
  if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
      "${options[@]}" -artifact_prefix="$findings/" "$corpus" "$seeds" >"$log" 2>&1; then
    echo "$name: clean, $(fuzz_figures "$log")"
  else
    tail -n 40 "$log" >&2
    echo "$name: FAILED (input in $findings)"
    return 1
  fi
}

# The coverage points, features, corpus and runs of a finished run's log.
fuzz_figures() {
  local done runs
  done=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$1" | tail -n 1)
  runs=$(echo "$done" | sed -E 's/^#([0-9]+).*/\1/')
  echo "$done" | sed -E 's/.*(cov: [0-9]+ ft: [0-9]+ corp: [0-9]+\/[0-9]+[a-zA-Z]*).*/\1/' |
    tr -d '\n'
  echo ", $runs runs"
}
