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
# What the simulated cameras replay when no camera is found: an open mould,
# and the same mould with a part left in one cavity.
"$BUILD_DIR/tools/mouldpicture" "$DEMO_DIR"
# The value box picture of the slider, drawn by us like the kit's icons.
mkdir -p "$DEMO_DIR/images"
ASAN_OPTIONS=detect_leaks=0 "$BUILD_DIR/ui/korvane_rendericons" "$DEMO_DIR/images" resources/icons/edit.svg
