#!/usr/bin/env bash
# Screenshot tour: renders the screens of one part of the program to PNG, at
# the panel's 1920 x 1080 and at a smaller size, in the four languages.
# Usage: screen-tour.sh [--check] [tour ...]   (default: every tour; "kit" is
# the widget kit, "station" the camera station view)
# Each tour is a program tools/<tour>tour built with the tools; its pictures
# go to build/tour/<tour>/<width>x<height>/<language>/.
# With --check only the panel's 1920 x 1080 is shot, and every shot is checked
# as the operator sees it (captions that do not fit, widgets too small to
# touch, text of too little contrast, widgets partly off the screen); the
# findings go to build/tour/screencheck.txt with a count per kind, and the
# script fails when there is any.
set -euo pipefail
cd "$(dirname "$0")/.."

CHECK=()
if [ "${1:-}" = --check ]; then
  CHECK=(--check)
  shift
fi

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
if [ ${#CHECK[@]} -gt 0 ]; then
  # The check: every tour at 1920 x 1080 only, all side by side, those of the
  # real window each on a virtual display of its own.
  REPORT=build/tour/screencheck.txt
  PARTS=$(mktemp -d)
  mkdir -p build/tour
  targets=()
  for tour in "${TOURS[@]}"; do targets+=(--target "${tour}tour"); done
  cmake --build "$BUILD_DIR" -j"${KORVANE_JOBS:-$(nproc)}" "${targets[@]}" >/dev/null
  # The slowest tours (those of the real window, the main screen) run one
  # process per language, so that the check takes about as long as the
  # slowest language of one of them.
  JOBS=()
  for tour in "${TOURS[@]}"; do
    case "$tour" in
      window|areapanel|main)
        for language in zh_CN en zh_TW ja; do JOBS+=("$tour:$language"); done ;;
      *) JOBS+=("$tour") ;;
    esac
  done
  declare -A PIDS=()
  STATUS=()
  for job in "${JOBS[@]}"; do
    tour=${job%%:*}
    language=""
    [ "$job" != "$tour" ] && language=${job#*:}
    command=(env "KORVANE_TOUR_LANGUAGE=$language" "$BUILD_DIR/tools/${tour}tour" "build/tour/$tour" 1920 1080 --check)
    if [ "$tour" = window ] || [ "$tour" = areapanel ]; then
      (run_on_display 1920 1080 "${command[@]}") >"$PARTS/$job" 2>"$PARTS/$job.err" &
      PIDS[$job]=$!
    else
      QT_QPA_PLATFORM=offscreen "${command[@]}" >"$PARTS/$job" 2>"$PARTS/$job.err" &
      PIDS[$job]=$!
    fi
  done
  for job in "${!PIDS[@]}"; do
    status=0
    wait "${PIDS[$job]}" || status=$?
    STATUS+=("$job $status")
  done
  : >"$REPORT"
  FAILED=()
  for entry in "${STATUS[@]}"; do
    job=${entry% *}
    tour=${job%%:*}
    status=${entry#* }
    grep '^screencheck: [a-z]*: ' "$PARTS/$job" | sed "s|^screencheck: \([a-z]*\): |\1: $tour/|" >>"$REPORT" || true
    # A tour that failed for another reason than its findings says why.
    if [ "$status" -ne 0 ] && ! grep -q '^screencheck: [a-z]*: ' "$PARTS/$job"; then
      cat "$PARTS/$job.err" >&2
    fi
    [ "$status" -eq 0 ] || FAILED+=("$job")
  done
  rm -rf "$PARTS"
  echo "screen check of the tours at 1920x1080 (findings in $REPORT):"
  for kind in fit size contrast offscreen; do
    printf '  %-10s %d\n' "$kind" "$(grep -c "^$kind: " "$REPORT" || true)"
  done
  if [ ${#FAILED[@]} -gt 0 ]; then
    echo "failed: ${FAILED[*]}" >&2
    exit 1
  fi
  exit 0
fi

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
