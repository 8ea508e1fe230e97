#!/usr/bin/env bash
# Converts the same generated dual-fisheye camera clip with our engine (spherolux-cli convert,
# Medium quality) and with ffmpeg's v360 filter (dfisheye to equirect, the same x264
# settings), in one run, and prints frames per second for both and their time ratio.
#
# Usage: bench/convert_vs_v360.sh [BUILD_DIR] [SECONDS] [WIDTH]
#   BUILD_DIR  default build; needs bin/spherolux-cli, bin/libconvert.so, bin/spherolux-camgen
#   SECONDS    clip length, default 10
#   WIDTH      clip width (height = WIDTH / 2), default 3840
# Each tool runs RUNS times (default 1, env RUNS) alternately; the median time is reported.
# TYPE=1 (env) compares a single-lens camera clip with v360's fisheye input instead.
set -euo pipefail
build=${1:-build}
seconds=${2:-10}
width=${3:-3840}
height=$((width / 2))
runs=${RUNS:-1}
type=${TYPE:-2}
if [ "$type" = 1 ]; then
  v360="v360=input=fisheye:output=equirect:ih_fov=190:iv_fov=190:w=$width:h=$height"
else
  v360="v360=input=dfisheye:output=equirect:ih_fov=200:iv_fov=200"
fi
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

clip="$work/camera.mp4"
"$bin/spherolux-camgen" video "$clip" --type "$type" --size "${width}x${height}" --seconds "$seconds"
frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of default=nw=1:nk=1 "$clip")

# Wall time and CPU time (user + system, children included) of one command.
TIMEFORMAT='%R %U %S'
measure() { { time "$@" >/dev/null 2>"$work/cmd.log"; } 2>"$work/time.txt" || { cat "$work/cmd.log"; exit 1; }
  awk '{printf "%s %s\n", $1, $2 + $3}' "$work/time.txt"; }
ours=() theirs=() ours_cpu=() theirs_cpu=() plain=() plain_cpu=()
for ((i = 0; i < runs; i++)); do
  rm -f "$work"/out_*.mp4
  read -r wall cpu < <(measure "$bin/spherolux-cli" convert "$clip" "$work/out_ours.mp4" --quality medium)
  ours+=("$wall") ours_cpu+=("$cpu")
  read -r wall cpu < <(measure ffmpeg -nostdin -v error -y -i "$clip" -t "$seconds" -vf "$v360" \
    -pix_fmt yuv420p -b:v 10000k -profile:v main -preset veryfast -refs 2 -bf 1 -c:a copy \
    -movflags +faststart "$work/out_v360.mp4")
  theirs+=("$wall") theirs_cpu+=("$cpu")
  # The floor: the same encode without any projection change.
  read -r wall cpu < <(measure ffmpeg -nostdin -v error -y -i "$clip" -t "$seconds" \
    -pix_fmt yuv420p -b:v 10000k -profile:v main -preset veryfast -refs 2 -bf 1 -c:a copy \
    -movflags +faststart "$work/out_plain.mp4")
  plain+=("$wall") plain_cpu+=("$cpu")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
t_ours=$(median "${ours[@]}")
t_v360=$(median "${theirs[@]}")
c_ours=$(median "${ours_cpu[@]}")
c_v360=$(median "${theirs_cpu[@]}")
t_plain=$(median "${plain[@]}")
c_plain=$(median "${plain_cpu[@]}")
out_frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets \
  -of default=nw=1:nk=1 "$work/out_ours.mp4")
printf 'camera type %s, clip: %dx%d, %s s, %s frames (ours wrote %s), %d run(s), median times\n' \
  "$type" "$width" "$height" "$seconds" "$frames" "$out_frames" "$runs"
awk -v f="$frames" -v a="$t_ours" -v b="$t_v360" -v ca="$c_ours" -v cb="$c_v360" -v p="$t_plain" -v cp="$c_plain" 'BEGIN {
  printf "spherolux engine: %7.2f s wall %7.2f fps   %7.2f s CPU\n", a, f / a, ca
  printf "ffmpeg v360:      %7.2f s wall %7.2f fps   %7.2f s CPU\n", b, f / b, cb
  printf "ffmpeg, no v360:  %7.2f s wall %7.2f fps   %7.2f s CPU (encoder floor)\n", p, f / p, cp
  printf "ratio ours / v360: wall %.3f, CPU %.3f (target: wall <= 0.75)\n", a / b, ca / cb
}'
