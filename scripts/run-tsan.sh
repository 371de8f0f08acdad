#!/usr/bin/env bash
# Builds the tests of the threaded parts with ThreadSanitizer (it cannot share a
# build with AddressSanitizer) and runs them. Arguments name the test programs
# to run; without arguments, every test of a part where threads meet: the I/O
# link and the logical I/O over it, the frame hand-over of the camera drivers,
# the camera stations and their lost-camera watch, the cycle's workers that
# judge a detect's cameras side by side, the Modbus server and what
# its writes do, and the records (whose start-up
# load runs on the thread pool while results are handed over on the GUI
# thread). Qt's own internals that the checker cannot see into are
# suppressed, narrowly, in tests/tsan.supp.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

BUILD_DIR=${KORVANE_TSAN_BUILD_DIR:-build/tsan}
TESTS=("$@")
if [ ${#TESTS[@]} -eq 0 ]; then
  TESTS=(tst_iothread tst_controlport tst_framehandover tst_modbusserver tst_modbusdatachange
         tst_temperaturechartdata tst_resultstatistics tst_resultqueries tst_temperatureexport
         tst_industrialcameras tst_camerastress tst_hikcamera tst_mindcamera tst_do3thinkcamera
         tst_streamsdk tst_thermalsession tst_camerafotric tst_hikircamera tst_camerastation tst_cammerwidget
         tst_failimagewriter tst_cyclecontroller tst_wholecycle tst_inspectionpool tst_picturereadahead)
fi

# The compiler cache, as for the sanitizer build of the test command.
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

cmake -S . -B "$BUILD_DIR" "${GENERATOR[@]}" -Wno-dev \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DKORVANE_TSAN=ON -DKORVANE_BUILD_TESTS=ON -DKORVANE_BUILD_TOOLS=ON "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j"${KORVANE_JOBS:-$(nproc)}" --target "${TESTS[@]}"

cd "$BUILD_DIR"
export QT_QPA_PLATFORM=offscreen
# Allocations and frees made inside Qt and OpenCV themselves (an event a
# worker posts and the receiving loop deletes) are handed over under locks the
# checker cannot see; only our own code's accesses are judged.
export TSAN_OPTIONS="suppressions=$OLDPWD/tests/tsan.supp ignore_noninstrumented_modules=1 halt_on_error=1 exitcode=66 second_deadlock_stack=1"
regex="^($(IFS='|'; echo "${TESTS[*]}"))\$"
ctest --output-on-failure --no-tests=error -j"${KORVANE_JOBS:-$(nproc)}" -R "$regex"
