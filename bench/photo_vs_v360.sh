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

read -r ours_wall ours_cpu < <(measure "$build/bin/spherolux-cli" stitch "$tmp/cam.jpg" "$tmp/ours.jpg" --quality low)
read -r ff_wall ff_cpu < <(measure ffmpeg -nostdin -v error -y -i "$tmp/cam.jpg" \
  -vf v360=dfisheye:e:ih_fov=200:iv_fov=200 -q:v 2 "$tmp/v360.jpg")
awk -v ow="$ours_wall" -v oc="$ours_cpu" -v fw="$ff_wall" -v fc="$ff_cpu" 'BEGIN {
  printf "%-22s %10s %10s\n", "", "wall ms", "CPU ms"
  printf "%-22s %10.0f %10.0f\n", "spherolux-cli stitch", ow, oc
  printf "%-22s %10.0f %10.0f\n", "ffmpeg v360", fw, fc
  printf "ratio ours/ffmpeg: wall %.2f, CPU %.2f\n", ow / fw, oc / fc
}'
