#!/usr/bin/env bash
# Installs what is missing, builds the optimised program and starts it on the
# demo working folder (created on first run). Without a display it runs on a
# virtual one of the panel's size and says how to look at it.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

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

# Inputs of the simulated board can be set by a script, see tools/boardsim.cpp.
demo_board "$BUILD_DIR" "$DEMO_DIR"

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
demo_answer_startup "$KORVANE_PID" "$DEMO_DIR/velqa/workspace" || true
demo_vnc
echo "To take a picture of the screen from another terminal:"
echo "  DISPLAY=$DISPLAY $BUILD_DIR/tools/screenshot /tmp/korvane.png"
echo "Stop the monitor with Ctrl+C."
wait "$KORVANE_PID"
