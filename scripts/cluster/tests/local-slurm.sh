# shellcheck shell=bash
# A single-node Slurm cluster on this machine for tests: munged, slurmctld and slurmd,
# configured in a folder of their own, each on a socket or port of its own, started in the
# background as root and stopped by their process ids. Source it, then:
#
#   slurm_start FOLDER    starts the daemons and waits until the node takes jobs; on
#                         failure it prints the reason (with the daemons' logs) and returns 1
#   slurm_stop            stops the daemons it started (also when slurm_start failed)
#
# slurm_start exports SLURM_CONF, so that sbatch, squeue and scontrol talk to this cluster.

slurm_pids=()

slurm_fail() {
  echo "local-slurm: $*" >&2
  local log
  for log in "$slurm_dir"/munged.log "$slurm_dir"/slurmctld.log "$slurm_dir"/slurmd.log; do
    [ -s "$log" ] && { echo "--- $log (end)" >&2; tail -n 15 "$log" >&2; }
  done
  return 1
}

# A TCP port on localhost that nothing listens on now.
slurm_free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 20000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

slurm_start() {
  slurm_dir=$1
  local tool
  [ "$(id -u)" -eq 0 ] || { slurm_fail "the daemons run as root here; run as root"; return 1; }
  for tool in munged mungekey slurmctld slurmd sbatch squeue scontrol; do
    command -v "$tool" >/dev/null || { slurm_fail "$tool is missing (scripts/install-deps installs it)"; return 1; }
  done
  mkdir -p "$slurm_dir"/state "$slurm_dir"/spool "$slurm_dir"/munge
  chmod 711 "$slurm_dir"/munge
  mungekey --create --keyfile="$slurm_dir/munge/munge.key" >/dev/null 2>&1 ||
    dd if=/dev/urandom of="$slurm_dir/munge/munge.key" bs=1024 count=1 status=none
  chmod 400 "$slurm_dir/munge/munge.key"
  local socket=$slurm_dir/munge/munge.socket
  munged --foreground --force --socket="$socket" --key-file="$slurm_dir/munge/munge.key" \
    --pid-file="$slurm_dir/munge/munged.pid" --seed-file="$slurm_dir/munge/munged.seed" \
    >"$slurm_dir/munged.log" 2>&1 &
  slurm_pids+=($!)
  for _ in $(seq 50); do [ -S "$socket" ] && break; sleep 0.1; done
  [ -S "$socket" ] || { slurm_fail "munged did not open its socket"; return 1; }

  local ctld_port slurmd_port
  if ! ctld_port=$(slurm_free_port) || ! slurmd_port=$(slurm_free_port); then
    slurm_fail "no free port"
    return 1
  fi
  cat >"$slurm_dir/slurm.conf" <<CONF
ClusterName=spherolux-test
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$slurm_dir/state
SlurmdSpoolDir=$slurm_dir/spool
SlurmctldPidFile=$slurm_dir/slurmctld.pid
SlurmdPidFile=$slurm_dir/slurmd.pid
SlurmctldLogFile=$slurm_dir/slurmctld.log
SlurmdLogFile=$slurm_dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SlurmdParameters=config_overrides
ReturnToService=2
MinJobAge=600
SlurmctldTimeout=30
SlurmdTimeout=30
NodeName=localhost NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF=$slurm_dir/slurm.conf
  slurmctld -D -i -f "$SLURM_CONF" >>"$slurm_dir/slurmctld.out" 2>&1 &
  slurm_pids+=($!)
  slurmd -D -N localhost -f "$SLURM_CONF" >>"$slurm_dir/slurmd.out" 2>&1 &
  slurm_pids+=($!)
  local state=""
  for _ in $(seq 120); do
    state=$(sinfo -h -N -n localhost -o %t 2>/dev/null || true)
    case $state in idle | mix | alloc) return 0 ;; esac
    local pid
    for pid in "${slurm_pids[@]}"; do
      kill -0 "$pid" 2>/dev/null || { slurm_fail "a daemon (process $pid) ended while starting"; return 1; }
    done
    sleep 0.25
  done
  slurm_fail "the node did not become ready (state '${state:-none}')"
}

slurm_stop() {
  local pid
  # Jobs still running (a test that failed half-way) end first: their step daemons are not
  # the children of slurmd.
  if [ ${#slurm_pids[@]} -gt 0 ] && [ -n "${SLURM_CONF:-}" ]; then
    scancel --quiet --full --user=root 2>/dev/null || true
    for _ in $(seq 50); do [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break; sleep 0.1; done
  fi
  for pid in "${slurm_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${slurm_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  slurm_pids=()
}
