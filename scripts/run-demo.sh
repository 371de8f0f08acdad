#!/usr/bin/env bash
# Installs what is missing, builds the optimised program and starts it on the
# demo working folder (created on first run), with a simulated moulding
# machine on its I/O board, two simulated mould cameras and a simulated
# infrared camera whose temperatures fill the temperature chart.
# Without a display it runs on a virtual one of the panel's size and says how
# to look at it.
# Usage: run-demo.sh [--period MS] [--part-every N] [--part-stays MS] [--no-thermal]
#   --period MS      one moulding cycle every MS milliseconds (default 4000)
#   --part-every N   a part stays in a cavity every N cycles (default 10, 0: never)
#   --part-stays MS  how long before the operator opens the door and takes it out (default 6000)
#   --no-thermal     without the infrared camera (the monitor then asks at start-up
#                    whether to clear the saved camera order; the demo answers no)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

PERIOD_MS=4000
PART_EVERY=10
PART_STAYS_MS=6000
THERMAL=on
while [ $# -gt 0 ]; do
  case "$1" in
    --period) PERIOD_MS=$2; shift 2 ;;
    --part-every) PART_EVERY=$2; shift 2 ;;
    --part-stays) PART_STAYS_MS=$2; shift 2 ;;
    --no-thermal) THERMAL=off; shift ;;
    *) echo "usage: run-demo.sh [--period MS] [--part-every N] [--part-stays MS] [--no-thermal]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh

BUILD_DIR=${KORVANE_BUILD_DIR:-build/release}
cmake -S . -B "$BUILD_DIR" -Wno-dev -DCMAKE_BUILD_TYPE=Release \
  -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_TOOLS=ON >/dev/null
cmake --build "$BUILD_DIR" -j"${KORVANE_JOBS:-$(nproc)}"
BUILD_DIR=$ROOT/$BUILD_DIR

source scripts/demo-lib.sh

DEMO_DIR=${KORVANE_DEMO_DIR:-$ROOT/demo}
demo_folder "$BUILD_DIR" "$DEMO_DIR"

had_display=${DISPLAY:-}
demo_display

demo_cameras "$DEMO_DIR" "$THERMAL"
# The moulding machine behind the board (tools/boardsim.cpp, option -c): its
# steps and the monitor's permissions are printed here as they happen.
demo_board "$BUILD_DIR" "$DEMO_DIR" -c "$PERIOD_MS" -n "$PART_EVERY" -w "$PART_STAYS_MS"
echo "A moulding cycle every $PERIOD_MS ms; every ${PART_EVERY}th cycle a part stays in a cavity,"
echo "the monitor alarms and withholds the clamp, and ${PART_STAYS_MS} ms later the operator opens"
echo "the safety door, takes the part out and closes the door, which lifts the alarm."
if [ "$THERMAL" = on ]; then
  echo "Camera 3 is an infrared camera on the mould half; its temperature area fills the"
  echo "temperature chart (\"温度波形图\" in the menu column) with every cycle."
fi
demo_modbus_hint
tail -n +1 -f "$DEMO_DIR/boardsim.log" &
DEMO_PIDS+=($!)

cd "$DEMO_DIR"
if [ -n "$had_display" ]; then
  "$BUILD_DIR/app/korvane"
  exit $?
fi

# Headless: the monitor runs on the virtual display; the start-up question is
# answered there, and the display can be watched and touched over VNC.
echo "No display found: korvane runs on the virtual display $DISPLAY (1920 x 1080)."
"$BUILD_DIR/app/korvane" &
KORVANE_PID=$!
DEMO_PIDS+=($KORVANE_PID)
demo_vnc
echo "To take a picture of the screen from another terminal:"
echo "  DISPLAY=$DISPLAY $BUILD_DIR/tools/screenshot /tmp/korvane.png"
echo "Stop the demo with Ctrl+C."
demo_answer_startup "$KORVANE_PID" "$DEMO_DIR/velqa/workspace" || true
wait "$KORVANE_PID"
