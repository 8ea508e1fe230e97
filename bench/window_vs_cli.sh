#!/usr/bin/env bash
# Converts one generated camera clip from the converter window (spherolux --converter CLIP,
# Start clicked with xdotool: the time from the click until the finished file is in place) and
# with spherolux-cli convert (the whole run), alternately in one run, at the window's default
# quality (Medium), and prints both times and their ratio (window / CLI).
#
# Usage: bench/window_vs_cli.sh [BUILD_DIR] [SECONDS] [WIDTH]
#   BUILD_DIR  default build; needs bin/spherolux, bin/spherolux-cli, bin/libconvert.so,
#              bin/spherolux-camgen
#   SECONDS    length of the clip, default 4
#   WIDTH      clip width (height = WIDTH / 2), default 1920
# Each way runs RUNS times (default 3, env RUNS); the medians are compared. Without a display
# the script runs itself under its own Xvfb server (scripts/xvfb-run-test.sh); needs xdotool.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${DISPLAY:-}" ]; then exec "$here/../scripts/xvfb-run-test.sh" "$0" "$@"; fi
build=${1:-build}
seconds=${2:-4}
width=${3:-1920}
height=$((width / 2))
runs=${RUNS:-3}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
app=
cleanup() {
  if [ -n "$app" ]; then kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

clip="$work/clip.mp4"
"$bin/spherolux-camgen" video "$clip" --size "${width}x${height}" --seconds "$seconds" >/dev/null
now() { date +%s.%N; }
# User and system CPU ticks of a process so far.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# Waits until FILE holds data (the engine puts the finished file in place in one step).
wait_for_data() { while [ ! -s "$1" ]; do sleep 0.02; done; }

# One conversion from the window: the converter alone, the clip in its preview; the time from
# the click on Start to the finished file, in $took.
from_window() {
  local home="$work/home" out
  rm -rf "$home"
  mkdir -p "$home"
  out="$home/Videos/SPHEROLUX Video Converter/clip_spherolux_0.mp4"
  HOME="$home" XDG_CONFIG_HOME="$home/.config" LANG=C.UTF-8 LC_ALL=C.UTF-8 "$bin/spherolux" --converter "$clip" \
    >/dev/null 2>&1 &
  app=$!
  local win
  win=$(xdotool search --sync --onlyvisible --name '^Converter$' | head -1)
  sleep 2 # the preview has opened the clip and paused on its first frame
  # What the idle window takes meanwhile (the paused preview drawn again by the media engine).
  local ticks
  ticks=$(cpu_ticks "$app")
  sleep 2
  idle+=("$(awk -v a="$ticks" -v b="$(cpu_ticks "$app")" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.0f", 100 * (b - a) / hz / 2}')")
  eval "$(xdotool getwindowgeometry --shell "$win")"
  # Start at (W - 155, 40, 70, 35) of the 660-pixel-wide window.
  xdotool mousemove $((X + 660 - 120)) $((Y + 57))
  local t0
  t0=$(now)
  xdotool click 1
  wait_for_data "$out"
  local t1
  t1=$(now)
  kill "$app"
  wait "$app" 2>/dev/null || true
  app=
  took=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", b - a}')
}

# One conversion with the CLI, the whole run, in $took.
from_cli() {
  rm -rf "$work/cli"
  mkdir -p "$work/cli"
  # The pause the window has between its start and the click: memory a process freed a few
  # seconds ago is dearer to touch again on some machines (a virtual machine that hands freed
  # memory back to its host clears it again on first touch), and both ways should start from
  # the same state.
  sleep 4
  local t0 t1
  t0=$(now)
  "$bin/spherolux-cli" convert "$clip" --output-dir "$work/cli" --quality medium >/dev/null 2>"$work/cli.log" ||
    { cat "$work/cli.log" >&2; exit 1; }
  t1=$(now)
  [ -s "$work/cli/clip_spherolux_0.mp4" ] || { echo "no output from spherolux-cli" >&2; exit 1; }
  took=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", b - a}')
}

window=() cli=() idle=()
for ((i = 0; i < runs; i++)); do
  from_window
  window+=("$took")
  from_cli
  cli+=("$took")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
t_window=$(median "${window[@]}")
t_cli=$(median "${cli[@]}")
printf 'one %dx%d clip of %s s, quality medium, %d run(s) each, median wall times\n' "$width" "$height" "$seconds" "$runs"
printf 'converter window (Start to finished file): %8.2f s  (%s)\n' "$t_window" "${window[*]}"
printf 'spherolux-cli convert (whole run):         %8.2f s  (%s)\n' "$t_cli" "${cli[*]}"
printf 'the idle window before Start used %s %% of a core (median)\n' "$(median "${idle[@]}")"
awk -v w="$t_window" -v c="$t_cli" 'BEGIN {printf "ratio window / CLI: %.3f (target <= 1.05)\n", w / c}'
