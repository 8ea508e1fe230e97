#!/usr/bin/env bash
# Renders a flat 1920x1080 video from the same generated dual-lens camera clip with our engine
# (spherolux-cli reframe, Medium quality, the view turning all the way round along a path) and
# with ffmpeg's v360 filter (dfisheye to flat, a fixed view, the same x264 settings), in one
# run, and prints both times, their ratio and the speed against real time.
#
# Usage: bench/reframe_vs_v360.sh [BUILD_DIR] [SECONDS] [WIDTH]
#   BUILD_DIR  default build; needs bin/spherolux-cli, bin/libconvert.so, bin/spherolux-camgen
#   SECONDS    clip length, default 10
#   WIDTH      clip width (height = WIDTH / 2), default 3840
# Each tool runs RUNS times (default 1, env RUNS) alternately; the median is reported.
set -euo pipefail
build=${1:-build}
seconds=${2:-10}
width=${3:-3840}
height=$((width / 2))
runs=${RUNS:-1}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

clip="$work/camera.mp4"
"$bin/spherolux-camgen" video "$clip" --type 2 --size "${width}x${height}" --seconds "$seconds"
cat >"$work/path.json" <<JSON
{"keyframes": [{"t": 0, "yaw": -150, "pitch": 0, "fov": 90},
               {"t": $((seconds / 2)), "yaw": 0, "pitch": 20, "fov": 70},
               {"t": $seconds, "yaw": 150, "pitch": -10, "fov": 100}]}
JSON

TIMEFORMAT='%R'
measure() { { time "$@" >/dev/null 2>"$work/cmd.log"; } 2>"$work/time.txt" || { cat "$work/cmd.log"; exit 1; }
  cat "$work/time.txt"; }
ours=() theirs=()
for ((i = 0; i < runs; i++)); do
  rm -f "$work"/out_*.mp4
  ours+=("$(measure "$bin/spherolux-cli" reframe "$clip" "$work/out_ours.mp4" --path "$work/path.json" \
    --size 1920x1080 --quality medium)")
  theirs+=("$(measure ffmpeg -nostdin -v error -y -i "$clip" -t "$seconds" \
    -vf "v360=input=dfisheye:output=flat:ih_fov=200:iv_fov=200:h_fov=90:v_fov=58.7:w=1920:h=1080" \
    -pix_fmt yuv420p -b:v 10000k -profile:v main -preset veryfast -refs 2 -bf 1 -c:a copy \
    -movflags +faststart "$work/out_v360.mp4")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
t_ours=$(median "${ours[@]}")
t_v360=$(median "${theirs[@]}")
printf 'clip %dx%d, %s s, to 1920x1080, %d run(s), median wall time\n' "$width" "$height" "$seconds" "$runs"
printf '  ours (moving view):  %6.2f s  (%.2fx real time)\n' "$t_ours" "$(echo "$seconds / $t_ours" | bc -l)"
printf '  v360 (fixed view):   %6.2f s\n' "$t_v360"
printf '  ratio ours / v360:   %6.2f (goal <= 0.6)\n' "$(echo "$t_ours / $t_v360" | bc -l)"
