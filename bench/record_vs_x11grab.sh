#!/usr/bin/env bash
# The screen recorder against the tool a user would otherwise record the view with: ffmpeg
# grabbing the same X display (x11grab) into libx264 with the recorder's encoder settings.
# One Xvfb display; a 1920x960 30 fps clip plays through the renderer in a window there:
#   1. playing only (the baseline for draw time and CPU);
#   2. playing and recording with our recorder;
#   3. playing while ffmpeg records the window's area of the display.
# Prints frames captured, encoded and dropped, the drawing thread's extra cost per frame
# (reading the frame back into the queue) and the CPU each way of recording costs. The
# extra cost is the difference in drawing time: llvmpipe draws lazily, so the read-back
# inside Capture also does the drawing that would otherwise wait for the buffer swap.
#
# Usage: [flock -x LOCKFILE] bench/record_vs_x11grab.sh [BUILD_DIR] [SECONDS]
#   (LOCKFILE: a lock the machine's builds also take, so that nothing else runs meanwhile)
set -euo pipefail
build=${1:-build}
seconds=${2:-20}
width=1920
height=960
fps=30
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
runtime=$(mktemp -d)
chmod 700 "$runtime"
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work" "$runtime"
}
trap cleanup EXIT

display=:$((100 + RANDOM % 800))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
export DISPLAY=$display LANG=C.UTF-8 QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=xcb_glx LIBGL_ALWAYS_SOFTWARE=1
export XDG_RUNTIME_DIR=$runtime

clip=$work/clip.mp4
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=${width}x${height}:rate=$fps:duration=2" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac "$clip"

play() { "$bin/record_bench" "$clip" $width $height $fps "$seconds" "$@"; }
field() { sed -n "s/.*\"$2\":\([^,}]*\).*/\1/p" <<<"$1"; }

idle=$(play)
read_back=$(play --read-back)
ours=$(play --record "$work/ours.mp4")

# ffmpeg with the recorder's x264 settings (x264 defaults, then the Part's parameters).
x264="keyint=30:ref=1:bframes=0:b-adapt=0:cabac=0:8x8dct=0:weightp=0:rc-lookahead=0:partitions=i4x4,i8x8"
x264="$x264:me=dia:merange=8:subme=0:aq-mode=0:mixed-refs=0:trellis=0:mbtree=0:no-dct-decimate=1"
play >"$work/peer-play.json" &
player=$!
sleep 1.5  # the window is up and drawing
TIMEFORMAT='%U %S'
peer_cpu=$( { time ffmpeg -nostdin -v error -stats -f x11grab -framerate $fps -video_size ${width}x${height} \
  -i "$display+0,0" -t $((seconds - 3)) -c:v libx264 -b:v 10485k -x264-params "$x264" -y "$work/peer.mp4" \
  2>"$work/peer.log" >/dev/null; } 2>&1 | tail -1)
wait "$player"
peer_frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of default=nw=1:nk=1 "$work/peer.mp4")
peer_drop=$(tr '\r' '\n' <"$work/peer.log" | sed -n 's/.*drop=\s*\([0-9]*\).*/\1/p' | tail -1)
ours_frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of default=nw=1:nk=1 "$work/ours.mp4")

awk -v idle_draw="$(field "$idle" draw_ms)" -v ours_draw="$(field "$ours" draw_ms)" \
  -v idle_cpu="$(field "$idle" cpu_s)" -v ours_cpu="$(field "$ours" cpu_s)" \
  -v capture="$(field "$ours" capture_ms)" -v read_draw="$(field "$read_back" draw_ms)" -v peer_cpu="$peer_cpu" -v peer_secs=$((seconds - 3)) -v secs="$seconds" \
  -v captured="$(field "$ours" captured)" -v encoded="$(field "$ours" encoded)" \
  -v dropped="$(field "$ours" dropped)" -v late="$(field "$ours" late)" -v idle_late="$(field "$idle" late)" \
  -v frames="$(field "$ours" frames)" -v ours_frames="$ours_frames" \
  -v peer_frames="$peer_frames" -v peer_drop="${peer_drop:-0}" 'BEGIN {
  split(peer_cpu, pc, " ");
  printf "%dx%d at %d fps for %d s (draws late: %d playing only, %d recording)\n", 1920, 960, 30, secs, idle_late, late;
  printf "ours:   %d drawn, %d captured, %d encoded, %d dropped, %d frames in the file\n", frames, captured, encoded, dropped, ours_frames;
  printf "        drawing thread: %.2f ms per frame playing only, %.2f ms recording: +%.2f ms\n", idle_draw, ours_draw, ours_draw - idle_draw;
  printf "        read-back alone: +%.2f ms; time in Capture, drawing done by the read-back included: %.2f ms\n", read_draw - idle_draw, capture;
  printf "        CPU of recording: %.2f s over %d s (%.0f%% of a core)\n", ours_cpu - idle_cpu, secs, 100 * (ours_cpu - idle_cpu) / secs;
  printf "ffmpeg: %d frames in the file, %s dropped\n", peer_frames, peer_drop;
  printf "        CPU of recording: %.2f s over %d s (%.0f%% of a core)\n", pc[1] + pc[2], peer_secs, 100 * (pc[1] + pc[2]) / peer_secs;
  printf "CPU per second recorded, ours / ffmpeg: %.2f\n", ((ours_cpu - idle_cpu) / secs) / ((pc[1] + pc[2]) / peer_secs);
}'
