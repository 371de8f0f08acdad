#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test. Extra arguments go to ctest
# (for example: -L core, -R tst_logmanager).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

BUILD_DIR=${KORVANE_TEST_BUILD_DIR:-build/test}
JOBS=$(nproc)

cmake -S . -B "$BUILD_DIR" -Wno-dev \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DKORVANE_SANITIZE=ON -DKORVANE_BUILD_TESTS=ON -DKORVANE_BUILD_TOOLS=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS"

cd "$BUILD_DIR"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure --no-tests=error -j"$JOBS" "$@"
