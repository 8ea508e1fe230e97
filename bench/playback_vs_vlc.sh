#!/usr/bin/env bash
# Plays the same generated dual-fisheye camera clip (30 fps) through our player (libvlc's
# frame callbacks into our renderer, the view stitched on the graphics card) and, in the same
# run, its equirectangular conversion through libvlc's own OpenGL output (its 360-degree view,
# the peer a user would otherwise pick), under one Xvfb with Mesa's llvmpipe. Prints the
# pictures displayed and lost that libvlc counted, the time from the open to the first
# picture, and for our player the milliseconds per picture spent uploading, drawing and (in a
# third run with a recorder attached, as during a screen recording) reading the frame back.
#
# Usage: [BENCH_LOCK=CMD] [PLAYBACK_CLIPS=DIR] bench/playback_vs_vlc.sh [BUILD_DIR] [SECONDS] [WIDTH...]
#   BUILD_DIR       default build; needs bin/spherolux-camgen, bin/spherolux-cli,
#                   bin/libconvert.so and media/playback_bench
#   SECONDS         playing time of each run, default 20
#   WIDTH           clip widths (height = WIDTH / 2), default 1920 3840
#   BENCH_LOCK      command that takes the machine alone (a lock wrapper, say): the clips
#                   are made first, then only the timed runs wait for it and hold it
#   PLAYBACK_CLIPS  folder that keeps the clips, reused by later runs (default: a temporary
#                   folder, removed at the end)
# Without BENCH_LOCK, take the machine alone for the whole script:
#   flock -x LOCKFILE bench/playback_vs_vlc.sh   (LOCKFILE: the lock the machine's builds also take)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-20}
shift $(($# > 2 ? 2 : $#))
widths=("$@")
[ ${#widths[@]} -gt 0 ] || widths=(1920 3840)
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clips=${PLAYBACK_CLIPS:-$work}
mkdir -p "$clips"
clips=$(cd "$clips" && pwd)

for width in "${widths[@]}"; do
  height=$((width / 2))
  camera="$clips/camera-$width-$seconds.mp4"
  equirect="$clips/equirect-$width-$seconds.mp4"
  [ -s "$camera" ] && [ -s "$equirect" ] && continue
  raw="$work/raw-$width.mp4"
  ffmpeg -nostdin -y -loglevel error -f lavfi -i "testsrc2=size=${width}x${height}:rate=30" \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -t $((seconds + 2)) \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac "$raw"
  # Made under other names and moved in place, so that a run cut short leaves no clip behind
  # that a later run would take for whole.
  "$build/bin/spherolux-camgen" embed "$raw" "$work/camera.mp4" --type 2 >/dev/null
  "$build/bin/spherolux-cli" convert "$work/camera.mp4" "$work/equirect.mp4" --quality high > /dev/null 2>&1
  mv "$work/camera.mp4" "$camera"
  mv "$work/equirect.mp4" "$equirect"
done

cat > "$work/runs.sh" <<RUNS
set -e
for width in ${widths[*]}; do
  echo "\${width}x\$((width / 2)), $seconds s at 30 fps:"
  "$build/media/playback_bench" ours "$clips/camera-\$width-$seconds.mp4" $seconds 2>/dev/null | sed 's/^/  /'
  "$build/media/playback_bench" ours "$clips/camera-\$width-$seconds.mp4" $seconds --readback 2>/dev/null | sed 's/^/  /'
  "$build/media/playback_bench" peer "$clips/equirect-\$width-$seconds.mp4" $seconds 2>/dev/null | sed 's/^/  /'
done
RUNS
# shellcheck disable=SC2086 # BENCH_LOCK is a command with its arguments
${BENCH_LOCK:-} "$here/scripts/xvfb-run-test.sh" bash "$work/runs.sh"
