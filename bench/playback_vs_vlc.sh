#!/usr/bin/env bash
# Plays the same generated dual-fisheye camera clip (30 fps) through our player (libvlc's
# frame callbacks into our renderer, the view stitched on the graphics card) and, in the same
# run, its equirectangular conversion through libvlc's own OpenGL output (its 360-degree view,
# the peer a user would otherwise pick), under one Xvfb with Mesa's llvmpipe. Prints the
# pictures displayed and lost that libvlc counted, the time from the open to the first
# picture, and for our player the milliseconds per picture spent uploading, drawing and (in a
# third run with a recorder attached, as during a screen recording) reading the frame back.
#
# Usage: bench/playback_vs_vlc.sh [BUILD_DIR] [SECONDS] [WIDTH...]
#   BUILD_DIR  default build; needs bin/spherolux-camgen, bin/spherolux-cli, bin/libconvert.so
#              and media/playback_bench
#   SECONDS    playing time of each run, default 20
#   WIDTH      clip widths (height = WIDTH / 2), default 1920 3840
# Take the machine alone while it runs: flock -x /work/.bench.lock bench/playback_vs_vlc.sh
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-20}
shift $(($# > 2 ? 2 : $#))
widths=("$@")
[ ${#widths[@]} -gt 0 ] || widths=(1920 3840)
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for width in "${widths[@]}"; do
  height=$((width / 2))
  raw="$work/raw-$width.mp4"
  ffmpeg -nostdin -y -loglevel error -f lavfi -i "testsrc2=size=${width}x${height}:rate=30" \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -t $((seconds + 2)) \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac "$raw"
  "$build/bin/spherolux-camgen" embed "$raw" "$work/camera-$width.mp4" --type 2 >/dev/null
  "$build/bin/spherolux-cli" convert "$work/camera-$width.mp4" "$work/equirect-$width.mp4" --quality high \
    > /dev/null 2>&1
done

cat > "$work/runs.sh" <<RUNS
set -e
for width in ${widths[*]}; do
  echo "\${width}x\$((width / 2)), $seconds s at 30 fps:"
  "$build/media/playback_bench" ours "$work/camera-\$width.mp4" $seconds 2>/dev/null | sed 's/^/  /'
  "$build/media/playback_bench" ours "$work/camera-\$width.mp4" $seconds --readback 2>/dev/null | sed 's/^/  /'
  "$build/media/playback_bench" peer "$work/equirect-\$width.mp4" $seconds 2>/dev/null | sed 's/^/  /'
done
RUNS
"$here/scripts/xvfb-run-test.sh" bash "$work/runs.sh"
