#!/bin/bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (GCC) in build-asan. Any sanitizer report fails the test that triggers it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-asan}
jobs=${JOBS:-$(nproc)}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/.ci/lsan.supp:print_suppressions=0}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLX_SANITIZE=ON
cmake --build "$build" -j "$jobs"
cd "$build" && ctest --output-on-failure -j "$jobs"
