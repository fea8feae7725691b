#!/usr/bin/env bash
# A throwaway cluster on this machine, on the loopback only: an sshd on a port
# of its own (own host key, a temporary key pair) and a single-node Slurm
# (munge, slurmctld, slurmd) from a configuration generated in a temporary
# folder. In it:
#   1. a sweep over ssh to localhost mixed with ':' (this machine) returns
#      every run exactly once, with the job list and the login file named by
#      relative paths;
#   2. the Slurm array recipe of docs/sweeps.md, taken from the page as it is written;
#   3. a job list with one failing line makes the sweep fail and name it;
#   4. pathwick_sweep --slurm under a MaxArraySize smaller than the job list:
#      the runs packed into tasks, a --chunk that needs a larger array
#      refused, a cancelled array resumed with only the runs that are
#      missing, a failing line named, the user's MaxSubmitJobs kept and a
#      requeued task going on from its job log;
#   5. a precision sweep on Slurm (--precision, --wait): every round an array
#      and its check, the rounds and numbers those of this machine alone.
# Every run's series.csv must equal that of the same run made alone. Every
# daemon is stopped on the way out, whatever happens; nothing stays running.
# Needs root (the daemons); otherwise it reports itself skipped (status 77).
#   tests/cluster.sh PATHWICK_RUN PATHWICK_SWEEP PAGE     (PAGE: docs/sweeps.md)
set -euo pipefail
runner=$(readlink -f "$1")
sweep=$(readlink -f "$2")
page=$(readlink -f "$3")

skip() { echo "cluster: skipped: $1"; exit 77; }
fail() { echo "cluster: FAILED: $1" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || skip "it starts sshd, munged, slurmctld and slurmd, which needs root"
for tool in sshd ssh ssh-keygen rsync parallel munged slurmctld slurmd sbatch squeue; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing (scripts/deps.sh cluster installs it)"
done

tmp=$(mktemp -d /tmp/pathwick-cluster.XXXXXX)
chmod 755 "$tmp"
daemons=()  # process ids of the daemons started here
stop_all() {
  local status=$?
  # Jobs first, while slurmd can still end their steps.
  if [ -f "$tmp/slurm/slurm.conf" ]; then
    export SLURM_CONF=$tmp/slurm/slurm.conf
    scancel --user=root >/dev/null 2>&1 || true
    for _ in $(seq 50); do
      [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break
      sleep 0.2
    done
  fi
  local pid
  for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${daemons[@]}"; do wait "$pid" 2>/dev/null || true; done
  # A job step or an ssh session that outlived its daemon still names the
  # temporary folder on its command line: those are ours to end.
  for pid in $(started_here); do kill -9 "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
  exit "$status"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# started_here: the processes, other than this script, whose command line
# names the temporary folder.
started_here() {
  local cmdline pid
  for cmdline in /proc/[0-9]*/cmdline; do
    pid=${cmdline#/proc/}
    pid=${pid%/cmdline}
    { [ "$pid" != $$ ] && [ "$pid" != "$BASHPID" ]; } || continue
    { tr '\0' ' ' <"$cmdline"; } 2>/dev/null | grep -qF "$tmp" && echo "$pid"
  done
}

# A port nobody listens on on the loopback, from a range this test alone uses.
free_port() {
  local port
  for port in $(shuf -i "$1-$(($1 + 999))" -n 50); do
    (: <"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
  fail "no free port from $1"
}

# wait_for SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what did not come up within ${seconds}s"
    sleep 0.2
  done
}

# --- sshd ---------------------------------------------------------------
ssh_dir=$tmp/ssh
mkdir -p "$ssh_dir" "$tmp/bin" /run/sshd
ln -s "$runner" "$tmp/bin/pathwick_run"
# Three machines behind one sshd, told apart by the key that logs in: one
# with pathwick_run on the PATH of its ssh logins, one without, one with an
# older version.
mkdir -p "$tmp/old-bin"
printf '#!/bin/sh\necho "pathwick_run 0.0"\n' >"$tmp/old-bin/pathwick_run"
chmod +x "$tmp/old-bin/pathwick_run"
# The tools of a machine, less any pathwick program: a folder of links to
# what /usr/bin and /bin hold, so that the machine without pathwick_run has
# none even where this machine has the pathwick package installed.
system_bin=$tmp/system-bin
mkdir -p "$system_bin"
for tool in /usr/bin/* /bin/*; do
  name=${tool##*/}
  case $name in pathwick*) continue ;; esac
  [ -x "$tool" ] && [ ! -e "$system_bin/$name" ] && ln -s "$tool" "$system_bin/$name"
done
PATH=$system_bin command -v pathwick_run >/dev/null && fail "$system_bin holds a pathwick_run"
ssh-keygen -q -t ed25519 -N '' -f "$ssh_dir/host_key"
: >"$ssh_dir/authorized_keys"
for machine in other:$tmp/bin: bare: old:$tmp/old-bin:; do
  ssh-keygen -q -t ed25519 -N '' -f "$ssh_dir/${machine%%:*}_key"
  echo "environment=\"PATH=${machine#*:}$system_bin\" $(cat "$ssh_dir/${machine%%:*}_key.pub")" >>"$ssh_dir/authorized_keys"
done
ssh_port=$(free_port 22000)
cat >"$ssh_dir/sshd_config" <<EOF
Port $ssh_port
ListenAddress 127.0.0.1
HostKey $ssh_dir/host_key
PidFile $ssh_dir/sshd.pid
AuthorizedKeysFile $ssh_dir/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
UsePAM no
StrictModes no
PermitUserEnvironment PATH
EOF
/usr/sbin/sshd -D -e -f "$ssh_dir/sshd_config" 2>"$ssh_dir/sshd.log" &
daemons+=($!)
# The logins this machine uses for them, as in a user's ~/.ssh/config, and
# one for a machine that does not answer.
for machine in other bare old; do
  cat >>"$ssh_dir/config" <<EOF
Host $machine-machine
  HostName 127.0.0.1
  Port $ssh_port
  IdentityFile $ssh_dir/${machine}_key
EOF
done
cat >>"$ssh_dir/config" <<EOF
Host nowhere-machine
  HostName 127.0.0.1
  Port $(free_port 23000)
Host *
  User root
  IdentitiesOnly yes
  UserKnownHostsFile $ssh_dir/known_hosts
  StrictHostKeyChecking accept-new
  BatchMode yes
  ConnectTimeout 10
EOF
export PARALLEL_SSH="ssh -F $ssh_dir/config"
# shellcheck disable=SC2086 # PARALLEL_SSH is a command and its options, split into words as parallel does
wait_for 20 "sshd on port $ssh_port" $PARALLEL_SSH other-machine true
echo "cluster: sshd on 127.0.0.1:$ssh_port"

work=$tmp/work
mkdir -p "$work"
cd "$work"

# series_as_alone DIR: every run in DIR has the series of the same run made
# alone, by pathwick_run in a folder of its own.
series_as_alone() {
  local run line n=0
  for run in "$1"/run-*; do
    line=$(sed -n "$(basename "$run" | sed -E 's/^run-0*([0-9]+)-.*/\1/')p" "$2")
    rm -rf "$tmp/alone"
    "$runner" --quiet --out "$tmp/alone" --job "$line"
    cmp -s "$tmp/alone/series.csv" "$run/series.csv" || fail "$run/series.csv differs from the same run made alone"
    n=$((n + 1))
  done
  echo "$n"
}

# --- 1. a sweep over ssh mixed with this machine -------------------------
"$runner" --grid --vary evaporation-rate=0.3,0.6 --seeds 1-4 --steps 600 --agents 100 >mixed.jobs
printf '%s\n' '# two machines' '2/other-machine' '2/:' >hosts
PATHWICK_RUN=$runner "$sweep" mixed.jobs mixed --sshloginfile hosts \
  || fail "the mixed sweep exited $?"
# shellcheck disable=SC2012 # the run folders have plain names
[ "$(ls -d mixed/run-* | wc -l)" -eq 8 ] || fail "the mixed sweep returned $(ls -d mixed/run-* | wc -l) of 8 runs"
hosts_used=$(awk -F'\t' 'NR > 1 { print $2 }' mixed/.sweep/joblog | sort -u | tr '\n' ' ')
[ "$hosts_used" = ": other-machine " ] || fail "the runs went to '$hosts_used', not to both machines"
[ "$(grep -c '^run-' mixed/summary.csv)" -eq 8 ] || fail "summary.csv lacks runs"
# The working folders parallel makes on the other machine, and on this one.
no_working_folders() {
  local left
  left=$(find ~/.parallel/tmp -mindepth 1 -maxdepth 1 -type d ! -name sshlogin 2>/dev/null | wc -l)
  [ "$left" -eq 0 ] || fail "parallel left $left working folders in ~/.parallel/tmp"
}
no_working_folders
echo "cluster: mixed sweep: $(series_as_alone mixed mixed.jobs) runs, each once, as made alone"

# --- Slurm: munge, slurmctld and slurmd on this machine -------------------
mkdir -p "$tmp/munge" "$tmp/slurm/state" "$tmp/slurm/spool"
chmod 700 "$tmp/munge"
dd if=/dev/urandom of="$tmp/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$tmp/munge/munge.key"
munge_socket=$tmp/munge/munge.socket
munged --foreground --force --socket="$munge_socket" --key-file="$tmp/munge/munge.key" \
  --pid-file="$tmp/munge/munged.pid" --log-file="$tmp/munge/munged.log" \
  --seed-file="$tmp/munge/munged.seed" 2>>"$tmp/munge/munged.log" &
daemons+=($!)
wait_for 20 "munged" test -S "$munge_socket"
node=$(hostname -s)
export SLURM_CONF=$tmp/slurm/slurm.conf
cat >"$SLURM_CONF" <<EOF2
ClusterName=pathwick-test
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$(free_port 26000)
SlurmdPort=$(free_port 27000)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$munge_socket
CredType=cred/munge
StateSaveLocation=$tmp/slurm/state
SlurmdSpoolDir=$tmp/slurm/spool
SlurmctldPidFile=$tmp/slurm/slurmctld.pid
SlurmdPidFile=$tmp/slurm/slurmd.pid
SlurmctldLogFile=$tmp/slurm/slurmctld.log
SlurmdLogFile=$tmp/slurm/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
MaxArraySize=7
EOF2
slurmctld -D -i -f "$SLURM_CONF" 2>>"$tmp/slurm/slurmctld.log" &
daemons+=($!)
slurmd -D -f "$SLURM_CONF" -N "$node" 2>>"$tmp/slurm/slurmd.log" &
daemons+=($!)
node_idle() { sinfo -h -n "$node" -o %t | grep -qx idle; }
wait_for 60 "the Slurm node $node" node_idle
echo "cluster: Slurm node $node idle"

# --- the checks before the first run, each naming the machine --------------
refused() {
  local machine=$1 pattern=$2 status=0
  printf '%s\n' "1/$machine" '1/:' >"$machine.hosts"
  PATHWICK_RUN=$runner "$sweep" mixed.jobs "$machine-out" --sshloginfile "$machine.hosts" 2>"$machine.err" || status=$?
  [ "$status" -eq 2 ] || fail "a sweep with $machine exited $status, not 2"
  grep -Eq "^pathwick_sweep: $pattern" "$machine.err" || fail "$machine is not named: $(cat "$machine.err")"
  [ ! -e "$machine-out" ] || fail "the sweep refused for $machine began"
}
refused bare-machine "bare-machine has no pathwick_run on the PATH of its ssh logins"
refused old-machine "old-machine runs pathwick_run 0.0, this machine pathwick_run [0-9.]+: "
refused nowhere-machine "cannot run a command on nowhere-machine over ssh"
echo "cluster: a machine without pathwick_run, with another version or out of reach is refused and named"

# --- 2. the Slurm array recipe of docs/sweeps.md, as the page writes it ----
# The recipe is the page's shell block that calls sbatch; it runs the job
# list evaporation.jobs into sweep-evaporation, here with short runs.
awk '/^```sh$/ { block = ""; inside = 1; next }
     /^```$/ && inside { if (block ~ /sbatch/) { printf "%s", block; exit } inside = 0; next }
     inside { block = block $0 "\n" }' "$page" >recipe.sh
grep -q sbatch recipe.sh || fail "$page holds no Slurm recipe (a sh block with sbatch)"
"$runner" --grid --vary evaporation-rate=0.2,0.8 --seeds 1-3 --steps 500 --agents 100 >evaporation.jobs
PATH=$tmp/bin:$PATH bash -e recipe.sh || fail "the Slurm recipe of $page exited $?"
jobs_done() { [ -z "$(squeue -h -o %i)" ]; }
wait_for 180 "the end of the Slurm jobs" jobs_done
[ -s sweep-evaporation/summary.csv ] || fail "the Slurm recipe wrote no summary.csv ($(cat slurm-*.out 2>/dev/null | tail -n 3))"
[ "$(grep -c '^run-.*,completed,' sweep-evaporation/summary.csv)" -eq 6 ] ||
  fail "the Slurm recipe's summary.csv does not list 6 completed runs"
echo "cluster: the Slurm recipe of docs/sweeps.md: $(series_as_alone sweep-evaporation evaporation.jobs) runs as made alone, and the summary"

# --- 3. a job list with one failing line -------------------------------------
{
  "$runner" --grid --seeds 1-2 --steps 300 --agents 50
  echo "--steps 300 --agents 50 --sniff sideways --seed 3"
} >failing.jobs
# All on the other machine, where the failed run's return fails too.
echo other-machine >other.hosts
status=0
PATHWICK_RUN=$runner "$sweep" failing.jobs failing --sshloginfile other.hosts 2>failing.err || status=$?
[ "$status" -eq 1 ] || fail "a sweep with a failing line exited $status, not 1"
grep -q '^pathwick_sweep: run-0003-seed-3 (line 3: --steps 300 --agents 50 --sniff sideways --seed 3) exit 2 on other-machine: pathwick_run: .*sideways' failing.err ||
  fail "the failing line is not named: $(cat failing.err)"
grep -q '1 of 3 runs did not complete; .*summary.csv is partial: 2 runs completed' failing.err ||
  fail "the sweep's message does not count the failed run: $(cat failing.err)"
! grep -q 'run the same command again' failing.err || fail "a refused line is not an interruption: $(cat failing.err)"
[ "$(grep -c '^run-' failing/summary.csv)" -eq 2 ] || fail "the partial summary does not hold the 2 completed runs"
no_working_folders
echo "cluster: a failing line fails the sweep and is named: $(grep -c . failing.err) lines"

# --- 4. pathwick_sweep --slurm: more runs than the largest array (7 here) ------
export PATHWICK_SWEEP_POLL=1 PATHWICK_RUN=$runner
{
  "$runner" --grid --vary evaporation-rate=0.3,0.6 --seeds 1-5 --steps 300 --agents 50
  echo "--steps 300 --agents 50 --sniff sideways --seed 3"
} >packed.jobs
status=0
"$sweep" --slurm packed.jobs packed --chunk 1 --time 10 2>chunk.err || status=$?
{ [ "$status" -eq 2 ] && grep -q '^pathwick_sweep: 11 runs in chunks of 1 make 11 tasks, more than the 7 Slurm takes here (MaxArraySize 7); give --chunk 2 or more$' chunk.err; } ||
  fail "a --chunk that needs more tasks than MaxArraySize exited $status: $(cat chunk.err)"
{ [ -z "$(squeue -h -o %i)" ] && [ ! -e packed/.sweep/slurm/1 ]; } || fail "the refused Slurm sweep submitted"

# Where Slurm keeps accounts, the user's MaxSubmitJobs (here 4, from a
# stand-in sacctmgr) bounds the array too, with room kept for the check job.
mkdir -p accounts
printf '#!/bin/sh\necho 4\n' >accounts/sacctmgr
chmod +x accounts/sacctmgr
PATH=$PWD/accounts:$PATH "$sweep" --slurm packed.jobs limited --hold --time 10 >limited.out ||
  fail "the Slurm sweep under MaxSubmitJobs exited $?"
grep -q "^pathwick_sweep: 11 runs in array job [0-9]*: 3 tasks of up to 4 runs (MaxSubmitJobs 4, 0 jobs queued)" limited.out ||
  fail "the submission under MaxSubmitJobs: $(cat limited.out)"
mapfile -t limited_jobs <limited/.sweep/slurm/jobs
scancel "${limited_jobs[@]}"
wait_for 60 "the cancelled jobs under MaxSubmitJobs" jobs_done

# Held at submission; one task released and run, the rest cancelled. While
# its jobs are queued no other sweep into the folder starts; the check after
# the cancelled array names what was not run.
"$sweep" --slurm packed.jobs packed --hold --time 10 >packed.out || fail "the held Slurm sweep exited $?"
grep -q "^pathwick_sweep: 11 runs in array job [0-9]*: 6 tasks of up to 2 runs (MaxArraySize 7)" packed.out ||
  fail "the submission: $(cat packed.out)"
{ read -r array && read -r check; } <packed/.sweep/slurm/jobs
for slurm_option in --slurm ""; do
  status=0
  "$sweep" $slurm_option packed.jobs packed 2>queued.err || status=$?
  { [ "$status" -eq 2 ] && grep -q "^pathwick_sweep: jobs $array $check of an earlier sweep into .* are still queued" queued.err; } ||
    fail "a sweep ${slurm_option:-here} into a folder with queued Slurm jobs exited $status: $(cat queued.err)"
done
scontrol release "${array}_0"
wait_for 60 "task 0 of the held array" test -f packed/.sweep/slurm/1/task-0.ended
scancel "$array"
scontrol release "$check"
wait_for 60 "the check of the cancelled array" jobs_done
report=packed/.sweep/slurm/1/check.err
[ "$(cat packed/.sweep/slurm/1/check.status)" = 1 ] || fail "the check of a cancelled array did not fail"
# The report counts them and names a few; the list holds all 9.
{ grep -q '^pathwick_sweep: of 11 runs 2 completed, 9 not started$' "$report" &&
  [ "$(grep -c 'not run: the sweep was interrupted$' "$report")" -eq 3 ] &&
  [ "$(grep -c 'not run: the sweep was interrupted$' packed/.sweep/not-completed.txt)" -eq 9 ] &&
  grep -q '9 of 11 runs did not complete; .*run the same command again to complete the 9 interrupted$' "$report"; } ||
  fail "the check of a cancelled array: $(cat "$report")"

# The same command again submits the 9 runs missing and leaves the 2 finished
# alone; the failing line is named with its node, and is no interruption.
before=$(stat -c '%n %i %Y' packed/run-*/run.json)
[ "$(wc -l <<<"$before")" -eq 2 ] || fail "task 0 did not make its 2 runs: $before"
status=0
"$sweep" --slurm packed.jobs packed --wait --window 2 --time 10 --cpus-per-task 1 >packed.out 2>packed.err || status=$?
[ "$status" -eq 1 ] || fail "the resumed Slurm sweep with a failing line exited $status, not 1: $(cat packed.err)"
grep -q "^pathwick_sweep: 9 runs in array job [0-9]*: 5 tasks of up to 2 runs (MaxArraySize 7)" packed.out ||
  fail "the resumed submission: $(cat packed.out)"
[ "$(cut -f1 packed/.sweep/slurm/2/tasks)" = "$(cut -f1 packed/.sweep/slurm/1/tasks | tail -n +3)" ] ||
  fail "the resumed sweep submitted: $(cut -f1 packed/.sweep/slurm/2/tasks)"
grep -q "^pathwick_sweep: run-0011-seed-3 (line 11: --steps 300 --agents 50 --sniff sideways --seed 3) exit 2 on $node: pathwick_run: .*sideways" packed.err ||
  fail "the failing line is not named: $(cat packed.err)"
{ grep -q '1 of 11 runs did not complete; .*summary.csv is partial: 10 runs completed' packed.err &&
  ! grep -q 'run the same command again' packed.err; } || fail "the count of the Slurm sweep: $(cat packed.err)"
[ "$(stat -c '%n %i %Y' packed/run-000[12]-*/run.json)" = "$before" ] || fail "the resumed sweep touched the finished runs"
# Every line started exactly once, over the two submissions.
started=$(cat packed/.sweep/slurm/*/task-*.joblog | awk -F'\t' '$1 ~ /^[0-9]+$/ { print $NF }' |
  grep -o 'run-[0-9]*-seed-[0-9]*' | sort)
{ [ "$(wc -l <<<"$started")" -eq 11 ] && [ -z "$(uniq -d <<<"$started")" ]; } || fail "the runs started: $started"
[ "$(grep -c '^run-.*,completed,' packed/summary.csv)" -eq 10 ] || fail "the Slurm sweep's summary lacks runs"
windows=$(awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "window") c = i; next } { print $c }' packed/summary.csv | sort -u)
[ "$windows" = 2 ] || fail "--window 2 did not reach the summary of the Slurm sweep: $windows"

# A task that Slurm starts again goes on from its job log: requeued after
# its runs completed, it makes none of them again.
array=$(sed -n 3p packed/.sweep/slurm/jobs)
log_before=$(md5sum <packed/.sweep/slurm/2/task-0.joblog)
rm packed/.sweep/slurm/2/task-0.ended
scontrol requeue "${array}_0" || fail "Slurm did not requeue task 0 of array $array"
wait_for 200 "the requeued task" test -f packed/.sweep/slurm/2/task-0.ended
{ [ "$(cat packed/.sweep/slurm/2/task-0.ended)" = 0 ] && [ "$(md5sum <packed/.sweep/slurm/2/task-0.joblog)" = "$log_before" ]; } ||
  fail "the requeued task ended $(cat packed/.sweep/slurm/2/task-0.ended): $(cat packed/.sweep/slurm/2/task-0.joblog)"
echo "cluster: --slurm packs 11 runs into 6 tasks (3 under MaxSubmitJobs 4), resumes the cancelled array with the 9 missing, names the failing line, a requeued task makes nothing again: $(series_as_alone packed packed.jobs) runs as made alone"

# Precision on request on Slurm: each round an array and the check after it,
# the rounds, their runs and the numbers those of the same sweep here.
"$runner" --grid --vary evaporation-rate=0.2,0.8 --vary sniff-threshold=5,50 --seeds 1-2 --steps 300 --agents 50 \
  >./precision.jobs
request=(--window 2 --precision trip_rate:effect=3 --max-runs 200)
"$sweep" precision.jobs precision-here "${request[@]}" >/dev/null 2>precision-here.err ||
  fail "the precision sweep here: $(cat precision-here.err)"
status=0
"$sweep" --slurm precision.jobs precision-slurm --wait "${request[@]}" --time 10 --cpus-per-task 1 \
  >precision.out 2>precision.err || status=$?
[ "$status" -eq 0 ] || fail "the precision sweep on Slurm exited $status: $(cat precision.err)"
grep -q '^pathwick_sweep: precision: round [1-9]: every named interval is narrow enough' precision.err ||
  fail "the precision sweep on Slurm did not say it reached its widths: $(cat precision.err)"
for file in .sweep/precision.jobs .sweep/rounds.csv effects.csv; do
  cmp -s "precision-here/$file" "precision-slurm/$file" || fail "the precision sweep's $file on Slurm differs from here"
done
echo "cluster: --precision on Slurm: $(find precision-slurm/.sweep/slurm -mindepth 1 -maxdepth 1 -type d | wc -l) submissions, the rounds of this machine alone"
