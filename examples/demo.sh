#!/bin/bash
# Glues the example sprites into one sheet without asking anything.
# Usage: examples/demo.sh PATH-TO-GLUMIXER
set -euo pipefail
tool=$(readlink -f "${1:-build/glumixer}")
here=$(dirname "$(readlink -f "$0")")
work=$(dirname "$tool")/demo
rm -rf "$work"
mkdir -p "$work"
cp "$here"/sprites/* "$work"/
# Positional form: picture, layout (5 per row), output name (makes it silent).
"$tool" "$work/01_circle.png" H5 sheet.png
echo "Glued $(ls "$work"/*.png | grep -vc sheet.png) pictures:"
echo "  sprite sheet: $work/sheet.png"
echo "  atlas:        $work/patterns.xml"
cat "$work/patterns.xml"
