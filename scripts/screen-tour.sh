#!/usr/bin/env bash
# Screenshot tour: renders the screens of one part of the program to PNG, at
# the panel's 1920 x 1080 and at a smaller size, in the four languages.
# Usage: screen-tour.sh [tour ...]   (default: every tour; "kit" is the widget
# kit, "station" the camera station view)
# Each tour is a program tools/<tour>tour built with the tools; its pictures
# go to build/tour/<tour>/<width>x<height>/<language>/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# The test build, where there is one (its compiler cache is warm); else a
# build of its own.
BUILD_DIR=${KORVANE_TOUR_BUILD_DIR:-build/test}
if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -Wno-dev >/dev/null
else
  cmake -S . -B "$BUILD_DIR" -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_BUILD_TOOLS=ON >/dev/null
fi
# A sanitizer build reports the toolkit's own start-up allocations at exit.
export ASAN_OPTIONS=detect_leaks=0
TOURS=("$@")
if [ ${#TOURS[@]} -eq 0 ]; then
  TOURS=(kit records maintenance settings station areapanel camera campage main window)
fi

# The main window takes the size of its screen: it is shown on a virtual
# display of each size, started here and ended after its run.
XVFB_PID=""
stop_display() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}
trap stop_display EXIT
# run_on_display WIDTH HEIGHT COMMAND...
run_on_display() {
  local width=$1 height=$2 fdfile
  shift 2
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp 3>"$fdfile" 2>/dev/null &
  XVFB_PID=$!
  for _ in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  if [ ! -s "$fdfile" ]; then
    rm -f "$fdfile"
    stop_display
    echo "The virtual display of ${width}x${height} did not start" >&2
    return 1
  fi
  local status=0
  DISPLAY=":$(head -n1 "$fdfile")" QT_QPA_PLATFORM=xcb "$@" || status=$?
  rm -f "$fdfile"
  stop_display
  return $status
}
for tour in "${TOURS[@]}"; do
  cmake --build "$BUILD_DIR" -j"${KORVANE_JOBS:-$(nproc)}" --target "${tour}tour" >/dev/null
  SIZES=(1920x1080 1280x720)
  # The main screen's fixed sizes are checked against the smaller panels too.
  if [ "$tour" = main ] || [ "$tour" = window ]; then
    SIZES=(1920x1080 1280x720 1024x768)
  fi
  # The area panel is looked at on the real window at the panel's own size.
  [ "$tour" = areapanel ] && SIZES=(1920x1080)
  for size in "${SIZES[@]}"; do
    if [ "$tour" = window ] || [ "$tour" = areapanel ]; then
      run_on_display "${size%x*}" "${size#*x}" "$BUILD_DIR/tools/${tour}tour" "build/tour/$tour" "${size%x*}" "${size#*x}"
    else
      QT_QPA_PLATFORM=offscreen "$BUILD_DIR/tools/${tour}tour" "build/tour/$tour" "${size%x*}" "${size#*x}"
    fi
  done
  echo "pictures in build/tour/$tour"
done
