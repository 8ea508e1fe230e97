#!/usr/bin/env bash
# Start-up of the player against the player a user knows: `spherolux FILE` and Debian's `vlc
# FILE` on the same camgen dual-lens clip (1920 x 960, 30 fps), each started on a private Xvfb
# display while bench/startup_watch.c reads the screen back every 10 ms. Reports the time
# from the start to the window being up and to the first picture on the screen: once cold
# (page cache dropped first, when this runs as root) and as the median of RUNS warm starts,
# the two programs taking turns.
#
# vlc refuses to run as root: it runs as the system user spherolux-bench, created here when
# missing (no home, no login). Our program gets a private home and settings folder.
#
# Usage: [BENCH_LOCK=CMD] bench/startup_vs_vlc.sh [BUILD_DIR] [RUNS]
# The clip and the watcher are made first; only the timed part runs under BENCH_LOCK (a
# command that takes a shared machine alone, such as a lock wrapper).
set -euo pipefail
user=spherolux-bench

if [ "${1:-}" != "--timed" ]; then
  build=${1:-build}
  runs=${2:-3}
  bin=$(cd "$build/bin" && pwd)
  here=$(cd "$(dirname "$0")" && pwd)
  command -v vlc >/dev/null || { echo "startup_vs_vlc: vlc is not installed (apt-get install vlc)"; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  chmod 755 "$work"
  cc -O2 "$here/startup_watch.c" -o "$work/startup_watch" -lX11
  "$bin/spherolux-camgen" video "$work/clip.mp4" --size 1920x960 --seconds 20 >/dev/null
  chmod 644 "$work/clip.mp4"
  mkdir -p "$work/vlc-home" "$work/our-home" "$work/runtime-vlc" "$work/runtime-ours"
  if [ "$(id -u)" -eq 0 ]; then
    id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
    chown "$user" "$work/vlc-home" "$work/runtime-vlc"
  fi
  chmod 700 "$work/runtime-vlc" "$work/runtime-ours"
  # shellcheck disable=SC2086
  ${BENCH_LOCK:-} "$0" --timed "$work" "$bin" "$runs"
  exit
fi

# The timed part: a display, one cold start each, then RUNS warm starts each.
work=$2 bin=$3 runs=$4
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(runuser -u "$user" --)
display=:$((100 + RANDOM % 800))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
sleep 1
export DISPLAY=$display LIBGL_ALWAYS_SOFTWARE=1

ours() {
  env HOME="$work/our-home" XDG_CONFIG_HOME="$work/our-home/.config" XDG_RUNTIME_DIR="$work/runtime-ours" \
    LANG=C.UTF-8 QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=xcb_glx \
    "$work/startup_watch" 30000 "$bin/spherolux" "$work/clip.mp4"
}
peer() {
  "$work/startup_watch" 30000 "${as_user[@]}" env HOME="$work/vlc-home" XDG_RUNTIME_DIR="$work/runtime-vlc" \
    DISPLAY="$display" LANG=C.UTF-8 vlc --no-qt-privacy-ask --no-video-title-show --aout=adummy "$work/clip.mp4"
}
field() { sed -n "s/.*\"$2\":\([-0-9.]*\).*/\1/p" <<<"$1"; }
drop_caches() {
  sync
  if [ -w /proc/sys/vm/drop_caches ]; then echo 3 >/proc/sys/vm/drop_caches; echo cold; else echo "first run"; fi
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

state=$(drop_caches)
ours_cold=$(ours)
drop_caches >/dev/null
peer_cold=$(peer)
ours_w=() ours_p=() peer_w=() peer_p=()
for ((i = 0; i < runs; ++i)); do
  r=$(ours)
  ours_w+=("$(field "$r" window_ms)") ours_p+=("$(field "$r" picture_ms)")
  r=$(peer)
  peer_w+=("$(field "$r" window_ms)") peer_p+=("$(field "$r" picture_ms)")
done

printf '%-30s %10s %10s\n' "start-up (ms)" "spherolux" "vlc"
printf '%-30s %10s %10s\n' "window up, $state" "$(field "$ours_cold" window_ms)" "$(field "$peer_cold" window_ms)"
printf '%-30s %10s %10s\n' "first picture, $state" "$(field "$ours_cold" picture_ms)" "$(field "$peer_cold" picture_ms)"
printf '%-30s %10s %10s\n' "window up, warm (median of $runs)" "$(printf '%s\n' "${ours_w[@]}" | median)" \
  "$(printf '%s\n' "${peer_w[@]}" | median)"
printf '%-30s %10s %10s\n' "first picture, warm" "$(printf '%s\n' "${ours_p[@]}" | median)" \
  "$(printf '%s\n' "${peer_p[@]}" | median)"
