#!/usr/bin/env bash
# Decode and encode speed of our JPEG codec against libjpeg-turbo on one 5376 x 2688 4:2:0
# photo, in the same run:
#   - libjpeg-turbo: djpeg and cjpeg as whole processes (median of N runs), and tjbench;
#   - ours: the jpeg_benchmark program (Google Benchmark, median of N repetitions), fed
#     the same JPEG file; it re-encodes the decoded I420 planes at the same quality.
# Usage: bench/jpeg_vs_libjpeg.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
w=5376
h=2688
quality=90

for tool in ffmpeg cjpeg djpeg tjbench; do
  command -v "$tool" >/dev/null || { echo "missing $tool (libjpeg-turbo-progs, ffmpeg)"; exit 1; }
done
cmake --build "$build" --target jpeg_benchmark >/dev/null
bench="$build/stitch/jpeg/jpeg_benchmark"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A test pattern with mild noise, to give the entropy coder the work of a camera photo.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=${w}x${h}" -vf noise=alls=6:allf=u -frames:v 1 \
  "$tmp/photo.ppm"
cjpeg -quality "$quality" -sample 2x2 -outfile "$tmp/photo.jpg" "$tmp/photo.ppm"
echo "photo: ${w}x${h} 4:2:0, quality $quality, $(stat -c %s "$tmp/photo.jpg") bytes"

# Median wall time in ms of a command run $runs times.
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

djpeg_ms=$(median_ms djpeg -outfile /dev/null "$tmp/photo.jpg")
cjpeg_ms=$(median_ms cjpeg -quality "$quality" -sample 2x2 -outfile /dev/null "$tmp/photo.ppm")

ours=$(JPEG_BENCH_FILE="$tmp/photo.jpg" "$bench" --benchmark_filter="BM_Decode|BM_Encode/$quality/" \
  --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null)
ours_dec=$(echo "$ours" | awk -F, '/BM_Decode.*_median/ {print $3}')
ours_enc=$(echo "$ours" | awk -F, '/BM_Encode.*_median/ {print $3}')

mp=$(awk -v w=$w -v h=$h 'BEGIN {print w*h/1e6}')
awk -v mp="$mp" -v dj="$djpeg_ms" -v cj="$cjpeg_ms" -v od="$ours_dec" -v oe="$ours_enc" 'BEGIN {
  printf "%-34s %9s %9s\n", "", "ms", "MP/s"
  printf "%-34s %9.1f %9.1f\n", "djpeg (process, to PPM)", dj, mp / dj * 1000
  printf "%-34s %9.1f %9.1f\n", "ours decode (16-row strips, I420)", od, mp / od * 1000
  printf "%-34s %9.1f %9.1f\n", "cjpeg (process, from PPM)", cj, mp / cj * 1000
  printf "%-34s %9.1f %9.1f\n", "ours encode (I420)", oe, mp / oe * 1000
  printf "ratio ours/libjpeg-turbo: decode %.2f, encode %.2f, decode+encode %.2f\n", od / dj, oe / cj, (od + oe) / (dj + cj)
}'
echo "tjbench (in memory, RGB in and out, for reference):"
tjbench "$tmp/photo.ppm" "$quality" -subsamp 420 -benchtime 1 -warmup 1 2>/dev/null |
  grep -E "^(Compress|Decompress)|Throughput" | head -4 || true
