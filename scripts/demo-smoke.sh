#!/usr/bin/env bash
# Runs the demo headless on a fresh demo folder at a quick pace and checks it
# from outside, as a newcomer would see it: moulding cycles counted in
# "count.txt"; a part left in a cavity that raises an alarm (its row in the
# operation log, the board sees the clamp withheld) which the safety door
# lifts; a second one that the operator lifts on the screen ("不检测此模",
# touched on the virtual display), whose row in the operation log follows
# the alarm's; the infrared camera online as camera 3 and its temperatures
# recorded for the temperature chart; a Modbus read answered; no error
# logged; and a clean end on SIGTERM. Uses the programs of a build folder
# that has the tools (default: the test build).
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
demo_cameras "$DEMO_DIR" on
demo_display
# A cycle every 2 s, a part left in the third cycle (and every third after),
# taken out 1 s after the machine stopped; the first part's alarm is lifted by
# closing the safety door, the second's on the screen with the door open.
demo_board "$BUILD_DIR" "$DEMO_DIR" -c 2000 -n 3 -w 1000 -o 2

cd "$DEMO_DIR"
ASAN_OPTIONS=detect_leaks=0 "$BUILD_DIR/app/korvane" >"$DEMO_TMP/korvane.out" 2>&1 &
KORVANE_PID=$!
DEMO_PIDS+=($KORVANE_PID)
started=$(date +%s)
LOG_DIR=$DEMO_DIR/velqa/workspace/LOG

fail() {
  echo "demo smoke test: $*" >&2
  echo "== the board and the machine" >&2
  tail -n 30 "$DEMO_DIR/boardsim.log" >&2 || true
  echo "== the operation log" >&2
  sqlite3 RECORD.db "SELECT * FROM RECORD" >&2 || true
  echo "== the monitor" >&2
  tail -n 40 "$DEMO_TMP/korvane.out" >&2 || true
  exit 1
}

demo_answer_startup "$KORVANE_PID" "$LOG_DIR" || fail "the monitor ended at start-up"
main_window=$(demo_windows 1920x1080 | head -n1)
[ -n "$main_window" ] || fail "no main window of 1920 x 1080 on the display"

record() { sqlite3 RECORD.db "$1" 2>/dev/null || echo 0; }
# Inspected cycles overall: the 17th number of "count.txt".
cycles() { awk '{ print $17 + 0 }' count.txt 2>/dev/null || echo 0; }
# Operation log rows of an alarm (the cameras' alarm line, in Chinese or
# English).
ALARM_ROW="(remarks LIKE '%报警' OR remarks LIKE '%Alarm')"
alarms() { record "SELECT count(*) FROM RECORD WHERE $ALARM_ROW"; }
# The row of the operator's command that lifted an alarm on the screen, after
# an alarm's row: "不检测此模" for all cameras or for one.
LIFT_ROW="(remarks IN ('所有相机都不检测本模', 'All cameras do not detect this mold')
  OR remarks LIKE '%号相机不检测本模' OR remarks LIKE 'Camera % do not detect the mold')"
liftings() {
  record "SELECT count(*) FROM RECORD l WHERE $LIFT_ROW
    AND EXISTS (SELECT 1 FROM RECORD a WHERE a.rowid < l.rowid AND $ALARM_ROW)"
}
# The board's account: the clamp withheld with the alarm on, and a later
# cycle after the operator closed the door.
board_saw_alarm() { grep -q 'clamp WITHHELD, .*ALARM on' boardsim.log; }
board_saw_clearing() {
  awk '/operator: closes the safety door/ { door = 1 } door && /mould closes/ { ok = 1 } END { exit !ok }' boardsim.log
}
# The board's account of the alarm lifted on the screen: the clamp granted
# while the door was still open.
board_saw_screen_lift() {
  awk '/lifts the alarm on the monitor.s screen/ { open = 1 } open && /monitor: clamp allowed/ { ok = 1 }
       /closes the safety door/ { open = 0 } END { exit !ok }' boardsim.log
}
# The infrared camera, camera 3: its temperature area's results, recorded
# for the temperature chart, and passing (its temperature within the area's
# limits).
temperatures() {
  sqlite3 ResStatistics.db "SELECT count(*) FROM res_report WHERE idx_camera = 2 AND result = 1" 2>/dev/null || echo 0
}

# The operator lifts the alarm on the screen, the safety door open: the
# area panel's "不检测此模" (the column beside the tiles, all cameras shown),
# and OK to its question.
screen_lifts=0
questions() { grep -rhao 'operator question: ' "$LOG_DIR" 2>/dev/null | wc -l || true; }
lift_on_screen() {
  local asked
  asked=$(questions)
  echo "demo smoke test: the operator touches \"不检测此模\" on the screen"
  xdotool mousemove 1870 258 click 1
  for _ in $(seq 1 50); do
    [ "$(questions)" -gt "$asked" ] \
      && [ -n "$(demo_windows 600x420)" ] && break
    sleep 0.2
  done
  [ -n "$(demo_windows 600x420)" ] || fail "no question after the touch on \"不检测此模\""
  demo_answer_box "$KORVANE_PID" "$LOG_DIR" ok || fail "the monitor ended"
}

done_all=""
while [ $(($(date +%s) - started)) -lt "$LIMIT" ]; do
  kill -0 "$KORVANE_PID" 2>/dev/null || fail "the monitor ended"
  waiting=$(grep -c "lifts the alarm on the monitor's screen" boardsim.log || true)
  if [ "$waiting" -gt "$screen_lifts" ]; then
    screen_lifts=$waiting
    lift_on_screen
  fi
  if [ "$(cycles)" -ge 6 ] && [ "$(alarms)" -ge 2 ] && [ "$(liftings)" -ge 1 ] && board_saw_alarm \
     && board_saw_clearing && board_saw_screen_lift && [ "$(temperatures)" -ge 3 ]; then
    done_all=1
    break
  fi
  sleep 1
done
if [ -z "$done_all" ]; then
  fail "within ${LIMIT} s: $(cycles) cycles counted (6 wanted), $(alarms) alarm rows in RECORD.db (2 wanted)," \
    "$(liftings) rows of an alarm lifted on the screen after one (1 wanted)," \
    "alarm seen by the board: $(board_saw_alarm && echo yes || echo no)," \
    "lifted by the door: $(board_saw_clearing && echo yes || echo no)," \
    "lifted on the screen: $(board_saw_screen_lift && echo yes || echo no)," \
    "$(temperatures) temperatures of camera 3 recorded (3 wanted)"
fi
# Camera 3 is the infrared camera, online from the start: the monitor found
# three cameras, and none was lost.
grep -rqa 'Camera 3: hikircamera_IID IR0000001' "$LOG_DIR" || fail "camera 3 is not the infrared camera"
[ "$(record "SELECT count(*) FROM RECORD WHERE remarks IN ('程序启动，相机数3', 'The system is ready, there is 3 cameras')")" -ge 1 ] \
  || fail "the monitor did not start with three cameras"
[ "$(record "SELECT count(*) FROM RECORD WHERE remarks LIKE '%丢失相机%' OR remarks LIKE '%Camera Lost%'")" -eq 0 ] \
  || fail "a camera was lost"
echo "demo smoke test: $(cycles) cycles counted, $(alarms) alarm rows, the first alarm lifted by the safety door," \
  "the second on the screen: \"$(record "SELECT remarks FROM RECORD WHERE $LIFT_ROW LIMIT 1")\";" \
  "$(temperatures) temperatures of the infrared camera recorded, the last" \
  "$(sqlite3 ResStatistics.db "SELECT roi_detail FROM res_report WHERE idx_camera = 2 ORDER BY idx DESC LIMIT 1");" \
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
grep -rqa 'program exit, code 143' "$LOG_DIR" || fail "the monitor did not pass its quit hooks"

errors=$(find "$LOG_DIR" \( -name 'ERROR_*' -o -name 'FATAL_*' \) -size +0c)
if [ -n "$errors" ]; then
  for f in $errors; do echo "== $f" >&2; tail -n 20 "$f" >&2; done
  fail "errors were logged"
fi
if grep -q 'ERROR: AddressSanitizer\|runtime error:' "$DEMO_TMP/korvane.out"; then
  fail "the sanitizers reported a fault"
fi
echo "demo smoke test: the demo ran on $DISPLAY and the monitor ended cleanly after $(($(date +%s) - started)) s"
