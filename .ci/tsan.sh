#!/bin/bash
# The whole test suite built with ThreadSanitizer (GCC) in build-tsan: the
# read-ahead, the encoders and every other thread of the tool run under it
# in the end-to-end tests, and any data race fails the test that meets it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-tsan}
jobs=${JOBS:-$(nproc)}
# An interrupted run ends at once from its signal handler, leaving its
# worker threads unjoined on purpose: no thread-leak reports.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:report_thread_leaks=0}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLX_TSAN=ON
cmake --build "$build" -j "$jobs"
cd "$build" && ctest --output-on-failure -j "$jobs"
