# Shared by run-demo.sh and demo-smoke.sh (sourced): the demo working folder,
# the virtual display and the simulated I/O board, with one clean-up for all
# that was started.

DEMO_PIDS=()
demo_cleanup() {
  local pid
  for pid in "${DEMO_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${DEMO_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  [ -n "${DEMO_TMP:-}" ] && rm -rf "$DEMO_TMP"
  return 0
}
trap demo_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

DEMO_TMP=$(mktemp -d)

# demo_wait PID TEST...: true as soon as the test command succeeds, false when
# the process PID ends first or 10 s pass.
demo_wait() {
  local pid=$1 i
  shift
  for i in $(seq 1 100); do
    "$@" && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# demo_folder BUILD_DIR DEMO_DIR: makes the working folder if it is missing or
# was left half-made. It is filled in a temporary folder beside it and moved
# into place only when complete, so an interrupted run leaves nothing that
# looks finished.
demo_folder() {
  local build=$1 dir=$2
  if [ -d "$dir" ] && [ ! -f "$dir/.demo-complete" ]; then
    echo "The demo folder $dir is incomplete; moving it aside to $dir.incomplete"
    rm -rf "$dir.incomplete"
    mv "$dir" "$dir.incomplete"
  fi
  if [ ! -d "$dir" ]; then
    echo "Creating the demo working folder $dir"
    local staging
    staging=$(mktemp -d "$(dirname "$dir")/.demo-staging.XXXXXX")
    bash scripts/make-demo.sh "$build" "$staging"
    touch "$staging/.demo-complete"
    mv "$staging" "$dir"
  fi
}

# demo_display: a virtual display of the panel's size unless one is set. Xvfb
# names its display once it accepts clients; that is what we wait for.
demo_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  local fdfile="$DEMO_TMP/display"
  : >"$fdfile"
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fdfile" >"$DEMO_TMP/xvfb.log" 2>&1 &
  DEMO_PIDS+=($!)
  if demo_wait "${DEMO_PIDS[-1]}" test -s "$fdfile"; then
    export DISPLAY=":$(head -n1 "$fdfile")"
    return 0
  fi
  echo "The virtual display did not start:" >&2
  cat "$DEMO_TMP/xvfb.log" >&2
  return 1
}

# demo_board BUILD_DIR DEMO_DIR [MACHINE OPTIONS...]: the simulated I/O board,
# linked as COM1 in the working folder, with the demo's moulding machine
# behind it (boardsim -c, see tools/boardsim.cpp); waits until the link is
# there. Its output goes to DEMO_DIR/boardsim.log.
demo_board() {
  local build=$1 dir=$2
  shift 2
  [ -x "$build/tools/boardsim" ] || return 0
  rm -f "$dir/COM1"
  "$build/tools/boardsim" -d "$dir" -k "$@" \
    -x "$dir/demo-scene/camera1.txt" -x "$dir/demo-scene/camera2.txt" </dev/null >"$dir/boardsim.log" 2>&1 &
  DEMO_PIDS+=($!)
  demo_wait "${DEMO_PIDS[-1]}" test -e "$dir/COM1" && return 0
  echo "The simulated I/O board did not start:" >&2
  cat "$dir/boardsim.log" >&2
  return 1
}

# demo_cameras DEMO_DIR on|off: the simulated cameras the monitor finds,
# written anew from the demo's resources at every start: the two mould
# cameras and, unless off, the infrared camera (camera 3, simulated in the
# monitor's process by its stand-in device library), whose temperature area
# feeds the temperature chart. The demo folder's camera order names all
# three, so without the infrared camera the monitor asks at start-up whether
# to clear that order, and the demo answers no. The infrared entry is the
# file's first key on a line of its own, which is what dropping it relies on.
demo_cameras() {
  local dir=$1 thermal=$2 source=resources/demo/simulated-cameras.json
  if [ "$thermal" = off ]; then
    grep -v '^ *"HCNetSDK":' "$source" >"$dir/simulated-cameras.json.new"
  else
    cp "$source" "$dir/simulated-cameras.json.new"
  fi
  mv "$dir/simulated-cameras.json.new" "$dir/simulated-cameras.json"
}

# demo_modbus_hint: how to read the monitor's registers, said once.
demo_modbus_hint() {
  echo "The monitor's Modbus registers (running state, alarm kind, counters from register 50):"
  echo "  mbpoll -m tcp -a 1 -0 -r 0 -c 3 -1 127.0.0.1"
  echo "  mbpoll -m tcp -a 1 -0 -r 50 -c 6 -1 127.0.0.1"
}

# demo_answer_startup PID LOG_DIR: the monitor may ask a question at
# start-up (no camera found, or the number of cameras changed). On a virtual
# display nobody can answer, so the demo answers "cancel" (a touch on the
# box's button, sent to the display as a person's would be) and says what
# was asked. Returns once the main window is up and no question is open;
# false when the monitor ends first.
# demo_windows GEOMETRY: the visible windows of the monitor of that size.
demo_windows() {
  local w
  for w in $(xdotool search --onlyvisible --class '^korvane$' 2>/dev/null || true); do
    case "$(xdotool getwindowgeometry "$w" 2>/dev/null || true)" in
      *"Geometry: $1"*) echo "$w" ;;
    esac
  done
}

demo_answer_startup() {
  local pid=$1 log_dir=$2 answered=0 asked up=0
  command -v xdotool >/dev/null || { echo "xdotool is missing: answer start-up questions yourself"; return 0; }
  for _ in $(seq 1 600); do
    kill -0 "$pid" 2>/dev/null || return 1
    # Only boxes that ask: the program logs each question it asks. A warning
    # box of the same size (a camera lost, say) is left alone.
    asked=$(grep -rhao 'operator question: ' "$log_dir" 2>/dev/null | wc -l)
    if [ "$asked" -gt "$answered" ] && [ -n "$(demo_windows 600x420)" ]; then
      demo_answer_box "$pid" "$log_dir" || return 1
      answered=$asked
      up=0
      continue
    fi
    # The main window shows before its questions are asked: up means it
    # stayed a second without a question.
    if [ -n "$(demo_windows 1920x1080)" ] && [ "$asked" -le "$answered" ]; then
      up=$((up + 1))
      [ "$up" -ge 5 ] && return 0
    else
      up=0
    fi
    sleep 0.2
  done
  echo "The monitor's main window did not appear within two minutes."
  return 0
}

# demo_answer_box PID LOG_DIR [ok|cancel]: answers the open question box,
# "cancel" unless told otherwise.
demo_answer_box() {
  local pid=$1 log_dir=$2 answer=${3:-cancel} question=""
  # The program's log has the question once it is written out.
  for _ in $(seq 1 50); do
    question=$(grep -rhao 'operator question: .*' "$log_dir" 2>/dev/null | tail -n1 | cut -c1-200 || true)
    [ -n "$question" ] && break
    sleep 0.1
  done
  echo "The monitor asks: ${question#operator question: }"
  # The box's buttons, touched where the operator would touch them (the box
  # is centred: 600 x 420 on 1920 x 1080, cancel left, OK right).
  sleep 0.5
  if [ "$answer" = ok ]; then
    xdotool mousemove 1042 690 click 1
  else
    xdotool mousemove 877 690 click 1
  fi
  echo "Answered: $answer (a touch on its button on the virtual display)."
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 1
    [ -n "$(demo_windows 600x420)" ] || return 0
    sleep 0.1
  done
  return 0
}

# demo_vnc: a VNC server on 127.0.0.1 for the virtual display, to watch and
# touch it from this machine.
demo_vnc() {
  command -v x11vnc >/dev/null || return 0
  x11vnc -display "$DISPLAY" -localhost -forever -shared -nopw -quiet -rfbport "${KORVANE_VNC_PORT:-5900}" \
    >"$DEMO_TMP/x11vnc.log" 2>&1 &
  DEMO_PIDS+=($!)
  echo "To watch and touch it: a VNC viewer on 127.0.0.1:${KORVANE_VNC_PORT:-5900} (e.g. vncviewer 127.0.0.1::${KORVANE_VNC_PORT:-5900})."
}
