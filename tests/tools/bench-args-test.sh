#!/usr/bin/env bash
# Every benchmark refuses a command line it does not understand, and says why, instead of
# measuring something other than what was asked and reporting PASS: bench-args-test.sh BIN_DIR
set -u
bin=$1
status=0
refused() {  # refused PROGRAM ARGS...: exit code 2 and a reason on standard error
  [ -x "$bin/$1" ] || return 0
  local err code
  err=$(timeout 20 "$bin/$1" "${@:2}" 2>&1 >/dev/null)
  code=$?
  if [ "$code" -ne 2 ] || [ -z "$err" ]; then
    echo "FAIL: $* exited $code: $err"
    status=1
  fi
}
refused bench_parallel --help
refused bench_parallel --devices 0
refused bench_parallel --devices
refused bench_parallel --devices 8 --frobnicate
refused bench_parallel 8
refused bench_big_file --mib 0
refused bench_big_file --rows 1
for program in bench_image bench_link bench_devicelist bench_soak bench_update bench_cancel bench_big_file \
  bench_views bench_desktop; do
  refused "$program" --help
done
refused bench_image 0
refused bench_desktop --rows 1
refused bench_desktop --rows 257
refused bench_desktop --rows
refused bench_soak 5 samples 9
exit $status
