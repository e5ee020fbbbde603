#!/bin/bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each
# for SECONDS (default 30) from its seed corpus. Needs the Debian packages
# clang and libclang-rt-14-dev (installed here when missing and run as root).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${FUZZ_SECONDS:-30}}
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    if [ "$(id -u)" = 0 ]; then
        apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends clang libclang-rt-14-dev
    else
        echo "fuzz-smoke: clang and libclang-rt-14-dev are needed" >&2
        exit 1
    fi
fi
export BUILD_DIR=${BUILD_DIR:-$PWD/build-fuzz}
JOBS=${JOBS:-$(nproc)} fuzz/build.sh
fuzz/run.sh smoke "$seconds"
