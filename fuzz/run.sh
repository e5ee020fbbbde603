#!/bin/bash
# Runs fuzz targets built by build.sh.
#   fuzz/run.sh TARGET SECONDS     one target (png_read, ztxt, gif_read, lzw,
#                                  bmp, jpeg, paste_line, pipeline)
#   fuzz/run.sh smoke SECONDS      every target for SECONDS each
# New inputs go to a scratch corpus (the committed seeds stay as they are);
# a crash leaves crash-* / leak-* / timeout-* / oom-* in ARTIFACTS (default
# build-fuzz/artifacts). Exit status 1 on any finding.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build-fuzz}
artifacts=${ARTIFACTS:-$build/artifacts}
targets="png_read ztxt gif_read lzw bmp jpeg paste_line pipeline"

dict_of() {
    case "$1" in
        png_read) echo png ;;
        gif_read) echo gif ;;
        ztxt) echo zlib ;;
        *) echo "$1" ;;
    esac
}

run_one() {
    local target=$1 seconds=$2
    local bin=$build/fuzz/fuzz_$target
    if [ ! -x "$bin" ]; then
        echo "fuzz: $bin is not built (run fuzz/build.sh)" >&2
        return 2
    fi
    local work=$build/corpus-work/$target
    mkdir -p "$work" "$artifacts"
    local opts=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512
                -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts/$target-"
                -dict="$here/dict/$(dict_of "$target").dict")
    # The whole tool prints its messages and error reports: keep them out.
    if [ "$target" = pipeline ]; then opts+=(-close_fd_mask=3); fi
    echo "== $target: ${seconds}s"
    local log=$build/fuzz-$target.log
    "$bin" "${opts[@]}" "$work" "$here/corpus/$target" >"$log" 2>&1
    local rc=$?
    grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|cov: .*ft:" "$log" | tail -4
    if [ $rc -ne 0 ]; then
        echo "fuzz: $target FAILED (exit $rc), log $log" >&2
        grep -E "ERROR|SUMMARY|unexpected exception|Test unit written" "$log" | head -5 >&2
        return 1
    fi
    return 0
}

if [ $# -ne 2 ]; then
    echo "usage: $0 TARGET|smoke SECONDS" >&2
    exit 2
fi
if [ "$1" = smoke ]; then
    failed=0
    for t in $targets; do run_one "$t" "$2" || failed=1; done
    exit $failed
fi
run_one "$1" "$2"
