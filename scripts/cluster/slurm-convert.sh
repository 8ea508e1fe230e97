#!/usr/bin/env bash
# Converts camera videos on a Slurm cluster with spherolux-cli, over storage that every node
# mounts at the same path.
#
#   slurm-convert.sh [OPTIONS] --output-dir DIR IN...
#   slurm-convert.sh [OPTIONS] --output-dir DIR --list FILE     (one input per line)
#   slurm-convert.sh --report RUN                                (results of a run)
#
# Without --parts every input is one array task: thousands of clips run as one array job,
# one clip per task (when there are more clips than the cluster's MaxArraySize allows tasks,
# each task takes every T-th clip). With --parts N every input is converted in N parts
# (convert --part K/N), one array task per part, and a merge job that depends on the array
# job (--dependency=afterok) joins each input's parts into DIR/NAME_spherolux_M.mp4 (the
# first free M), as one machine's conversion would have made it. Without --parts a report
# job runs after the array job, whatever its tasks ended with.
#
# Each task writes its JSON result line and its messages to files of its own in the run's
# folder DIR/.spherolux-slurm/RUN/; the last job collects them into results.jsonl and lists
# the inputs that failed in failures.txt. With --wait the script waits for the jobs, prints
# the JSON lines, names the failures on stderr and exits 1 when any input failed; without
# it, it prints the run's folder, which --report reads later.
#
# Options:
#   --parts N             convert each input in N parts (2 or more)
#   --list FILE           read the inputs from FILE, one path per line
#   --cli PATH            spherolux-cli as the nodes find it (default: the one on PATH here)
#   --sbatch "ARGS"       more sbatch options for every job, split at spaces
#                         (e.g. "--partition=gpu --time=2:00:00")
#   --max-running M       run at most M array tasks at once (--array=...%M)
#   --wait                wait for the jobs and report
#   --range LOW HIGH, --quality Q, --codec C, --rotation R, --allow-missing   passed to convert
#
# Shared storage: outputs are made as the command line makes them on one machine. Each is
# written to a temporary file in DIR and only then given its name, which never replaces an
# existing file or an input; the picked names NAME_spherolux_M.mp4 are claimed at once with
# an exclusive create, so that two nodes never pick the same one. Where the file system has
# no unnamed temporary files (O_TMPFILE), as NFS has none, the temporary is a hidden
# .NAME.XXXXXX beside the output, put in place by a hard link where the file system cannot
# rename without replacing (NFS cannot); a node killed outright can leave such a file behind. Every node must see the same paths, and the run's
# folder must be on the shared storage too.
set -euo pipefail

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
  exit 64
}

die() {
  echo "slurm-convert: $*" >&2
  exit 64
}

# Variables of a run, kept in RUN/settings for its tasks.
save_settings() {
  {
    declare -p cli parts run output_dir count tasks
    declare -p convert_options
  } >"$run/settings"
}

# Prints the run's JSON lines and failures; exits 1 when any input failed or has no result
# yet.
report() {
  local run=$1
  [ -f "$run/settings" ] || die "$run is not the folder of a run"
  # shellcheck source=/dev/null
  . "$run/settings"
  collect "$run"
  cat "$run/results.jsonl"
  if [ -s "$run/failures.txt" ]; then
    sed 's/^/slurm-convert: failed: /' "$run/failures.txt" >&2
    exit 1
  fi
  return 0
}

# Adds one result to the collected files; false when it failed or never ended.
collect_one() {
  local base=$1 what=$2 rc
  rc=$(cat "$base.rc" 2>/dev/null || echo "none: not run or not finished")
  [ -s "$base.json" ] && cat "$base.json" >>"$run/results.jsonl.tmp"
  [ "$rc" = 0 ] && return 0
  printf '%s (%s, exit %s): %s\n' "$input" "$what" "$rc" "$(tail -n 1 "$base.err" 2>/dev/null | tr -d '\r')" \
    >>"$run/failures.txt.tmp"
  return 1
}

# Gathers the JSON lines of the tasks and the merge into results.jsonl and the failed
# inputs, with their messages, into failures.txt.
collect() {
  local run=$1 i part input failed all
  mapfile -t all <"$run/inputs"
  : >"$run/results.jsonl.tmp"
  : >"$run/failures.txt.tmp"
  for ((i = 0; i < count; i++)); do
    input=${all[i]}
    failed=0
    if [ "$parts" -gt 0 ]; then
      for ((part = 0; part < parts; part++)); do
        collect_one "$run/results/$i.$part" "part $part/$parts" || failed=1
      done
      # The parts' failures say why no merge ran.
      [ "$failed" = 1 ] || collect_one "$run/results/$i.merge" merge || true
    else
      collect_one "$run/results/$i" convert || true
    fi
  done
  mv "$run/results.jsonl.tmp" "$run/results.jsonl"
  mv "$run/failures.txt.tmp" "$run/failures.txt"
}

# One array task: its inputs (or parts), one after another.
run_task() {
  local run=$1 task=${SLURM_ARRAY_TASK_ID:?not an array task} j i part input base rc failed=0
  # shellcheck source=/dev/null
  . "$run/settings"
  local units=$((parts > 0 ? count * parts : count))
  for ((j = task; j < units; j += tasks)); do
    if [ "$parts" -gt 0 ]; then
      i=$((j / parts)) part=$((j % parts))
      base=$run/results/$i.$part
      input=$(sed -n "$((i + 1))p" "$run/inputs")
      # The parts live in the run's own folder: one left by an earlier attempt is replaced.
      "$cli" --quiet convert "${convert_options[@]}" --part "$part/$parts" --overwrite -- \
        "$input" "$run/parts/$i.$part.mp4" >"$base.json" 2>"$base.err" && rc=0 || rc=$?
    else
      i=$j
      base=$run/results/$i
      input=$(sed -n "$((i + 1))p" "$run/inputs")
      "$cli" --quiet convert "${convert_options[@]}" --output-dir "$output_dir" -- "$input" \
        >"$base.json" 2>"$base.err" && rc=0 || rc=$?
    fi
    echo "$rc" >"$base.rc"
    [ "$rc" = 0 ] || failed=1
  done
  return "$failed"
}

# The job after the array: joins each input's parts (with --parts), then collects.
run_final() {
  local run=$1 i k n name stem out base list rc failed=0
  # shellcheck source=/dev/null
  . "$run/settings"
  if [ "$parts" -gt 0 ]; then
    for ((i = 0; i < count; i++)); do
      base=$run/results/$i.merge
      list=()
      for ((k = 0; k < parts; k++)); do list+=("$run/parts/$i.$k.mp4"); done
      name=$(basename -- "$(sed -n "$((i + 1))p" "$run/inputs")")
      stem=${name%.*}
      rc=1
      # The first free NAME_spherolux_M.mp4: merge never replaces a file, so a name another
      # node took meanwhile makes it fail, and the next one is tried.
      for ((n = 0; n < 1000; n++)); do
        out=$output_dir/${stem}_spherolux_$n.mp4
        [ -e "$out" ] && continue
        "$cli" --quiet merge -- "$out" "${list[@]}" >"$base.json" 2>"$base.err" && rc=0 || rc=$?
        [ "$rc" = 0 ] || [ ! -e "$out" ] && break
      done
      echo "$rc" >"$base.rc"
      if [ "$rc" = 0 ]; then rm -f -- "${list[@]}"; else failed=1; fi
    done
  fi
  collect "$run"
  [ ! -s "$run/failures.txt" ] && [ "$failed" = 0 ]
}

main() {
  local list_file="" wait=0 max_running="" sbatch_extra="" i
  cli=$(command -v spherolux-cli || true)
  parts=0 output_dir="" convert_options=()
  local inputs=()
  while [ $# -gt 0 ]; do
    case $1 in
      --parts)
        if ! [[ ${2:-} =~ ^[0-9]+$ ]] || [ "$2" -lt 2 ]; then die "--parts needs a whole number of 2 or more"; fi
        parts=$2
        shift 2
        ;;
      --list)
        [ -f "${2:-}" ] || die "--list needs a file of inputs"
        list_file=$2
        shift 2
        ;;
      --output-dir)
        [ -n "${2:-}" ] || die "--output-dir needs a folder"
        output_dir=$2
        shift 2
        ;;
      --cli)
        cli=${2:?--cli needs a path}
        shift 2
        ;;
      --sbatch)
        sbatch_extra=${2:?--sbatch needs options}
        shift 2
        ;;
      --max-running)
        [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || die "--max-running needs a whole number"
        max_running=$2
        shift 2
        ;;
      --wait) wait=1 && shift ;;
      --range)
        [ $# -ge 3 ] || die "--range needs LOW HIGH"
        convert_options+=(--range "$2" "$3")
        shift 3
        ;;
      --quality | --rotation | --codec)
        [ $# -ge 2 ] || die "$1 needs a value"
        convert_options+=("$1" "$2")
        shift 2
        ;;
      --allow-missing) convert_options+=("$1") && shift ;;
      --report)
        report "$(realpath -- "${2:?--report needs a run folder}")"
        exit 0
        ;;
      --task)
        run_task "${2:?}"
        exit
        ;;
      --final)
        run_final "${2:?}"
        exit
        ;;
      -h | --help) usage ;;
      --)
        shift
        inputs+=("$@")
        break
        ;;
      -*) die "unknown option $1" ;;
      *) inputs+=("$1") && shift ;;
    esac
  done
  [ -n "$output_dir" ] || die "--output-dir is required"
  [ -d "$output_dir" ] || die "--output-dir must name an existing folder"
  [ -n "$cli" ] || die "spherolux-cli is not on PATH; give --cli"
  cli=$(realpath -- "$cli")
  [ -x "$cli" ] || die "$cli is not a program"
  output_dir=$(realpath -- "$output_dir")
  command -v sbatch >/dev/null || die "sbatch is missing: this runs on a Slurm cluster's login node"

  run=$output_dir/.spherolux-slurm/$(date +%Y%m%d%H%M%S)-$$-$RANDOM
  mkdir -p "$run/results" "$run/parts" "$run/logs"
  # Inputs by absolute path, one a line: a name with a line break cannot be listed.
  : >"$run/inputs"
  if [ -n "$list_file" ]; then
    while IFS= read -r line || [ -n "$line" ]; do
      line=${line%$'\r'}
      [ -n "$line" ] && inputs+=("$line")
    done <"$list_file"
  fi
  [ ${#inputs[@]} -gt 0 ] || die "no input"
  for i in "${inputs[@]}"; do
    [[ $i != *$'\n'* ]] || die "an input's name holds a line break"
    [ -f "$i" ] || die "$i: no such file"
    realpath -- "$i" >>"$run/inputs"
  done
  count=${#inputs[@]}
  local units=$((parts > 0 ? count * parts : count))
  # Array indices run from 0 to MaxArraySize - 1.
  local max_array
  max_array=$(scontrol show config 2>/dev/null | sed -n 's/^MaxArraySize *= *\([0-9]*\).*/\1/p')
  tasks=$((units < ${max_array:-1001} ? units : ${max_array:-1001}))
  save_settings

  local self array_job final_job common
  self=$(realpath -- "$0")
  # shellcheck disable=SC2206
  common=(--parsable --chdir="$run" $sbatch_extra)
  array_job=$(sbatch "${common[@]}" --job-name=spherolux-convert --array="0-$((tasks - 1))${max_running:+%$max_running}" \
    --output="$run/logs/task-%a.log" "$self" --task "$run")
  array_job=${array_job%%;*}
  local dependency=afterany name=spherolux-report
  [ "$parts" -gt 0 ] && dependency=afterok name=spherolux-merge
  local final_options=("${common[@]}" --job-name="$name" --dependency="$dependency:$array_job"
    --kill-on-invalid-dep=yes --output="$run/logs/final.log")
  if [ "$wait" = 0 ]; then
    final_job=$(sbatch "${final_options[@]}" "$self" --final "$run")
    echo "slurm-convert: array job ${array_job}, ${name#spherolux-} job ${final_job%%;*}; results: $0 --report $run" >&2
    echo "$run"
    exit 0
  fi
  sbatch --wait "${final_options[@]}" "$self" --final "$run" >/dev/null || true
  # A merge job cancelled because a part failed collects nothing: collect here.
  report "$run"
}

main "$@"
