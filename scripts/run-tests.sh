#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test. Extra arguments go to ctest
# (for example: -L core, -R tst_logmanager).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

BUILD_DIR=${KORVANE_TEST_BUILD_DIR:-build/test}
JOBS=${KORVANE_JOBS:-$(nproc)}
# A compiler cache, where the machine has one, keeps rebuilds of several
# checkouts of the tree cheap; paths are taken relative to the checkout.
# The tests' precompiled header is cached too when the cache is told not to
# look into it for macros and times (our headers use neither __DATE__ nor
# __TIME__).
LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=$PWD
  CCACHE="env;CCACHE_SLOPPINESS=pch_defines,time_macros;ccache"
  LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER="$CCACHE" -DCMAKE_C_COMPILER_LAUNCHER="$CCACHE")
fi
# Ninja starts a target's compiles as soon as their own inputs are there (not
# after every library below it is linked) and has no recursive make to pay
# for; a folder made by make before stays with make.
GENERATOR=()
if command -v ninja >/dev/null 2>&1 && { [ ! -f "$BUILD_DIR/CMakeCache.txt" ] ||
     grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$BUILD_DIR/CMakeCache.txt"; }; then
  GENERATOR=(-G Ninja)
fi

# Line tables only (-g1): the sanitizers' reports name files and lines, and
# the build takes a quarter less time than with full debug information.
cmake -S . -B "$BUILD_DIR" "${GENERATOR[@]}" -Wno-dev \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DKORVANE_SANITIZE=ON -DKORVANE_BUILD_TESTS=ON -DKORVANE_BUILD_TOOLS=ON "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS"

cd "$BUILD_DIR"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure --no-tests=error -j"$JOBS" "$@"
