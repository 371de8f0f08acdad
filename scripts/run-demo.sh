#!/usr/bin/env bash
# Installs what is missing, builds the optimised program and starts it on the
# demo working folder (created on first run). Without a display it runs on a
# virtual one and says how to look at it.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/install-deps.sh

BUILD_DIR=${KORVANE_BUILD_DIR:-build/release}
cmake -S . -B "$BUILD_DIR" -Wno-dev -DCMAKE_BUILD_TYPE=Release \
  -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_TOOLS=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"

DEMO_DIR=${KORVANE_DEMO_DIR:-$ROOT/demo}
if [ ! -d "$DEMO_DIR" ]; then
  echo "Creating the demo working folder $DEMO_DIR"
  bash scripts/make-demo.sh "$BUILD_DIR" "$DEMO_DIR"
fi

XVFB_PID=""
cleanup() { [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  DISPLAY_NUM=${KORVANE_DISPLAY:-99}
  Xvfb ":$DISPLAY_NUM" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$DISPLAY_NUM"
  sleep 1
  echo "No display found: korvane runs on the virtual display $DISPLAY."
  echo "To see it, take a picture of that screen from another terminal:"
  echo "  DISPLAY=$DISPLAY $ROOT/$BUILD_DIR/tools/screenshot /tmp/korvane.png"
  echo "and open /tmp/korvane.png. Stop the monitor with Ctrl+C."
fi

# A simulated I/O board on a pseudo-terminal linked as COM1 in the demo folder;
# its inputs can be set by a script, see tools/boardsim.cpp.
BOARD_PID=""
if [ -x "$ROOT/$BUILD_DIR/tools/boardsim" ]; then
  "$ROOT/$BUILD_DIR/tools/boardsim" -d "$DEMO_DIR" -k </dev/null >"$DEMO_DIR/boardsim.log" 2>&1 &
  BOARD_PID=$!
  sleep 0.5
fi
cleanup() {
  [ -n "$BOARD_PID" ] && kill "$BOARD_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}

cd "$DEMO_DIR"
"$ROOT/$BUILD_DIR/app/korvane"
