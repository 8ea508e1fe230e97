#!/usr/bin/env bash
# The player as the desktop's media keys and player controls reach it (MPRIS 2): the real
# window on an X server and a D-Bus session of the test's own, driven with playerctl and gdbus.
# Usage: xvfb-run-test.sh dbus-run-session -- mpris_test.sh BIN_DIR
# BIN_DIR holds spherolux and spherolux-camgen. Exits 0 when every check holds, else 1 with
# the failed checks and the program's log on stderr.
set -uo pipefail
bin=$1
name=org.mpris.MediaPlayer2.spherolux
path=/org/mpris/MediaPlayer2
player=org.mpris.MediaPlayer2.Player
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  echo "mpris_test: no D-Bus session (run it under dbus-run-session)" >&2
  exit 1
fi

work=$(mktemp -d)
pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap stop_all EXIT

failed=0
fail() {
  echo "FAILED: $*" >&2
  failed=1
}
show_logs() {
  for log in "$work"/*.log; do
    [ -e "$log" ] || continue
    echo "--- $log" >&2
    cat "$log" >&2
  done
}
# fatal MESSAGE: a failure after which nothing else can be checked.
fatal() {
  fail "$@"
  show_logs
  exit 1
}
# check WHAT EXPECTED ACTUAL
check() { [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"; }
# wait_for SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}
pc() { playerctl -p spherolux "$@" 2>/dev/null; }
get() { gdbus call --session --dest "$1" --object-path $path --method org.freedesktop.DBus.Properties.Get "$2" "$3"; }
call() { gdbus call --session --dest "$1" --object-path $path --method "$2" "${@:3}" >/dev/null; }
has_name() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.NameHasOwner "$1" | grep -q true; }
status_is() { [ "$(pc status)" = "$1" ]; }
# playerctl shows no metadata of a stopped player (a photo): gdbus reads it.
photo_shown() { get $name $player Metadata | grep -q "'xesam:title': <'photo.jpg'>"; }
# within VALUE LOW HIGH: LOW <= VALUE <= HIGH as numbers.
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v != "" && v >= lo && v <= hi) }'; }
position_within() { within "$(pc position)" "$1" "$2"; }
volume_within() { within "$(pc volume)" "$1" "$2"; }
# start_window LOG ARGS...: the window with a home and settings folder of its own.
start_window() {
  local log=$1
  shift
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" LANG=C.UTF-8 LC_ALL=C.UTF-8 SPHEROLUX_LOG="$log" \
    "$bin/spherolux" "$@" >>"$log" 2>&1 &
  pids+=($!)
}
ended() { ! kill -0 "$1" 2>/dev/null; }

mkdir -p "$work/home"
"$bin/spherolux-camgen" video "$work/clip.mp4" --size 960x480 --seconds 6 >/dev/null || fatal "camgen video"
"$bin/spherolux-camgen" photo "$work/photo.jpg" --size 1920x960 >/dev/null || fatal "camgen photo"

start_window "$work/first.log" "$work/clip.mp4"
first=${pids[-1]}
wait_for 20 has_name $name || fatal "the player never took the name $name"
gdbus monitor --session --dest $name >"$work/signals.txt" 2>/dev/null &
pids+=($!)
sleep 0.5 # the monitor subscribes

# A video plays; play-pause pauses the window itself: its position stands still.
wait_for 20 status_is Playing || fatal "status of a playing video: $(pc status)"
check "CanPlay of a video" "(<true>,)" "$(get $name $player CanPlay)"
check "CanSeek of a playing video" "(<true>,)" "$(get $name $player CanSeek)"
pc play-pause
wait_for 5 status_is Paused || fail "status after play-pause: $(pc status)"
sleep 0.3 # a frame under way when the pause came
before=$(pc position)
sleep 1
read -r low high < <(awk -v p="$before" 'BEGIN { print p - 0.05, p + 0.05 }')
position_within "$low" "$high" || fail "a paused video moved from $before s to $(pc position) s"
grep -q "PropertiesChanged.*'PlaybackStatus': <'Paused'>" "$work/signals.txt" ||
  fail "no PropertiesChanged announced the pause"

# A seek made in the window is announced too: a click at three quarters of the seek bar (the
# window sits at 0, 0 with its seek bar's channel from x = 9 to 1015 at y = 552).
xdotool mousemove 763 552 click 1
wait_for 5 position_within 4 5 || fail "position after a click on the seek bar: $(pc position)"
wait_for 3 grep -Eq "Seeked \(int64 4[0-9]{6},\)" "$work/signals.txt" || fail "no Seeked after the window's seek"

# Seeking: the position goes where it was sent, and Seeked says so.
pc position 3
wait_for 5 position_within 2.5 3.5 || fail "position after seeking to 3 s: $(pc position)"
grep -q "Seeked (int64 3000000,)" "$work/signals.txt" || fail "no Seeked signal for the seek to 3 s"
# A relative seek from there.
pc position 1-
wait_for 5 position_within 1.5 2.5 || fail "position after seeking 1 s back: $(pc position)"
sleep 1.5 # longer than an engine takes to settle after a seek
check "Seeked signals for three seeks" 3 "$(grep -c Seeked "$work/signals.txt")"

# Metadata of the file shown.
check "title" "clip.mp4" "$(pc metadata xesam:title)"
check "url" "file://$work/clip.mp4" "$(pc metadata xesam:url)"
within "$(pc metadata mpris:length)" 5800000 6200000 || fail "length of a 6 s video: $(pc metadata mpris:length)"

# The volume set over the bus is the player's volume, read back the same.
pc volume 0.25
wait_for 5 volume_within 0.249 0.251 || fail "volume set to 0.25 reads $(pc volume)"
grep -q "'Volume': <0.25>" "$work/signals.txt" || fail "no PropertiesChanged announced the volume"

# Stop closes the playback, which cannot be sought then; Play opens the file again.
pc stop
wait_for 5 status_is Stopped || fail "status after stop: $(pc status)"
check "CanSeek of a stopped video" "(<false>,)" "$(get $name $player CanSeek)"
pc play
wait_for 10 status_is Playing || fail "status after play of a stopped video: $(pc status)"

# Only files are opened: another scheme is refused with an error.
call $name $player.OpenUri "http://localhost/clip.mp4" 2>/dev/null && fail "OpenUri took an http URI"

# A photo opened over the bus: nothing to play or seek, and play does nothing.
pc open "file://$work/photo.jpg"
wait_for 10 photo_shown || fail "metadata after opening the photo: $(get $name $player Metadata)"
check "CanPlay of a photo" "(<false>,)" "$(get $name $player CanPlay)"
check "CanSeek of a photo" "(<false>,)" "$(get $name $player CanSeek)"
check "CanPause of a photo" "(<false>,)" "$(get $name $player CanPause)"
pc play
sleep 0.5
check "status of a photo after play" "Stopped" "$(pc status)"

# While the converter is open (Ctrl+E) the window takes no commands: Quit would lose its job.
xdotool key ctrl+e
sleep 2
call $name org.mpris.MediaPlayer2.Quit
sleep 1
ended "$first" && fail "Quit ended the program while the converter was open"

# A second window takes a name of its own, and Quit ends it.
start_window "$work/second.log"
second=${pids[-1]}
wait_for 20 has_name "$name.instance$second" || fail "the second window has no name of its own"
call "$name.instance$second" org.mpris.MediaPlayer2.Quit
wait_for 10 ended "$second" || fail "Quit did not end the second window"

[ $failed -eq 0 ] || show_logs
exit $failed
