#!/usr/bin/env bash
# Starts the monitor headless on a fresh demo folder for a few seconds and
# fails if it does not come up, dies, or logs an error. Uses the programs of a
# build folder that has the tools (default: the test build).
# Usage: demo-smoke.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=$(cd "${1:-build/test}" && pwd)
SECONDS_UP=${2:-8}

source scripts/demo-lib.sh
unset DISPLAY

DEMO_DIR=$DEMO_TMP/demo
demo_folder "$BUILD_DIR" "$DEMO_DIR"
demo_display
demo_board "$BUILD_DIR" "$DEMO_DIR"

cd "$DEMO_DIR"
ASAN_OPTIONS=detect_leaks=0 "$BUILD_DIR/app/korvane" >"$DEMO_TMP/korvane.out" 2>&1 &
KORVANE_PID=$!
DEMO_PIDS+=($KORVANE_PID)

fail() {
  echo "demo smoke test: $*" >&2
  tail -n 40 "$DEMO_TMP/korvane.out" >&2 || true
  exit 1
}

# The start-up question of the simulated cameras, answered on the display.
demo_answer_startup "$KORVANE_PID" "$DEMO_DIR/velqa/workspace" || fail "the monitor ended at start-up"

# Up means: still running after the given time, with the main window on the
# display at the panel's size.
sleep "$SECONDS_UP"
kill -0 "$KORVANE_PID" 2>/dev/null || fail "the monitor ended within ${SECONDS_UP} s"
main_window=$(demo_windows 1920x1080 | head -n1)
[ -n "$main_window" ] || fail "no main window of 1920 x 1080 on the display"
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

LOG_DIR=$DEMO_DIR/velqa/workspace/LOG
errors=$(find "$LOG_DIR" \( -name 'ERROR_*' -o -name 'FATAL_*' \) -size +0c)
if [ -n "$errors" ]; then
  for f in $errors; do echo "== $f" >&2; tail -n 20 "$f" >&2; done
  fail "errors were logged"
fi
if grep -q 'ERROR: AddressSanitizer\|runtime error:' "$DEMO_TMP/korvane.out"; then
  fail "the sanitizers reported a fault"
fi
echo "demo smoke test: the monitor came up on $DISPLAY and ended cleanly"
