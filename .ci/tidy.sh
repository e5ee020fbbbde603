#!/bin/bash
# Style and static checks: every source follows .clang-format, and
# clang-tidy (.clang-tidy) finds nothing in the tool's sources. Installs
# clang-format and clang-tidy when missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null || ! command -v clang-tidy >/dev/null; then
    if [ "$(id -u)" = 0 ]; then
        apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends clang-format clang-tidy
    else
        echo "tidy: clang-format and clang-tidy are needed" >&2
        exit 1
    fi
fi
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
# Modules include one way: app -> (png, gif, raster, platform) -> base, with
# png and gif on raster; nothing includes app.
declare -A allowed=([base]="base" [platform]="base platform" [raster]="base raster"
                    [png]="base raster png" [gif]="base raster gif"
                    [app]="base platform raster png gif app")
bad=0
for module in "${!allowed[@]}"; do
    while IFS=: read -r file included; do
        target=${included%%/*}
        [[ " ${allowed[$module]} " == *" $target "* ]] && continue
        echo "layering: $file includes $included" >&2
        bad=1
    done < <(git ls-files "$module/*.cpp" "$module/*.h" | grep -v "^$module/desktop/" |
             xargs grep -oH '#include "[a-z]*/[^"]*"' | sed 's/#include "//; s/"$//')
done
[ "$bad" = 0 ] || exit 1
build=${BUILD_DIR:-build-tidy}
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DGLX_TESTS=OFF >/dev/null
git ls-files 'app/*.cpp' 'base/*.cpp' 'platform/*.cpp' 'png/*.cpp' 'gif/*.cpp' 'raster/*.cpp' |
    xargs -P "${JOBS:-$(nproc)}" -n 4 clang-tidy -p "$build" --quiet
echo "tidy: clean"
