#!/usr/bin/env bash
# Fills a demo working folder: usage make-demo.sh <build folder> <working folder>.
set -euo pipefail
BUILD_DIR=$1
DEMO_DIR=$2
mkdir -p "$DEMO_DIR"
if [ -d resources/demo ]; then
  cp -rn resources/demo/. "$DEMO_DIR"/
fi
