#!/usr/bin/env bash
# A sweep that is stopped (SIGTERM to all of it, then SIGKILL) and started
# again ends with every run present exactly once, leaves the runs finished
# before the stop untouched, and has the same data as a sweep that was never
# interrupted.
#   tests/sweep_resume.sh PATHWICK_RUN SWEEP_SH
set -euo pipefail
runner=$1
sweep=$2
if ! command -v parallel >/dev/null 2>&1; then
  echo "GNU parallel is missing (scripts/deps.sh installs it)"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export PATH="$(dirname "$runner"):$PATH"

{
  echo "# evaporation against seeds"
  echo
  "$runner" --grid --vary evaporation-rate=0.3,0.6 --seeds 1-3 --steps 12000 --agents 200
} >"$tmp/jobs"
[ "$(grep -c -- '--seed' "$tmp/jobs")" -eq 6 ] || { echo "expected 6 job lines"; exit 1; }

"$sweep" "$tmp/jobs" "$tmp/whole" --jobs 2

# Stops a sweep of one run at a time once its first run is complete.
stop_after_first_run() {
  local signal=$1
  setsid "$sweep" "$tmp/jobs" "$tmp/cut" --jobs 1 >/dev/null 2>"$tmp/stopped-$signal" &
  local pid=$!
  local done_before
  done_before=$(ls "$tmp"/cut/run-*/run.json 2>/dev/null | wc -l || true)
  for _ in $(seq 1200); do
    [ "$(ls "$tmp"/cut/run-*/run.json 2>/dev/null | wc -l)" -gt "$done_before" ] && break
    sleep 0.05
  done
  kill "-$signal" -- "-$pid" 2>/dev/null || true
  wait "$pid" || true
}
stop_after_first_run TERM
# Stopped with SIGTERM, the sweep still says what is missing, and to run again.
grep -Eq '^pathwick_sweep: [1-5] of 6 runs did not complete; .*run the same command again to complete the [1-5] interrupted$' \
  "$tmp/stopped-TERM" || { echo "no advice after SIGTERM:"; cat "$tmp/stopped-TERM"; exit 1; }
stop_after_first_run KILL
first=$(ls -d "$tmp"/cut/run-* | head -n1)
stamp=$(stat -c %Y.%i "$first/run.json")
grep -q '"ended": "completed"' "$first/run.json" || { echo "the first run should be complete"; exit 1; }

"$sweep" "$tmp/jobs" "$tmp/cut" --jobs 2

[ "$(stat -c %Y.%i "$first/run.json")" = "$stamp" ] || { echo "a finished run was touched"; exit 1; }
whole=$(cd "$tmp/whole" && ls -A | grep -v '^.sweep$')
cut=$(cd "$tmp/cut" && ls -A | grep -v '^.sweep$')
[ "$whole" = "$cut" ] || { echo "different folders:"; echo "$whole"; echo "--"; echo "$cut"; exit 1; }
[ "$(ls -d "$tmp"/cut/run-* | wc -l)" -eq 6 ] || { echo "expected 6 run folders"; exit 1; }
for run in "$tmp"/whole/run-*; do
  name=$(basename "$run")
  cmp "$run/series.csv" "$tmp/cut/$name/series.csv"
  grep -q '"ended": "completed"' "$tmp/cut/$name/run.json"
done
cmp "$tmp/whole/summary.csv" "$tmp/cut/summary.csv"
[ -s "$tmp/cut/summary.png" ]
echo "sweep resumed: 6 runs, each once, data identical"
