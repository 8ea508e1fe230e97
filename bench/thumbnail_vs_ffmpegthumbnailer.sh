#!/usr/bin/env bash
# Times spherolux-thumbnailer, whole process, on a generated 5376x2688 dual-lens camera photo
# and a 3840x1920 dual-lens camera video, and ffmpegthumbnailer (the thumbnailer file
# managers use for videos; it shows the raw lens circles) on the same video, in one run.
#
# Usage: bench/thumbnail_vs_ffmpegthumbnailer.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  default build; needs bin/spherolux-thumbnailer and bin/spherolux-camgen
#   RUNS       runs of each command, alternating, default 11; the median is reported
# Needs ffmpegthumbnailer (Debian package of that name). SIZE (env) is the thumbnail size,
# default 256 (the freedesktop "large" size).
set -euo pipefail
build=${1:-build}
runs=${2:-11}
size=${SIZE:-256}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bin/spherolux-camgen" photo "$work/photo.jpg" --type 2 --size 5376x2688
"$bin/spherolux-camgen" video "$work/video.mp4" --type 2 --size 3840x1920 --seconds 10

# Wall time of one command in milliseconds.
ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
photo=() video=() peer=()
for ((i = 0; i < runs; i++)); do
  photo+=("$(ms "$bin/spherolux-thumbnailer" -s "$size" "$work/photo.jpg" "$work/photo.png")")
  video+=("$(ms "$bin/spherolux-thumbnailer" -s "$size" "$work/video.mp4" "$work/video.png")")
  peer+=("$(ms ffmpegthumbnailer -s "$size" -i "$work/video.mp4" -o "$work/peer.png")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
t_photo=$(median "${photo[@]}")
t_video=$(median "${video[@]}")
t_peer=$(median "${peer[@]}")
printf 'thumbnail size %s, %d runs each, median wall time of the whole process\n' "$size" "$runs"
printf '  photo 5376x2688, ours:              %6s ms (goal <= 150)\n' "$t_photo"
printf '  video 3840x1920, ours:              %6s ms (goal <= 400)\n' "$t_video"
printf '  video 3840x1920, ffmpegthumbnailer: %6s ms\n' "$t_peer"
awk -v a="$t_video" -v b="$t_peer" 'BEGIN {printf "  video ratio ours / ffmpegthumbnailer: %.2f (goal <= 0.5)\n", a / b}'
