#!/usr/bin/env bash
# Per-frame cost of our stitcher against ffmpeg's v360 filter (dual fisheye to
# equirectangular, bilinear), both on one thread, measured in the same run.
#
#   bench/stitch_vs_v360.sh [BUILD_DIR] [WIDTH] [FRAMES] [REPEATS]
#
# v360's cost is (read + v360 to the null muxer) minus (read alone), for raw I420 frames of
# WIDTH x WIDTH/2 looped from a small file in the page cache. v360 builds its tables once
# (as our context does), so each is measured over 2 * FRAMES and FRAMES frames and the
# difference taken: what remains is the per-frame cost without set-up. Ours is the
# StitchImage benchmark (I420, one thread, context made and compiled beforehand, as the
# video engine uses it; the kernel alone for widths above kMaxStitchWidth, which a context
# refuses). Each repeat runs all measurements
# back to back; medians are printed, in wall-clock and in CPU (user + system) time, since
# the machine may be shared.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
w=${2:-3840}
frames=${3:-20}
reps=${4:-5}
h=$((w / 2))
bench=$build/stitch/core/stitch_bench
[ -x "$bench" ] || { echo "missing $bench: build the benchmarks first" >&2; exit 1; }
# The widest output a context accepts, as the library states it.
max_w=$(sed -n 's/.*constexpr int kMaxStitchWidth = \([0-9]*\);.*/\1/p' stitch/core/include/stitch/stitch_context.h)
[ -n "$max_w" ] || { echo "kMaxStitchWidth not found" >&2; exit 1; }
if [ "$w" -le "$max_w" ]; then
  filter="BM_StitchImage/W:$w/format:0/threads:1/compiled:1/"
else
  filter="BM_Kernel/W:$w/format:0/threads:1/path:1/"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
raw=$tmp/frames.yuv
ffmpeg -loglevel error -nostdin -f lavfi -i "testsrc2=size=${w}x${h}:rate=25" -frames:v 4 \
  -pix_fmt yuv420p -f rawvideo "$raw"

# Prints "wall cpu" seconds of one ffmpeg run over N looped frames with extra arguments.
ffrun() {
  local n=$1
  shift
  ffmpeg -hide_banner -nostdin -benchmark -threads 1 -filter_threads 1 -stream_loop -1 \
    -f rawvideo -pix_fmt yuv420p -s "${w}x${h}" -i "$raw" -frames:v "$n" "$@" -f null - 2>&1 |
    sed -n 's/.*utime=\([0-9.]*\)s stime=\([0-9.]*\)s rtime=\([0-9.]*\)s.*/\3 \1 \2/p' |
    awk '{ printf "%.6f %.6f\n", $1, $2 + $3 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

v360="v360=input=dfisheye:output=equirect:interp=linear:ih_fov=200:iv_fov=200:w=${w}:h=${h}"
: > "$tmp/v360_wall"; : > "$tmp/v360_cpu"; : > "$tmp/ours_wall"; : > "$tmp/ours_cpu"
for ((i = 0; i < reps; i++)); do
  read -r d1w d1c < <(ffrun "$frames")
  read -r d2w d2c < <(ffrun $((2 * frames)))
  read -r v1w v1c < <(ffrun "$frames" -vf "$v360")
  read -r v2w v2c < <(ffrun $((2 * frames)) -vf "$v360")
  awk -v a="$v2w" -v b="$v1w" -v c="$d2w" -v d="$d1w" -v n="$frames" \
    'BEGIN { printf "%.3f\n", ((a - b) - (c - d)) * 1000 / n }' >> "$tmp/v360_wall"
  awk -v a="$v2c" -v b="$v1c" -v c="$d2c" -v d="$d1c" -v n="$frames" \
    'BEGIN { printf "%.3f\n", ((a - b) - (c - d)) * 1000 / n }' >> "$tmp/v360_cpu"
  "$bench" --benchmark_filter="$filter" --benchmark_min_time=1 --benchmark_format=csv 2>/dev/null |
    awk -F, '/^"BM_/ { printf "%s %s\n", $3, $4 }' > "$tmp/ours"
  [ -s "$tmp/ours" ] || { echo "no benchmark matched $filter" >&2; exit 1; }
  read -r ow oc < "$tmp/ours"
  echo "$ow" >> "$tmp/ours_wall"
  echo "$oc" >> "$tmp/ours_cpu"
  echo "repeat $((i + 1)): v360 $(tail -1 "$tmp/v360_wall") ms wall, $(tail -1 "$tmp/v360_cpu") ms cpu;" \
    "ours $ow ms wall, $oc ms cpu" >&2
done

vw=$(median < "$tmp/v360_wall"); vc=$(median < "$tmp/v360_cpu")
ow=$(median < "$tmp/ours_wall"); oc=$(median < "$tmp/ours_cpu")
echo "frame ${w}x${h} I420, one thread, median of $reps (load: $(cut -d' ' -f1-3 /proc/loadavg))"
printf "v360  %8.2f ms/frame wall  %8.2f ms/frame cpu\n" "$vw" "$vc"
printf "ours  %8.2f ms/frame wall  %8.2f ms/frame cpu\n" "$ow" "$oc"
awk -v a="$ow" -v b="$vw" -v c="$oc" -v d="$vc" \
  'BEGIN { printf "ratio ours/v360: %.2f wall, %.2f cpu\n", a / b, c / d }'
