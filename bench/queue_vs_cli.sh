#!/usr/bin/env bash
# Converts three generated camera clips once as one queue (spherolux-cli convert A B C
# --output-dir DIR) and once as three spherolux-cli runs one after another, in one run, and
# prints both wall and CPU times (user + system) and their ratios (queue / three runs).
#
# Usage: bench/queue_vs_cli.sh [BUILD_DIR] [SECONDS] [WIDTH] [QUALITY]
#   BUILD_DIR  default build; needs bin/spherolux-cli, bin/libconvert.so, bin/spherolux-camgen
#   SECONDS    length of each clip, default 4
#   WIDTH      clip width (height = WIDTH / 2), default 1920
#   QUALITY    low, medium or high, default low
# Both ways run RUNS times (default 1, env RUNS) alternately; the median time is reported.
set -euo pipefail
build=${1:-build}
seconds=${2:-4}
width=${3:-1920}
quality=${4:-low}
height=$((width / 2))
runs=${RUNS:-1}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

clips=()
for name in a b c; do
  "$bin/spherolux-camgen" video "$work/$name.mp4" --size "${width}x${height}" --seconds "$seconds" >/dev/null
  clips+=("$work/$name.mp4")
done
mkdir -p "$work/queue" "$work/single"

TIMEFORMAT='%R %U %S'
measure() { { time "$@" >/dev/null 2>"$work/cmd.log"; } 2>"$work/time.txt" || { cat "$work/cmd.log"; exit 1; }
  awk '{printf "%s %s\n", $1, $2 + $3}' "$work/time.txt"; }
one_by_one() { for clip in "${clips[@]}"; do
  "$bin/spherolux-cli" convert "$clip" --output-dir "$work/single" --quality "$quality" || return 1; done; }
queue=() single=() queue_cpu=() single_cpu=()
for ((i = 0; i < runs; i++)); do
  rm -f "$work"/queue/* "$work"/single/*
  read -r wall cpu < <(measure "$bin/spherolux-cli" convert "${clips[@]}" --output-dir "$work/queue" --quality "$quality")
  queue+=("$wall") queue_cpu+=("$cpu")
  read -r wall cpu < <(measure one_by_one)
  single+=("$wall") single_cpu+=("$cpu")
done
[ "$(ls "$work/queue" | wc -l)" = 3 ] && [ "$(ls "$work/single" | wc -l)" = 3 ] || { echo "missing outputs" >&2; exit 1; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
t_queue=$(median "${queue[@]}")
t_single=$(median "${single[@]}")
c_queue=$(median "${queue_cpu[@]}")
c_single=$(median "${single_cpu[@]}")
printf 'three %dx%d clips of %s s, quality %s, %d run(s), median wall and CPU times\n' "$width" "$height" \
  "$seconds" "$quality" "$runs"
printf 'queue (one spherolux-cli convert A B C): %8.2f s wall %8.2f s CPU\n' "$t_queue" "$c_queue"
printf 'three spherolux-cli convert runs:        %8.2f s wall %8.2f s CPU\n' "$t_single" "$c_single"
awk -v q="$t_queue" -v s="$t_single" -v cq="$c_queue" -v cs="$c_single" \
  'BEGIN {printf "ratio queue / three runs: %.3f wall (target <= 1.02), %.3f CPU\n", q / s, cq / cs}'
