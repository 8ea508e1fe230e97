#!/usr/bin/env bash
# What converting one clip in N parts on N machines gains, measured on this one machine:
# the whole conversion, then for N = 2, 4, 8 every part of it run one after another (the
# slowest part is the wall time on N machines like this one, each part having the machine
# to itself) and the merge that joins them. Prints each against the goal: the slowest part
# at most 1.15 / N of the whole, the merge under 2 % of it.
#
# Usage: bench/cluster_parts.sh [BUILD_DIR]
#   CLIP_SECONDS   length of the generated camera clip (default 60)
#   CLIP_SIZE      its size (default 3840x1920: a 3840 x 1920 panorama)
#   PART_COUNTS    the values of N (default "2 4 8")
# The times are wall times: run it where nothing else runs meanwhile, e.g. under the lock
# the machine's builds also take (flock -x LOCKFILE bench/cluster_parts.sh).
set -euo pipefail
build=$(realpath -- "${1:-build}")
seconds=${CLIP_SECONDS:-60}
size=${CLIP_SIZE:-3840x1920}
counts=${PART_COUNTS:-2 4 8}
cli=$build/bin/spherolux-cli
for tool in "$cli" "$build/bin/spherolux-camgen"; do
  [ -x "$tool" ] || { echo "cluster_parts: $tool is not built" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/cluster-parts-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs a command and prints its wall and CPU seconds (user + system, "WALL CPU"); a failure
# ends the benchmark. The CPU seconds hardly change with what else the machine runs.
timed() {
  local TIMEFORMAT='%R %U %S' t
  t=$({ time "$@" >/dev/null 2>"$work/last.err"; } 2>&1) || { cat "$work/last.err" >&2; exit 1; }
  read -r wall user sys <<<"$t"
  echo "$wall $(echo "$user + $sys" | bc)"
}
frames() { ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$1" | tr -d ,; }

echo "cluster_parts: making a ${seconds} s ${size} camera clip"
"$build/bin/spherolux-camgen" video "$work/clip.mp4" --size "$size" --seconds "$seconds"

read -r whole whole_cpu < <(timed "$cli" --quiet convert "$work/clip.mp4" "$work/whole.mp4")
printf 'one machine: %.2f s, %.2f s CPU (%s frames)\n' "$whole" "$whole_cpu" "$(frames "$work/whole.mp4")"
echo "goal: slowest part <= 1.15 T1/N, merge < 2 % of T1 (wall; the CPU column compares CPU seconds)"
printf '%3s %13s %9s %10s %8s %15s %9s %15s\n' N slowest_part merge wall_on_N speedup "slowest/(T1/N)" merge/T1 \
  "CPU:slowest/(T1/N)"
verdict() { [ "$(echo "$1" | bc)" = 1 ] && echo ok || echo over; }
for n in $counts; do
  slowest=0 slowest_cpu=0
  list=()
  for ((k = 0; k < n; k++)); do
    read -r t cpu < <(timed "$cli" --quiet convert "$work/clip.mp4" --part "$k/$n" "$work/part$k.mp4")
    slowest=$(echo "if ($t > $slowest) $t else $slowest" | bc)
    slowest_cpu=$(echo "if ($cpu > $slowest_cpu) $cpu else $slowest_cpu" | bc)
    list+=("$work/part$k.mp4")
  done
  read -r merge _ < <(timed "$cli" --quiet merge "$work/merged.mp4" "${list[@]}")
  [ "$(frames "$work/merged.mp4")" = "$(frames "$work/whole.mp4")" ] ||
    { echo "cluster_parts: the joined file of $n parts has a different frame count" >&2; exit 1; }
  ratio=$(echo "scale=3; $slowest * $n / $whole" | bc)
  cpu_ratio=$(echo "scale=3; $slowest_cpu * $n / $whole_cpu" | bc)
  share=$(echo "scale=2; 100 * $merge / $whole" | bc)
  printf '%3d %11.2f s %7.2f s %8.2f s %7.2fx %10.3f %-4s %6.2f %% %-4s %10.3f %s\n' "$n" "$slowest" "$merge" \
    "$(echo "$slowest + $merge" | bc)" "$(echo "scale=3; $whole / ($slowest + $merge)" | bc)" \
    "$ratio" "$(verdict "$ratio <= 1.15")" "$share" "$(verdict "$share < 2")" "$cpu_ratio" "$(verdict "$cpu_ratio <= 1.15")"
  rm -f "${list[@]}" "$work/merged.mp4"
done
