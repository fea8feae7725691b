#!/usr/bin/env bash
# A sweep that is stopped (SIGTERM to all of it, then SIGKILL) and started
# again ends with every run present exactly once, leaves the runs finished
# before the stop untouched, and has the same data as a sweep that was never
# interrupted.
#   tests/sweep_resume.sh PATHWICK_RUN SWEEP_SH
set -euo pipefail
runner=$(readlink -f "$1")
sweep=$2
if ! command -v parallel >/dev/null 2>&1; then
  echo "GNU parallel is missing (scripts/deps.sh installs it)"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
PATH="$(dirname "$runner"):$PATH"
export PATH

{
  echo "# evaporation against seeds"
  echo
  "$runner" --grid --vary evaporation-rate=0.3,0.6 --seeds 1-3 --steps 12000 --agents 200
} >"$tmp/jobs"
[ "$(grep -c -- '--seed' "$tmp/jobs")" -eq 6 ] || { echo "expected 6 job lines"; exit 1; }

"$sweep" "$tmp/jobs" "$tmp/whole" --jobs 2

# The pathwick_run of the stopped sweeps. The run of job line 4 (not the
# sweep's queries about its folder), the second
# of the list, says on a fifo that it has begun and then waits on another
# that nobody opens, until the stop ends it; every other call is the real
# pathwick_run. One run at a time, the run of line 3 is complete by then.
mkfifo "$tmp/begun" "$tmp/never"
cat >"$tmp/holding_run" <<SCRIPT
#!/bin/sh
case "\$*" in
  *"--out "*"/run-0004-"*)
    echo begun >"$tmp/begun"
    read -r _ <"$tmp/never"
    exit 1 ;;
  *) exec "$runner" "\$@" ;;
esac
SCRIPT
chmod +x "$tmp/holding_run"

# Stops a sweep of one run at a time, all of it with SIGNAL, while the run of
# line 4 is under way.
stop_at_second_run() {
  local signal=$1
  PATHWICK_RUN=$tmp/holding_run setsid "$sweep" "$tmp/jobs" "$tmp/cut" --jobs 1 >/dev/null 2>"$tmp/stopped-$signal" &
  local pid=$!
  # Opened for reading and writing, the fifo does not block its opening; the
  # bound only ends a sweep that never reaches line 4.
  exec 3<>"$tmp/begun"
  read -r -t 240 -u 3 _ || { echo "the run of line 4 never began:"; cat "$tmp/stopped-$signal"; exit 1; }
  exec 3<&-
  kill "-$signal" -- "-$pid"
  wait "$pid" || true
}
stop_at_second_run TERM
# Stopped with SIGTERM, the sweep still says what is missing, and to run again.
grep -Eq '^pathwick_sweep: 5 of 6 runs did not complete; .*run the same command again to complete the 5 interrupted$' \
  "$tmp/stopped-TERM" || { echo "no advice after SIGTERM:"; cat "$tmp/stopped-TERM"; exit 1; }
stop_at_second_run KILL
first=$tmp/cut/run-0003-seed-1
[ "$(ls -d "$tmp"/cut/run-*)" = "$first" ] || { echo "expected the run of line 3 alone:"; ls -A "$tmp/cut"; exit 1; }
stamp=$(stat -c %Y.%i "$first/run.json")
grep -q '"ended": "completed"' "$first/run.json" || { echo "the first run should be complete"; exit 1; }

"$sweep" "$tmp/jobs" "$tmp/cut" --jobs 2

[ "$(stat -c %Y.%i "$first/run.json")" = "$stamp" ] || { echo "a finished run was touched"; exit 1; }
# shellcheck disable=SC2010 # the folders of a sweep have plain names
whole=$(cd "$tmp/whole" && ls -A | grep -v '^.sweep$')
# shellcheck disable=SC2010 # likewise
cut=$(cd "$tmp/cut" && ls -A | grep -v '^.sweep$')
[ "$whole" = "$cut" ] || { echo "different folders:"; echo "$whole"; echo "--"; echo "$cut"; exit 1; }
# shellcheck disable=SC2012 # likewise
[ "$(ls -d "$tmp"/cut/run-* | wc -l)" -eq 6 ] || { echo "expected 6 run folders"; exit 1; }
for run in "$tmp"/whole/run-*; do
  name=$(basename "$run")
  cmp "$run/series.csv" "$tmp/cut/$name/series.csv"
  grep -q '"ended": "completed"' "$tmp/cut/$name/run.json"
done
cmp "$tmp/whole/summary.csv" "$tmp/cut/summary.csv"
[ -s "$tmp/cut/summary.png" ]

# A stop of the sweep stops its runs, a row each: SIGTERM to the sweep's own
# process, SIGHUP to its process group (as a closed terminal sends it). The
# sweep waits for its runs, exits 128 + the signal, leaves no run going, and
# counts none done that is not; running it again makes exactly the runs that
# are missing, each once, and --verify passes.
{
  echo "--steps 300 --agents 30 --seed 1"
  echo "--steps 400000 --agents 30 --seed 2"
  echo "--steps 300 --agents 30 --seed 3"
} >"$tmp/stop.jobs"
while read -r signal target status; do
  out=$tmp/stop-$signal
  setsid "$sweep" "$tmp/stop.jobs" "$out" --jobs 1 >/dev/null 2>"$tmp/stop.err" &
  pid=$!
  # The stop comes once the run of line 2 has samples.
  for _ in $(seq 2400); do
    [ "$(cat "$out"/.run-0002-seed-2.tmp-*/.series.csv.*.part 2>/dev/null | wc -l)" -ge 3 ] && break
    sleep 0.05
  done
  if [ "$target" = group ]; then kill "-$signal" -- "-$pid"; else kill "-$signal" "$pid"; fi
  got=0
  wait "$pid" || got=$?
  [ "$got" -eq "$status" ] || { echo "SIG$signal to the $target: exit $got, not $status:"; cat "$tmp/stop.err"; exit 1; }
  ! pgrep -f -- "--out $out/" >/dev/null || { echo "SIG$signal to the $target left runs going"; exit 1; }
  grep -q '"ended": "completed"' "$out/run-0001-seed-1/run.json" || { echo "line 1 should be complete"; exit 1; }
  [ ! -e "$out/run-0003-seed-3" ] || { echo "SIG$signal: line 3 was run after the stop"; exit 1; }
  if [ -e "$out/run-0002-seed-2" ]; then
    grep -q '"ended": "interrupted"' "$out/run-0002-seed-2/run.json" || { echo "line 2 is counted done"; exit 1; }
  fi
  stamp=$(stat -c %Y.%i "$out/run-0001-seed-1/run.json")
  sed -i 's/--steps 400000/--steps 500/' "$tmp/stop.jobs"
  "$sweep" "$tmp/stop.jobs" "$out" --jobs 1 2>"$tmp/stop.err" || { echo "the resume failed:"; cat "$tmp/stop.err"; exit 1; }
  sed -i 's/--steps 500 --agents 30 --seed 2/--steps 400000 --agents 30 --seed 2/' "$tmp/stop.jobs"
  [ "$(stat -c %Y.%i "$out/run-0001-seed-1/run.json")" = "$stamp" ] || { echo "a finished run was made again"; exit 1; }
  # The resume made the two missing runs, once each.
  { [ "$(cut -f1 "$out/.sweep/tasks" | tr '\n' ' ')" = "run-0002-seed-2 run-0003-seed-3 " ] &&
    [ "$(tail -n +2 "$out/.sweep/joblog" | cut -f7 | tr '\n' ' ')" = "0 0 " ]; } ||
    { echo "the resume made other runs:"; cat "$out/.sweep/tasks" "$out/.sweep/joblog"; exit 1; }
  "$runner" --verify "$out" --repeat 1 >/dev/null 2>"$tmp/stop.err" || { echo "--verify:"; cat "$tmp/stop.err"; exit 1; }
done <<'TABLE'
TERM sweep 143
HUP group 129
TABLE
echo "sweep resumed: 6 runs, each once, data identical; stopped sweeps stop their runs and resume what is missing"
