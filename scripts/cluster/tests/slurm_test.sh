#!/usr/bin/env bash
# slurm-convert.sh on a real single-node Slurm cluster started here (local-slurm.sh): one
# clip in 4 parts joined into what one machine's conversion makes, and a list of clips, one
# per task, run twice at once into one folder, with a file that is no video among them.
# Needs root (the daemons run as root). A cluster that cannot start fails the test.
# Usage: slurm_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath -- "${1:?usage: slurm_test.sh BUILD_DIR}")
here=$(cd "$(dirname "$0")" && pwd)
convert_script=$here/../slurm-convert.sh
cli=$build/bin/spherolux-cli
camgen=$build/bin/spherolux-camgen

scratch=$(mktemp -d "${TMPDIR:-/tmp}/slurm-test-XXXXXX")
# shellcheck source=local-slurm.sh
. "$here/local-slurm.sh"
cleanup() {
  slurm_stop
  [ "${KEEP:-0}" = 1 ] && return
  rm -rf "$scratch"
}
trap cleanup EXIT

failures=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what" >&2
    failures=$((failures + 1))
  fi
}

# One ffprobe field of the first stream of a kind, frames counted by decoding.
field() { ffprobe -v error -count_frames -select_streams "$2:0" -show_entries "stream=$3" -of csv=p=0 "$1"; }
audio_packets() { ffprobe -v error -select_streams a:0 -show_entries packet=pts -of csv=p=0 "$1"; }
json_count() { grep -c "$2" "$1" || true; }

slurm_start "$scratch/cluster" || exit 1
echo "ok: single-node cluster up (SLURM_CONF=$SLURM_CONF)"

# --- one clip in 4 parts -----------------------------------------------------------------
mkdir "$scratch/long" "$scratch/out-parts"
long=$scratch/long/long\ clip.mp4
"$camgen" video "$long" --size 640x320 --seconds 3.4
"$cli" --quiet convert "$long" "$scratch/whole.mp4" >/dev/null 2>&1
"$convert_script" --cli "$cli" --parts 4 --output-dir "$scratch/out-parts" --wait "$long" \
  >"$scratch/parts.jsonl" 2>"$scratch/parts.err" && rc=0 || rc=$?
cat "$scratch/parts.err" >&2
merged=$scratch/out-parts/long\ clip_spherolux_0.mp4
check "parts: the run succeeds" [ "$rc" = 0 ]
check "parts: four part results" [ "$(json_count "$scratch/parts.jsonl" '"part":"[0-3]/4"')" = 4 ]
check "parts: one merge result" [ "$(json_count "$scratch/parts.jsonl" "\"output\":\"$merged\",\"inputs\"")" = 1 ]
check "parts: part 3 holds the 22 frames left over" grep -q '"part":"3/4","frames_expected":[0-9]*,"frames_converted":22,' \
  "$scratch/parts.jsonl"
check "parts: the joined file is there" [ -f "$merged" ]
check "parts: as many frames as one piece" [ "$(field "$merged" v nb_read_frames)" = "$(field "$scratch/whole.mp4" v nb_read_frames)" ]
check "parts: the same duration" [ "$(field "$merged" v duration)" = "$(field "$scratch/whole.mp4" v duration)" ]
check "parts: the same audio packets" [ "$(audio_packets "$merged")" = "$(audio_packets "$scratch/whole.mp4")" ]
check "parts: no part left behind" [ -z "$(find "$scratch/out-parts" -name '*.mp4' ! -path "$merged")" ]

# --- a list of clips, one per task, twice at once into one folder --------------------------
mkdir "$scratch/clips" "$scratch/out-list"
: >"$scratch/list.txt"
for i in 1 2 3 4 5 6; do
  "$camgen" video "$scratch/clips/clip$i.mp4" --size 320x160 --seconds 1
  echo "$scratch/clips/clip$i.mp4" >>"$scratch/list.txt"
done
head -c 5000 /dev/urandom >"$scratch/clips/noise.mp4"
echo "$scratch/clips/noise.mp4" >>"$scratch/list.txt"
sums=$(cd "$scratch/clips" && md5sum ./*)
run1=$("$convert_script" --cli "$cli" --list "$scratch/list.txt" --output-dir "$scratch/out-list" 2>/dev/null)
run2=$("$convert_script" --cli "$cli" --list "$scratch/list.txt" --output-dir "$scratch/out-list" 2>/dev/null)
for _ in $(seq 600); do
  [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break
  sleep 0.2
done
check "list: the jobs ended" [ -z "$(squeue -h -o %i)" ]
for run in "$run1" "$run2"; do
  "$convert_script" --report "$run" >"$run.jsonl" 2>"$run.err" && rc=0 || rc=$?
  check "list: the report fails for the one input that failed" [ "$rc" = 1 ]
  check "list: six results" [ "$(json_count "$run.jsonl" '"result":0}')" = 6 ]
  check "list: the failure names the input" grep -q "failed: $scratch/clips/noise.mp4 (convert, exit 1)" "$run.err"
done
for i in 1 2 3 4 5 6; do
  check "list: clip$i converted once by each run, under two names" \
    test -f "$scratch/out-list/clip${i}_spherolux_0.mp4" -a -f "$scratch/out-list/clip${i}_spherolux_1.mp4" \
    -a ! -e "$scratch/out-list/clip${i}_spherolux_2.mp4"
done
check "list: the inputs are untouched" [ "$(cd "$scratch/clips" && md5sum ./*)" = "$sums" ]

# --- a part that fails: the merge job never runs -----------------------------------------
mkdir "$scratch/out-bad"
"$convert_script" --cli "$cli" --parts 2 --output-dir "$scratch/out-bad" --wait "$scratch/clips/noise.mp4" \
  >/dev/null 2>"$scratch/bad.err" && rc=0 || rc=$?
check "failed parts: the run fails" [ "$rc" = 1 ]
check "failed parts: both parts are named" [ "$(grep -c 'noise.mp4 (part [01]/2, exit 1)' "$scratch/bad.err")" = 2 ]
check "failed parts: no merge is reported" [ "$(grep -c merge "$scratch/bad.err")" = 0 ]
check "failed parts: nothing joined" [ -z "$(find "$scratch/out-bad" -name '*.mp4')" ]

[ "$failures" = 0 ] || { echo "$failures checks failed" >&2; exit 1; }
echo "all checks passed"
