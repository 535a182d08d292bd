#!/usr/bin/env bash
# Which share of each source file's edges a target's corpus reaches: runs the kept corpus
# (fuzz-work/<target>/) and the seeds once, without fuzzing, and sums libFuzzer's per-function
# coverage by file.
#   scripts/fuzz-coverage.sh TARGET [FILE-PATTERN]     e.g. DeviceReplyFuzz 'engine/'
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-lib.sh
target=$1
pattern=${2:-velcore/|cli/}
work=${FUZZ_WORK:-fuzz-work}
mkdir -p "$work/$target"
"$FUZZ_BUILD/bin/$target" -runs=0 -max_len=1048576 -print_coverage=1 "$work/$target" \
  "$(fuzz_seeds "$target")" 2>&1 >/dev/null |
  grep -E '^(UN)?COVERED_FUNC' | grep -E "$pattern" |
  sed -E 's/.*edges: ([0-9]+)\/([0-9]+) .* ([^ ]+):[0-9]+$/\3 \1 \2/' |
  awk '{ sub(".*/work/[^/]+/", "", $1); hit[$1] += $2; all[$1] += $3 }
       END { for (f in all) printf "%-45s %5d of %5d edges (%3.0f %%)\n", f, hit[f], all[f],
                                   100 * hit[f] / all[f] }' | sort
