#!/usr/bin/env bash
# The desktop driven as a person drives it: real key presses and clicks through an X server
# (Xvfb, started here) with xdotool, against simulated devices. It edits the list with the Tab
# cycle and the keyboard, deletes, copies and pastes rows from the context menu and with the
# keys, saves after another program added a row, updates two rows at once while a row is
# unticked and another ticked, cancels an update, saves the walk's report, records a session,
# turns the wheel over the COM port mapping and saves a list with a cut row. Results are read
# from files: the list (through `zandor devices list` and its bytes), the desktop's log (--log),
# the session record, the COM port mapping file, the simulators' records and a listener that
# notes any connection.
#   scripts/real-input-test.sh [BIN_DIR]        (default build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(cd "${1:-build/bin}" && pwd)
if [ "${ZANDOR_REAL_INPUT_X:-}" != 1 ]; then
  exec env ZANDOR_REAL_INPUT_X=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$bin"
fi

# shellcheck source=scripts/sim-lib.sh
source scripts/sim-lib.sh
readonly wait_s=30

fail() {
  echo "real-input: FAILED: $*" >&2
  [ -f "$log" ] && tail -n 30 "$log" >&2
  exit 1
}
# until SECONDS CONDITION...: polls the condition every 0.1 s; fails after SECONDS.
until_true() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 10))); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  fail "waited ${limit}s for: $*"
}
logged() { grep -qF -- "$1" "$log"; }
count_logged() { grep -cF -- "$1" "$log" || true; }
at() { grep "^$1 " "$geometry" | sed -n 1p | cut -d' ' -f"$(($(wc -w <<<"$1") + 1))"-; }
click() {  # click WHAT [BUTTON]
  local xy
  xy=$(at "$1")
  [ -n "$xy" ] || fail "no place for $1"
  # shellcheck disable=SC2086
  xdotool mousemove --window "$window" $xy click "${2:-1}"
  sleep 0.2
}
keys() { xdotool windowfocus --sync "$window" key --delay 30 "$@"; }
typed() { xdotool windowfocus --sync "$window" type --delay 20 "$1"; }
list_json() { "$bin/zandor" devices --list "$desk/KestaLST.txt" list --json --show-keys; }
# row_field ROW FIELD: a field of a row of the saved list, counted from 0.
row_field() { list_json | python3 -c "import json,sys; print(json.load(sys.stdin)[$1]['$2'])"; }
# row_named NAME: the place of the first saved row with that name.
row_named() {
  list_json | python3 -c "import json,sys; print([d['name'] for d in json.load(sys.stdin)].index('$1'))"
}
# untick_to_mark ROW: the row's check box clicked twice, leaving it unticked: the paste target.
untick_to_mark() {
  click "cell $1 0"
  sleep 0.5  # not a double click
  click "cell $1 0"
}
save_list() {  # Save, and wait until the file holds TEXT
  click "control 1120"
  until_true "$wait_s" bash -c "'$bin/zandor' devices list | grep -qF -- '$1'"
}
# The box the walk's end shows: a second window of the program, answered with Return.
answer_box() {
  local box
  for _ in $(seq 50); do
    box=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -vx "$window" | sed -n 1p || true)
    [ -n "$box" ] && break
    sleep 0.1
  done
  [ -n "$box" ] || fail "no box appeared"
  xdotool windowfocus --sync "$box" key Return
  sleep 0.2
}

desk="$workdir/desk"
log="$workdir/desk.log"
geometry="$workdir/geometry"
mkdir -p "$desk" "$workdir/config/Kelmori Computer"
cp samples/multi-unit.hex "$desk/"
export XDG_CONFIG_HOME="$workdir/config" HOME="$workdir"
unset ZANDOR_COM_PORTS
printf '[General]\nrowsAtOnce=2\n' >"$workdir/config/Kelmori Computer/VelUpdate.conf"

start_sim hub1 --tcp 127.0.0.1:0 --unit "G4 ,A1,100,0" --programming-delay 150 \
  --record "$workdir/hub1.record"
hub1=${ready#tcp }
start_sim hub2 --tcp 127.0.0.1:0 --unit "G4 ,A1,100,0" --programming-delay 150 \
  --record "$workdir/hub2.record"
hub2=${ready#tcp }
start_sim hub4 --tcp 127.0.0.1:0 --unit "G4 ,A1,100,0" --record "$workdir/hub4.record"
hub4=${ready#tcp }
sims=("${pids[@]}")
# A device that must never be contacted: a listener that notes every connection.
python3 -c '
import socket, sys
s = socket.create_server(("127.0.0.1", 0))
print(s.getsockname()[1], flush=True)
while True:
    s.accept()
    open(sys.argv[1], "a").write("connected\n")
' "$workdir/watch.seen" >"$workdir/watch.port" &
pids+=($!)
until_true "$wait_s" test -s "$workdir/watch.port"
watch_port=$(cat "$workdir/watch.port")
cd "$desk"
"$bin/zandor" devices add --name Hub1 --address "${hub1%:*}" --port "${hub1##*:}" >/dev/null
"$bin/zandor" devices add --name Hub2 --address "${hub2%:*}" --port "${hub2##*:}" >/dev/null
"$bin/zandor" devices add --name Spare --address 10.0.0.9 --port 3000 >/dev/null
"$bin/zandor" devices add --name Old --address 10.0.0.8 --port 3000 >/dev/null
"$bin/zandor" devices add --name Watch --address 127.0.0.1 --port "$watch_port" >/dev/null
"$bin/zandor" devices add --name Hub4 --address "${hub4%:*}" --port "${hub4##*:}" >/dev/null
"$bin/zandor-gui-probe" "$desk" >"$geometry"
"$bin/zandorupdate" --log "$log" &
app=$!
pids+=("$app")
window=$(xdotool search --sync --onlyvisible --pid "$app" | sed -n 1p)
until_true "$wait_s" test -f "$log"
echo "real-input: the window is up"

# 1. The Tab cycle through row 2 with the keyboard: name, address, port (its text selected),
#    key (hexadecimal digits, dashes put in), back to the name; Escape ends the cycle.
click "cell 2 1"
keys ctrl+a
typed "Rack 9"
keys Tab Tab
typed "4009"
keys Tab
typed "00112233445566778899aabbccddeeff"
keys Tab Escape
# 2. The context menu's Delete takes the row under the cursor (Old), not the one last clicked.
click "cell 3 1" 3
keys Up Return
# 3. Another program adds a row; Save keeps it beside this window's edits.
"$bin/zandor" devices add --name Outside --address 10.0.0.7 --port 3001 >/dev/null
click "control 1120"
until_true "$wait_s" bash -c "'$bin/zandor' devices list | grep -q Outside && ! '$bin/zandor' devices list | grep -q Old"
rows=$(list_json)
for want in '"name":"Hub1"' '"name":"Hub2"' '"name":"Rack 9"' '"port":"4009"' \
  '"key":"00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF"' '"name":"Outside"'; do
  grep -qF -- "$want" <<<"$rows" || fail "the saved list lacks $want: $rows"
done
! grep -qF '"name":"Old"' <<<"$rows" || fail "the deleted row is still in the list: $rows"
echo "real-input: list edited, row deleted from the menu, saved beside another program's row"

# 3b. The menu's Copy and Paste act on the rows under the cursor, not on the row marked for
#     the paste (row 2, unticked by a click) nor on one selected; V pastes into the marked row.
outside=$(row_named Outside)
untick_to_mark 2
click "cell 0 1" 3
keys Down Return
click "cell $outside 1" 3
keys Down Down Return
save_list "${hub1##*:}"
[ "$(row_field "$outside" address):$(row_field "$outside" port)" = "$hub1" ] ||
  fail "the menu's Paste missed the row under the cursor: $(list_json)"
[ "$(row_field 2 name)" = "Rack 9" ] || fail "the menu's Paste wrote into the marked row: $(list_json)"
untick_to_mark 2
keys v
click "control 1120"
hub1_rows() { [ "$(list_json | grep -o '"name":"Hub1"' | wc -l)" = "$1" ]; }
until_true "$wait_s" hub1_rows 3
[ "$(row_field 2 port)" = "${hub1##*:}" ] || fail "V did not paste into the marked row: $(list_json)"
echo "real-input: Copy and Paste from the menu on the rows under the cursor, V into the marked row"

# 4. Ctrl+O, the file typed into the dialog; two rows ticked and updated at once.
keys ctrl+o
dialog=$(xdotool search --sync --onlyvisible --name '^Open$' | sed -n 1p)
xdotool windowfocus --sync "$dialog" type --delay 20 "$desk/multi-unit.hex"
xdotool windowfocus --sync "$dialog" key Return
until_true "$wait_s" logged "Loading Hex File..."
#    Watch is ticked too, and unticked once the walk runs; Hub4, ticked then, is walked.
watch=$(row_named Watch)
hub4_row=$(row_named Hub4)
click "cell 0 0"
click "cell 1 0"
click "cell $watch 0"
click "control 1034"
until_true "$wait_s" logged "Hub1 ($hub1): Sending"
click "cell $watch 0"
click "cell $hub4_row 0"
until_true 60 bash -c "grep -qF 'Hub1 ($hub1): Device Update Successful' '$log' && grep -qF 'Hub2 ($hub2): Device Update Successful' '$log' && grep -qF 'Hub4 ($hub4): Device Update Successful' '$log'"
answer_box
click "cell $hub4_row 0"
[ ! -e "$workdir/watch.seen" ] || fail "the row unticked during the walk was contacted"
! logged "Watch (" || fail "the row unticked during the walk was walked: $(grep -F 'Watch (' "$log")"
# Each row's progress is its own, and both went on at the same time: each row's block lines
# begin before the other's end.
line_of() {  # line_of first|last TEXT: the number of the first or last log line holding TEXT
  awk -v text="$2" -v which="$1" 'index($0, text) { n = NR; if (which == "first") exit } END { print n }' "$log"
}
first1=$(line_of first "Hub1 ($hub1): Sending")
last1=$(line_of last "Hub1 ($hub1): Sending")
first2=$(line_of first "Hub2 ($hub2): Sending")
last2=$(line_of last "Hub2 ($hub2): Sending")
[ -n "$first1" ] && [ -n "$first2" ] || fail "no progress lines of each row"
[ "$first2" -lt "$last1" ] && [ "$first1" -lt "$last2" ] || fail "the rows did not run side by side"
echo "real-input: two rows updated at once, each with its own progress"

# 5. Hub1 alone, stopped with Escape in the middle.
click "cell 1 0"
sent=$(count_logged "Sending Hex File")
click "control 1034"
until_true "$wait_s" bash -c "[ \$(grep -cF 'Sending Hex File' '$log') -gt $sent ]"
keys Escape
until_true "$wait_s" logged "Hub1 ($hub1): Cancelled at the operator's request"
echo "real-input: the update was cancelled"

# 6. The context menu's Save Report..., its name typed into the dialog: the last walk's report
#    as CSV, the cancelled row marked.
click "background" 3
keys Up Up Up Return
dialog=$(xdotool search --sync --onlyvisible --name '^Save Report$' | sed -n 1p)
xdotool windowfocus --sync "$dialog" type --delay 20 "$desk/walk.csv"
xdotool windowfocus --sync "$dialog" key Return
until_true "$wait_s" test -s "$desk/walk.csv"
answer_box  # "The report was saved to ..."
logged "The report was saved to $desk/walk.csv." || fail "Save Report did not say where it wrote"
head -n 1 "$desk/walk.csv" | grep -q '^row,' || fail "the report is not CSV: $(head -n 2 "$desk/walk.csv")"
grep -q ',Hub1,.*,cancelled,' "$desk/walk.csv" || fail "the report lacks the cancelled row: $(cat "$desk/walk.csv")"
echo "real-input: the walk's report was saved from the context menu"

# 7. "Record sessions in:" with its folder typed: a missing folder is refused with a box and
#    starts nothing; an existing one receives the row's session record, which the simulator's
#    replay accepts.
walks=$(count_logged "Hub1 ($hub1): Device Update Successful")
click "control 1152"
keys ctrl+a
typed "$desk/records"
click "control 1151"
click "control 1034"
answer_box
[ ! -e "$desk/records" ] || fail "a refused folder was made"
[ "$(count_logged "Hub1 ($hub1): Device Update Successful")" = "$walks" ] ||
  fail "a walk started with a refused folder"
mkdir "$desk/records"
click "control 1034"
until_true 60 bash -c "[ \$(grep -cF 'Hub1 ($hub1): Device Update Successful' '$log') -gt $walks ]"
answer_box
record="$desk/records/row-1.session"
[ -s "$record" ] || fail "no session record: $(ls "$desk/records")"
grep -q '^status 62504 Device Update Successful$' "$record" || fail "the record's ending: $(sed -n 6p "$record")"
start_sim replay --replay "$record" --tcp 127.0.0.1:0
echo "real-input: the session was recorded and its replay accepted"

# 8. The wheel over the COM Ports window's mapping (opened from the context menu) scrolls the
#    list and changes no port under the pointer: OK leaves the mapping file as it was.
mapping="$XDG_CONFIG_HOME/zandor/com-ports"
mkdir -p "$(dirname "$mapping")"
printf '# the bench by the door\nCOM3=/dev/ttyUSB3\nCOM4=/dev/ttyUSB4\n' >"$mapping"
cp "$mapping" "$workdir/com-ports.before"
click "background" 3
keys Up Up Up Up Return  # About, Retry Failed, Save Report, then COM Ports
until_true "$wait_s" bash -c "xdotool search --onlyvisible --name '^COM Ports\$' >/dev/null"
comports=$(xdotool search --onlyvisible --name '^COM Ports$' | sed -n 1p)
for place in "box 3" "arrow 4"; do
  # shellcheck disable=SC2046
  xdotool mousemove --window "$comports" $(at "com-ports $place") click --repeat 3 --delay 80 5 \
    click --repeat 3 --delay 80 4
  sleep 0.2
done
# shellcheck disable=SC2046
xdotool mousemove --window "$comports" $(at "com-ports control 1") click 1
until_true "$wait_s" bash -c "! xdotool search --onlyvisible --name '^COM Ports\$' >/dev/null"
cmp -s "$workdir/com-ports.before" "$mapping" ||
  fail "the wheel changed the COM port mapping: $(tr '\n' ' ' <"$mapping")"
if ! compgen -G '/dev/ttyS[0-9]*' >/dev/null && ! compgen -G '/dev/ttyUSB*' >/dev/null &&
  ! compgen -G '/dev/ttyACM*' >/dev/null; then
  echo "real-input: (no serial device here: each mapping box offers one entry)"
fi
echo "real-input: the wheel scrolled the COM port mapping and changed no port"

# The simulators hold what each row sent: two whole updates (the cancelled one ran no unit).
kill -INT "${sims[@]}"
for sim in "${sims[@]}"; do wait "$sim" || fail "a simulator saw a protocol violation"; done
for record in "$workdir/hub1.record" "$workdir/hub2.record" "$workdir/hub4.record"; do
  grep -q . "$record" || fail "nothing was programmed into $(basename "$record" .record)"
done
[ ! -e "$workdir/watch.seen" ] || fail "the unticked row's device was contacted"
echo "real-input: the row unticked during a walk saw no connection; the row ticked was updated"

# 9. A list whose last row is cut: the desktop says so once, Save leaves the file's bytes as
#    they were; once the row is deleted from the menu, Save writes the rest.
kill "$app"
wait "$app" 2>/dev/null || true
cut="$workdir/cut"
mkdir "$cut"
python3 -c '
import sys
row = "A!127.0.0.1!41003!<Default No Encryption>!CutSer!<Default Serial>"
open(sys.argv[1], "wb").write(bytes(ord(c) + 4 for c in row))' "$cut/KestaLST.txt"
cp "$cut/KestaLST.txt" "$workdir/cut.before"
log="$workdir/cut.log"
cd "$cut"
"$bin/zandorupdate" --log "$log" &
app=$!
pids+=("$app")
window=$(xdotool search --sync --onlyvisible --pid "$app" | sed -n 1p)
answer_box
logged "rows that were not read whole" || fail "the cut row was not told"
click "control 1120"
answer_box
cmp -s "$cut/KestaLST.txt" "$workdir/cut.before" || fail "Save changed a list with a cut row"
click "cell 1 1" 3
keys Up Return
click "control 1120"
until_true "$wait_s" bash -c "! cmp -s '$cut/KestaLST.txt' '$workdir/cut.before'"
names=$("$bin/zandor" devices list --json | python3 -c "import json,sys; print([d['name'] for d in json.load(sys.stdin)])")
[ "$names" = "['A']" ] || fail "after the cut row was deleted the list holds $names"
! grep -q CutSer <(python3 -c "import sys; print(bytes(b - 4 for b in open(sys.argv[1], 'rb').read()))" "$cut/KestaLST.txt") ||
  fail "the cut row was written"
echo "real-input: a cut row was told, never saved, and deleted"
echo "real-input: 1 passed, 0 failed"
