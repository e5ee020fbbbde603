#!/usr/bin/env bash
# End-to-end benchmark: builds a release glumixer, then runs it and its
# peers (vips, Pillow and ImageMagick) on the same corpora in one run and
# writes a table: median wall, mean user time, peak RSS, output size, and
# our median wall as a ratio to each peer's.
#
# usage: bench/run.sh [CORPUS_DIR] [WORK_DIR]
#   CORPUS_DIR  default /tmp/glx-bench/corpus (each missing part made by make_corpus.py)
#   WORK_DIR    default /tmp/glx-bench/work   (build, outputs, raw records, TABLE.md)
# env: RUNS=5 WARMUP=1 (hyperfine), ONLY="sprites-1000 anim" (subset of the cases
#      sprites-100 sprites-1000 sprites-5000 photos-to-jpg bmps-to-bmp photo-to-png
#      anim anim-big anim-noisy anim-sheet anim-noisy-sheet anim-apng anim-noisy-apng),
#      MONTAGE=1 (add ImageMagick's montage to the gluing cases), BIN=path (skip the
#      build and time that binary), BIN_ZLIB=path (the same for the build with plain
#      zlib, -DGLX_DEFLATE=zlib; BIN_ZLIB=none leaves its rows out).
#      ImageMagick's convert always exports the GIF frames.
# Every case that writes PNG also times our binary pinned to one core
# (glumixer-1core, taskset -c 0): its ratio shows what the second core gives;
# and our binary built with plain zlib instead of libdeflate (glumixer-zlib).
# Peers: apt-get install -y imagemagick libvips-tools python3-pil hyperfine (ffmpeg for the APNG cases)
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
CORPUS=${1:-/tmp/glx-bench/corpus}
WORK=${2:-/tmp/glx-bench/work}
RUNS=${RUNS:-5}
WARMUP=${WARMUP:-1}
ONLY=${ONLY:-}
PY=/usr/bin/python3   # Debian's python with python3-pil
VIPS=/usr/bin/vips
MONTAGE_BIN=/usr/bin/montage
CONVERT=/usr/bin/convert   # Debian's ImageMagick, whatever else is first on PATH
export LC_ALL=C

for t in $PY $VIPS $CONVERT /usr/bin/time hyperfine cmake; do
  command -v "$t" >/dev/null || { echo "missing $t (apt-get install -y imagemagick libvips-tools python3-pil hyperfine)"; exit 1; }
done
$PY -c 'import PIL' 2>/dev/null || { echo "python3-pil is missing"; exit 1; }

mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
if [ -z "${BIN:-}" ]; then
  echo "building glumixer (Release) in $WORK/build"
  { cmake -S "$ROOT" -B "$WORK/build" -DCMAKE_BUILD_TYPE=Release -DGLX_TESTS=OFF &&
    cmake --build "$WORK/build" --target glumixer -j"${JOBS:-1}"; } > "$WORK/build.log" 2>&1 ||
    { tail -20 "$WORK/build.log"; exit 1; }
  BIN=$WORK/build/glumixer
fi
if [ -z "${BIN_ZLIB:-}" ]; then
  echo "building glumixer with plain zlib (Release) in $WORK/build-zlib"
  { cmake -S "$ROOT" -B "$WORK/build-zlib" -DCMAKE_BUILD_TYPE=Release -DGLX_TESTS=OFF -DGLX_DEFLATE=zlib &&
    cmake --build "$WORK/build-zlib" --target glumixer -j"${JOBS:-1}"; } > "$WORK/build-zlib.log" 2>&1 ||
    { tail -20 "$WORK/build-zlib.log"; exit 1; }
  BIN_ZLIB=$WORK/build-zlib/glumixer
fi
# zlib_row CASE CWD OUT ARGS: our plain-zlib build on the same job.
zlib_row() {
  [ "$BIN_ZLIB" = none ] && return 0
  measure "$1" glumixer-zlib "$2" "$3" "rm -rf $3 patterns.xml" "$BIN_ZLIB $4"
}
# corpus NAME: makes that part of the corpus when it is missing.
corpus() {
  [ -e "$CORPUS/$1" ] || [ -e "$CORPUS/$1.gif" ] && return 0
  echo "generating $1 in $CORPUS"
  $PY "$HERE/make_corpus.py" "$CORPUS" --only "$1" > /dev/null || exit 1
}

# An atlas left by gluing a corpus folder in place is no corpus file.
rm -f "$CORPUS"/*/patterns.xml
OUT=$WORK/out
REC=$WORK/records
rm -rf "$OUT" "$REC"
mkdir -p "$OUT" "$REC"
: > "$REC/cases.tsv"
want() { [ -z "$ONLY" ] || [[ " $ONLY " == *" $1 "* ]]; }

# measure CASE PEER CWD OUTPUT PREPARE COMMAND: one probe under /usr/bin/time -v
# (exit status, peak RSS, output size), then hyperfine.
measure() {
  local case=$1 peer=$2 cwd=$3 out=$4 prep=$5 cmd=$6
  local id=$case.${peer// /_}
  local base=$REC/$id
  (cd "$cwd" && bash -c "$prep")
  (cd "$cwd" && /usr/bin/time -v -o "$base.time" bash -c "$cmd") > "$base.out" 2> "$base.err"
  local rc=$?
  local rss bytes json=-
  rss=$(awk -F': ' '/Maximum resident/ {print $2}' "$base.time")
  bytes=$(find "$out" -type f -printf '%s\n' 2>/dev/null | awk '{s+=$1} END{print s+0}')
  if [ "$rc" = 0 ] && (cd "$cwd" && hyperfine --shell=bash --style basic --warmup "$WARMUP" --runs "$RUNS" \
        --prepare "$prep" --export-json "$base.json" "$cmd") > "$base.hf.log" 2>&1; then
    json=$base.json
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$case" "$peer" "$rc" "$rss" "$bytes" "$json" >> "$REC/cases.tsv"
  printf '%-16s %-14s rc=%s rss=%sKB out=%s\n' "$case" "$peer" "$rc" "$rss" "$bytes"
}

# Our tool writes its atlas into the glued folder, so it works on a copy.
glue_case() {  # CASE CORPUS EXT
  local case=$1 c=$2 ext=$3 dir=$CORPUS/$2
  want "$case" || return 0
  corpus "$c"
  local mine=$WORK/ours/$c
  rm -rf "$mine"; mkdir -p "$WORK/ours"; cp -r "$dir" "$mine"
  measure "$case" glumixer "$mine" "$OUT/$case.ours.$ext" "rm -f $OUT/$case.ours.$ext patterns.xml" \
    "$BIN . H16 $OUT/$case.ours.$ext"
  if [ "$ext" = png ]; then
    measure "$case" glumixer-1core "$mine" "$OUT/$case.ours1.$ext" "rm -f $OUT/$case.ours1.$ext patterns.xml" \
      "taskset -c 0 $BIN . H16 $OUT/$case.ours1.$ext"
    zlib_row "$case" "$mine" "$OUT/$case.zlib.$ext" ". H16 $OUT/$case.zlib.$ext"
    # vips with our settings: deflate level 7 on Sub-filtered rows.
    measure "$case" vips-sub "$dir" "$OUT/$case.vipssub.$ext" "rm -f $OUT/$case.vipssub.$ext" \
      "$VIPS arrayjoin \"\$(echo *)\" '$OUT/$case.vipssub.$ext[compression=7,filter=sub]' --across 16"
    # vips at level 7 on unfiltered rows (its default filter).
    measure "$case" vips-7 "$dir" "$OUT/$case.vips7.$ext" "rm -f $OUT/$case.vips7.$ext" \
      "$VIPS arrayjoin \"\$(echo *)\" '$OUT/$case.vips7.$ext[compression=7]' --across 16"
    # vips with its true defaults: level 6, unfiltered rows.
    measure "$case" vips-defaults "$dir" "$OUT/$case.vips.$ext" "rm -f $OUT/$case.vips.$ext" \
      "$VIPS arrayjoin \"\$(echo *)\" '$OUT/$case.vips.$ext' --across 16"
  else
    local vopt=""
    [ "$ext" = jpg ] && vopt="[Q=100]"
    measure "$case" vips "$dir" "$OUT/$case.vips.$ext" "rm -f $OUT/$case.vips.$ext" \
      "$VIPS arrayjoin \"\$(echo *)\" '$OUT/$case.vips.$ext$vopt' --across 16"
  fi
  measure "$case" pillow "$dir" "$OUT/$case.pillow.$ext" "rm -f $OUT/$case.pillow.$ext" \
    "$PY $HERE/pillow_glue.py . $OUT/$case.pillow.$ext --across 16"
  if [ -n "${MONTAGE:-}" ]; then
    local mopt="-define png:compression-level=7"
    [ "$ext" = jpg ] && mopt="-quality 100"
    [ "$ext" = bmp ] && mopt=""
    measure "$case" montage "$dir" "$OUT/$case.montage.$ext" "rm -f $OUT/$case.montage.$ext" \
      "$MONTAGE_BIN * -tile 16x -geometry +0+0 -background none $mopt $OUT/$case.montage.$ext"
  fi
}

# One big RGBA picture written as PNG: all the work is deflate.
photo_case() {
  want photo-to-png || return 0
  corpus photo-big
  local mine=$WORK/ours/photo-big
  rm -rf "$mine"; mkdir -p "$WORK/ours"; cp -r "$CORPUS/photo-big" "$mine"
  measure photo-to-png glumixer "$mine" "$OUT/photo.ours.png" "rm -f $OUT/photo.ours.png patterns.xml" \
    "$BIN . H1 $OUT/photo.ours.png"
  measure photo-to-png glumixer-1core "$mine" "$OUT/photo.ours1.png" "rm -f $OUT/photo.ours1.png patterns.xml" \
    "taskset -c 0 $BIN . H1 $OUT/photo.ours1.png"
  zlib_row photo-to-png "$mine" "$OUT/photo.zlib.png" ". H1 $OUT/photo.zlib.png"
  measure photo-to-png vips-sub "$CORPUS/photo-big" "$OUT/photo.vipssub.png" "rm -f $OUT/photo.vipssub.png" \
    "$VIPS copy photo.png '$OUT/photo.vipssub.png[compression=7,filter=sub]'"
  # Pillow reading the photo and writing it at level 7, as it glues.
  measure photo-to-png pillow "$CORPUS/photo-big" "$OUT/photo.pillow.png" "rm -f $OUT/photo.pillow.png" \
    "$PY $HERE/pillow_glue.py . $OUT/photo.pillow.png --across 1"
}

# Our tool exports the frames into a folder beside the GIF.
gif_case() {  # NAME [PILLOW-LEVEL]
  local g=$1 level=${2:-7}
  want "$g" || return 0
  corpus "$g"
  local mine=$WORK/ours/$g
  rm -rf "$mine"; mkdir -p "$mine"; cp "$CORPUS/$g.gif" "$mine/"
  measure "$g" glumixer "$mine" "$mine/$g" "rm -rf $g" "$BIN $g.gif"
  measure "$g" glumixer-1core "$mine" "$mine/$g" "rm -rf $g" "taskset -c 0 $BIN $g.gif"
  zlib_row "$g" "$mine" "$mine/$g" "$g.gif"
  measure "$g" pillow "$CORPUS" "$OUT/$g.pillow" "rm -rf $OUT/$g.pillow" \
    "$PY $HERE/pillow_gif_frames.py $g.gif $OUT/$g.pillow $level"
  # ImageMagick composes every frame onto the screen and writes it as PNG
  # (its default quality 75 is zlib level 7, adaptive filtering).
  measure "$g" imagemagick "$CORPUS" "$OUT/$g.magick" "rm -rf $OUT/$g.magick && mkdir -p $OUT/$g.magick" \
    "$CONVERT $g.gif -coalesce $OUT/$g.magick/%d.png"
}

# GIF to one sheet of every composed frame: ours in its export run (frame
# files, sheet and JSON), ImageMagick composing the frames and gluing them
# with montage in the same near-square grid.
gif_sheet_case() {  # GIF
  local g=$1 case=$1-sheet
  want "$case" || return 0
  corpus "$g"
  local mine=$WORK/ours/$case n cols rows
  rm -rf "$mine"; mkdir -p "$mine"; cp "$CORPUS/$g.gif" "$mine/"
  n=$($PY -c "from PIL import Image; print(Image.open('$CORPUS/$g.gif').n_frames)")
  cols=$($PY -c "import math; print(math.ceil(math.sqrt($n)))")
  rows=$(( (n + cols - 1) / cols ))
  measure "$case" glumixer "$mine" "$mine/$g-sheet.png" "rm -rf $g $g-sheet.png $g-sheet.json" "$BIN --sheet $g.gif"
  measure "$case" montage "$CORPUS" "$OUT/$case.montage.png" "rm -f $OUT/$case.montage.png" \
    "$CONVERT $g.gif -coalesce miff:- | $MONTAGE_BIN - -tile ${cols}x${rows} -geometry +0+0 -background none $OUT/$case.montage.png"
}

# GIF to an animated PNG: ours in its export run, ffmpeg's APNG writer
# where it is installed (ImageMagick's APNG goes through ffmpeg too).
gif_apng_case() {  # GIF
  local g=$1 case=$1-apng
  want "$case" || return 0
  corpus "$g"
  local mine=$WORK/ours/$case
  rm -rf "$mine"; mkdir -p "$mine"; cp "$CORPUS/$g.gif" "$mine/"
  measure "$case" glumixer "$mine" "$mine/$g.apng" "rm -rf $g $g.apng" "$BIN --apng $g.gif"
  if command -v ffmpeg > /dev/null; then
    measure "$case" ffmpeg "$CORPUS" "$OUT/$case.ffmpeg.apng" "rm -f $OUT/$case.ffmpeg.apng" \
      "ffmpeg -loglevel error -y -i $g.gif -plays 0 -f apng $OUT/$case.ffmpeg.apng"
  fi
}

{
  echo "date: $(date -u +%FT%TZ)"; echo "nproc: $(nproc)"; echo "loadavg at start: $(cat /proc/loadavg)"
  grep -m1 'model name' /proc/cpuinfo; $VIPS --version; hyperfine --version
  $PY -c 'import PIL; print("Pillow", PIL.__version__)'; $CONVERT -version | head -1
  echo "RUNS=$RUNS WARMUP=$WARMUP"
} > "$REC/env.txt" 2>&1

glue_case sprites-100 sprites-100 png
glue_case sprites-1000 sprites-1000 png
glue_case sprites-5000 sprites-5000 png
glue_case photos-to-jpg photos jpg
glue_case bmps-to-bmp bmps bmp
photo_case
gif_case anim
gif_case anim-big
# Frames that change everywhere, Pillow at its own default level.
gif_case anim-noisy default
gif_sheet_case anim
gif_sheet_case anim-noisy
gif_apng_case anim
gif_apng_case anim-noisy
echo "loadavg at end: $(cat /proc/loadavg)" >> "$REC/env.txt"

$PY "$HERE/table.py" "$REC" > "$WORK/TABLE.md"
cat "$WORK/TABLE.md"
