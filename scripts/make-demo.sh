#!/usr/bin/env bash
# Fills a demo working folder: usage make-demo.sh <build folder> <working folder>.
set -euo pipefail
BUILD_DIR=$1
DEMO_DIR=$2
mkdir -p "$DEMO_DIR"
if [ -d resources/demo ]; then
  cp -rn resources/demo/. "$DEMO_DIR"/
fi
# The factory parameter group is generated, never kept as a binary file. The
# working folder starts from it as a fresh installation does; existing
# databases are left alone.
"$BUILD_DIR/tools/factoryparams" "$DEMO_DIR/paraGroup/default"
cp -n "$DEMO_DIR/paraGroup/default/PARAM.db" "$DEMO_DIR/PARAM.db"
cp -n "$DEMO_DIR/paraGroup/default/SN.db" "$DEMO_DIR/SN.db"
# What the simulated cameras film: an open mould, and the same mould with a
# part left in one cavity (also what the monitor replays when no camera is
# found at all).
"$BUILD_DIR/tools/mouldpicture" "$DEMO_DIR"
# Which of the two each mould camera films: the demo's machine (boardsim -c)
# writes "1" into a camera's file while a part stays in its cavity.
mkdir -p "$DEMO_DIR/demo-scene"
echo 0 >"$DEMO_DIR/demo-scene/camera1.txt"
echo 0 >"$DEMO_DIR/demo-scene/camera2.txt"
# The operator's first day: the empty mould sampled as the cavity templates
# with an area over each cavity, a temperature area on camera 3 (the infrared
# camera of simulated-cameras.json), the camera order (the two simulated
# mould cameras first, the infrared camera third) and the demo's settings.
"$BUILD_DIR/tools/demosetup" "$DEMO_DIR" DEMO00001 DEMO00002 IR0000001
# The value box picture of the slider, drawn by us like the kit's icons.
mkdir -p "$DEMO_DIR/images"
ASAN_OPTIONS=detect_leaks=0 "$BUILD_DIR/ui/korvane_rendericons" "$DEMO_DIR/images" resources/icons/edit.svg
