#!/usr/bin/env bash
# Runs the demo headless on a fresh demo folder at a quick pace and checks it
# from outside, as a newcomer would see it: moulding cycles counted in
# "count.txt", an alarm written to the operation log and lifted again (the
# board saw the clamp withheld, then allowed), a Modbus read answered, no
# error logged, and a clean end on SIGTERM. Uses the programs of a build
# folder that has the tools (default: the test build).
# Usage: demo-smoke.sh [BUILD_DIR] [SECONDS]   (SECONDS: the longest wait, default 90)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=$(cd "${1:-build/test}" && pwd)
LIMIT=${2:-90}

source scripts/demo-lib.sh
unset DISPLAY

DEMO_DIR=$DEMO_TMP/demo
demo_folder "$BUILD_DIR" "$DEMO_DIR"
demo_display
# A cycle every 2 s, a part left in the third cycle (and every third after),
# taken out 1 s after the machine stopped.
demo_board "$BUILD_DIR" "$DEMO_DIR" -c 2000 -n 3 -w 1000

cd "$DEMO_DIR"
ASAN_OPTIONS=detect_leaks=0 "$BUILD_DIR/app/korvane" >"$DEMO_TMP/korvane.out" 2>&1 &
KORVANE_PID=$!
DEMO_PIDS+=($KORVANE_PID)
started=$(date +%s)

fail() {
  echo "demo smoke test: $*" >&2
  echo "== the board and the machine" >&2
  tail -n 30 "$DEMO_DIR/boardsim.log" >&2 || true
  echo "== the monitor" >&2
  tail -n 40 "$DEMO_TMP/korvane.out" >&2 || true
  exit 1
}

demo_answer_startup "$KORVANE_PID" "$DEMO_DIR/velqa/workspace" || fail "the monitor ended at start-up"
main_window=$(demo_windows 1920x1080 | head -n1)
[ -n "$main_window" ] || fail "no main window of 1920 x 1080 on the display"

# Inspected cycles overall: the 17th number of "count.txt".
cycles() { awk '{ print $17 + 0 }' count.txt 2>/dev/null || echo 0; }
# Operation log lines of an alarm (the camera's alarm line, in any language).
alarms() {
  sqlite3 RECORD.db "SELECT count(*) FROM RECORD WHERE remarks LIKE '%报警%' OR remarks LIKE '%Alarm%'" 2>/dev/null || echo 0
}
# The board's account: the clamp withheld with the alarm on, and a later
# cycle after the operator closed the door.
board_saw_alarm() { grep -q 'clamp WITHHELD, .*ALARM on' boardsim.log; }
board_saw_clearing() {
  awk '/operator: closes the safety door/ { door = 1 } door && /mould closes/ { ok = 1 } END { exit !ok }' boardsim.log
}

done_all=""
while [ $(($(date +%s) - started)) -lt "$LIMIT" ]; do
  kill -0 "$KORVANE_PID" 2>/dev/null || fail "the monitor ended"
  if [ "$(cycles)" -ge 4 ] && [ "$(alarms)" -ge 1 ] && board_saw_alarm && board_saw_clearing; then
    done_all=1
    break
  fi
  sleep 1
done
if [ -z "$done_all" ]; then
  fail "within ${LIMIT} s: $(cycles) cycles counted (4 wanted), $(alarms) alarm lines in RECORD.db," \
    "alarm seen by the board: $(board_saw_alarm && echo yes || echo no)," \
    "lifted by the door: $(board_saw_clearing && echo yes || echo no)"
fi
# The alarm was lifted: the monitor grants the clamp again after it and the
# cycles after it were counted too.
after_alarm=$(cycles)
echo "demo smoke test: $after_alarm cycles counted, $(alarms) alarm line(s), the alarm lifted by the safety door" \
  "after $(($(date +%s) - started)) s"

# The plant's view: the counters over Modbus TCP on 127.0.0.1.
if command -v mbpoll >/dev/null; then
  registers=$(timeout 10 mbpoll -m tcp -a 1 -0 -r 50 -c 2 -1 127.0.0.1 2>&1) || fail "no Modbus answer: $registers"
  echo "$registers" | grep -q '^\[50\]:' || fail "the Modbus answer has no register 50: $registers"
  echo "demo smoke test: Modbus registers 50, 51 read: $(echo "$registers" | grep '^\[5[01]\]:' | tr -s ' \n' ' ')"
else
  fail "mbpoll is missing (scripts/install-deps.sh installs it)"
fi

"$BUILD_DIR/tools/screenshot" "$DEMO_TMP/screen.png" || fail "no picture of the display"
if [ -n "${KORVANE_SMOKE_PICTURE:-}" ]; then
  cp "$DEMO_TMP/screen.png" "$KORVANE_SMOKE_PICTURE"
fi

# A termination request must end it cleanly.
kill -TERM "$KORVANE_PID"
for _ in $(seq 1 100); do
  kill -0 "$KORVANE_PID" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$KORVANE_PID" 2>/dev/null && fail "the monitor did not end within 10 s of SIGTERM"
# The program ends on a signal through its quit hooks with 128 + the signal.
wait "$KORVANE_PID" 2>/dev/null && status=0 || status=$?
[ "$status" -eq 143 ] || fail "the monitor ended with status $status on SIGTERM (143 wanted)"
grep -rqa 'program exit, code 143' "$DEMO_DIR/velqa/workspace/LOG" || fail "the monitor did not pass its quit hooks"

LOG_DIR=$DEMO_DIR/velqa/workspace/LOG
errors=$(find "$LOG_DIR" \( -name 'ERROR_*' -o -name 'FATAL_*' \) -size +0c)
if [ -n "$errors" ]; then
  for f in $errors; do echo "== $f" >&2; tail -n 20 "$f" >&2; done
  fail "errors were logged"
fi
if grep -q 'ERROR: AddressSanitizer\|runtime error:' "$DEMO_TMP/korvane.out"; then
  fail "the sanitizers reported a fault"
fi
echo "demo smoke test: the demo ran on $DISPLAY and the monitor ended cleanly after $(($(date +%s) - started)) s"
