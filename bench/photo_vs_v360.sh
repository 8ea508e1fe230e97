#!/usr/bin/env bash
# Whole-process time of `spherolux-cli stitch` on a 5376 x 2688 dual-fisheye camera photo
# against ffmpeg's v360 filter on the same JPEG, in the same run (median of N runs).
# Usage: bench/photo_vs_v360.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
command -v ffmpeg >/dev/null || { echo "missing ffmpeg"; exit 1; }
cmake --build "$build" --target spherolux-cli spherolux-camgen >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/bin/spherolux-camgen" photo "$tmp/cam.jpg" --size 5376x2688 >/dev/null

median_ms() {
  local times=()
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}'
}

ours=$(median_ms "$build/bin/spherolux-cli" stitch "$tmp/cam.jpg" "$tmp/ours.jpg" --quality low)
theirs=$(median_ms ffmpeg -nostdin -v error -y -i "$tmp/cam.jpg" -vf v360=dfisheye:e:ih_fov=200:iv_fov=200 \
  -q:v 2 "$tmp/v360.jpg")
awk -v o="$ours" -v t="$theirs" 'BEGIN {
  printf "spherolux-cli stitch  %8.1f ms\nffmpeg v360           %8.1f ms\nratio ours/ffmpeg     %8.2f\n", o, t, o / t
}'
