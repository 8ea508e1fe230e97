#!/usr/bin/env bash
# Whole-process time of `spherolux-cli stitch` on a 5376 x 2688 dual-fisheye camera photo
# against ffmpeg's v360 filter on the same JPEG, in the same run (median of N runs); then a
# batch of BATCH (env, default 20) photos of that camera in one `stitch --output-dir` run, per
# photo, against v360's one photo and against decoding and encoding alone (djpeg | cjpeg at the
# same JPEG quality, one photo after another).
# Usage: [BATCH=N] bench/photo_vs_v360.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
command -v ffmpeg >/dev/null || { echo "missing ffmpeg"; exit 1; }
cmake --build "$build" --target spherolux-cli spherolux-camgen >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/bin/spherolux-camgen" photo "$tmp/cam.jpg" --size 5376x2688 >/dev/null

# Median wall time and median CPU time (user + system), in ms, of a command run $runs times.
# On a shared machine the CPU time is the steadier figure.
measure() {
  local walls=() cpus=()
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %U %S" -o "$tmp/time" "$@" >/dev/null
    read -r e u s <"$tmp/time"
    walls+=("$e")
    cpus+=("$(awk -v u="$u" -v s="$s" 'BEGIN {print u + s}')")
  done
  local wall cpu
  wall=$(printf '%s\n' "${walls[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)] * 1000}')
  cpu=$(printf '%s\n' "${cpus[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)] * 1000}')
  echo "$wall $cpu"
}

read -r ours_wall ours_cpu < <(measure "$build/bin/spherolux-cli" stitch "$tmp/cam.jpg" "$tmp/ours.jpg" --quality low --overwrite)
read -r ff_wall ff_cpu < <(measure ffmpeg -nostdin -v error -y -i "$tmp/cam.jpg" \
  -vf v360=dfisheye:e:ih_fov=200:iv_fov=200 -q:v 2 "$tmp/v360.jpg")
awk -v ow="$ours_wall" -v oc="$ours_cpu" -v fw="$ff_wall" -v fc="$ff_cpu" 'BEGIN {
  printf "%-22s %10s %10s\n", "", "wall ms", "CPU ms"
  printf "%-22s %10.0f %10.0f\n", "spherolux-cli stitch", ow, oc
  printf "%-22s %10.0f %10.0f\n", "ffmpeg v360", fw, fc
  printf "ratio ours/ffmpeg: wall %.2f, CPU %.2f\n", ow / fw, oc / fc
}'

batch=${BATCH:-20}
mkdir -p "$tmp/batch" "$tmp/out"
for i in $(seq "$batch"); do cp "$tmp/cam.jpg" "$tmp/batch/photo_$i.jpg"; done
read -r batch_wall batch_cpu < <(measure bash -c 'rm -f "$0"/*; "$1" stitch --output-dir "$0" --quality low "${@:2}" 2>/dev/null' \
  "$tmp/out" "$build/bin/spherolux-cli" "$tmp/batch"/*.jpg)
read -r floor_wall floor_cpu < <(measure bash -c 'for f in "$@"; do djpeg "$f" | cjpeg -quality 90 >/dev/null; done' \
  _ "$tmp/batch"/*.jpg)
awk -v n="$batch" -v bw="$batch_wall" -v bc="$batch_cpu" -v fw="$ff_wall" -v lw="$floor_wall" -v lc="$floor_cpu" 'BEGIN {
  printf "a batch of %d photos, per photo: %.0f ms wall, %.0f ms CPU\n", n, bw / n, bc / n
  printf "ratio per photo ours/ffmpeg v360: %.3f; ours/(djpeg | cjpeg): wall %.2f, CPU %.2f\n", bw / n / fw, bw / lw, bc / lc
}'
