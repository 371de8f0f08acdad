#!/usr/bin/env bash
# Builds the tests of the threaded parts with ThreadSanitizer (it cannot share a
# build with AddressSanitizer) and runs them. Not part of the README's test
# command: a second full build would double the time of CI. Arguments name
# the test programs to run (default: the records tests, whose start-up load
# runs on the thread pool while results are handed over on the GUI thread).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

BUILD_DIR=${KORVANE_TSAN_BUILD_DIR:-build/tsan}
TESTS=("$@")
if [ ${#TESTS[@]} -eq 0 ]; then
  TESTS=(tst_temperaturechartdata tst_resultstatistics tst_resultqueries tst_temperatureexport
    tst_industrialcameras tst_camerastress tst_hikcamera tst_mindcamera tst_do3thinkcamera)
fi

cmake -S . -B "$BUILD_DIR" -Wno-dev \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DKORVANE_TSAN=ON -DKORVANE_BUILD_TESTS=ON -DKORVANE_BUILD_TOOLS=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target "${TESTS[@]}"

cd "$BUILD_DIR"
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="suppressions=$OLDPWD/tests/tsan.supp halt_on_error=1 exitcode=66 second_deadlock_stack=1"
regex="^($(IFS='|'; echo "${TESTS[*]}"))\$"
ctest --output-on-failure --no-tests=error -R "$regex"
