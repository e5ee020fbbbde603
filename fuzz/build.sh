#!/bin/bash
# Builds every fuzz target with clang, libFuzzer, ASan and UBSan into
# BUILD_DIR (default: build-fuzz beside this folder's parent).
# Needs the Debian packages clang and libclang-rt-14-dev.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build-fuzz}
jobs=${JOBS:-1}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DGLX_FUZZ=ON -DGLX_TESTS=OFF >/dev/null
cmake --build "$build" --target glx_fuzz_all -j"$jobs"
