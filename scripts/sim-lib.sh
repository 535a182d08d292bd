# Shared by the demo scripts: simulators started in the calling shell and stopped with it.
# The caller sets $bin (the folder of the programs) before sourcing this file.
workdir=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# start_sim NAME ARGS...: starts zandor-sim in this shell (so its process id is kept) and sets
# $ready to the line it prints once it serves ("tcp HOST:PORT" or "pty PATH").
start_sim() {
  local name=$1
  shift
  "$bin/zandor-sim" "$@" >"$workdir/$name.out" 2>"$workdir/$name.err" &
  pids+=($!)
  for _ in $(seq 200); do
    [ -s "$workdir/$name.out" ] && break
    sleep 0.05
  done
  ready=$(head -n 1 "$workdir/$name.out")
  [ -n "$ready" ] || { echo "zandor-sim did not start: $(cat "$workdir/$name.err")" >&2; exit 1; }
}
