#!/usr/bin/env bash
# A study of RUNS short runs, stage by stage: the job list (--grid), the
# sweep, its summary and --verify of the folder, each under /usr/bin/time -v
# (wall time and peak memory), and the sweep's own cost per run set against
# the runs' (parallel's job log gives each run's time).
#   bench/sweep_study.sh PATHWICK_RUN PATHWICK_SWEEP WORKDIR [RUNS] [STEPS]
# WORKDIR is made and kept (times/ holds each stage's report). RUNS defaults
# to 10000, STEPS to 200. Not run by the tests: it takes long.
set -euo pipefail
default_runs=10000
# shellcheck source=study_common.sh
source "$(dirname "$0")/study_common.sh"
export PATHWICK_RUN=$runner
cores=$(nproc)

# timed STAGE COMMAND...: COMMAND under /usr/bin/time -v, its report in
# times/STAGE.txt; prints the stage's wall seconds and peak kB.
timed() {
  local stage=$1
  shift
  /usr/bin/time -v -o "$work/times/$stage.txt" "$@"
}
wall() { awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/times/$1.txt"; }
peak() { awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/times/$1.txt"; }

rm -rf "$work/out"
timed grid "$runner" --grid --seeds "1-$runs" --steps "$steps" >"$work/jobs"
# A sweep with runs that did not complete still has its stages measured; its
# report is in sweep.err.
timed sweep "$sweep" "$work/jobs" "$work/out" 2>"$work/sweep.err" || echo "the sweep exited $?: see $work/sweep.err"
cp "$work/out/.sweep/joblog" "$work/joblog"  # the sweep again, below, has no runs to log
timed summary "$runner" --summarize "$work/out" >/dev/null
timed checks "$sweep" "$work/jobs" "$work/out" 2>>"$work/sweep.err"  # all completed: the checks alone, and the summary
timed verify "$runner" --verify "$work/out" >"$work/verify.out"
timed verify_files "$runner" --verify "$work/out" --repeat 0 >>"$work/verify.out"

# The runs' own time, from parallel's job log (column 4: JobRuntime).
run_seconds=$(awk -F'\t' 'NR > 1 { s += $4 } END { printf "%.1f", s }' "$work/joblog")
awk -v runs="$runs" -v steps="$steps" -v cores="$cores" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" \
  -v grid="$(wall grid)" -v gridkb="$(peak grid)" -v sweep="$(wall sweep)" -v sweepkb="$(peak sweep)" \
  -v summary="$(wall summary)" -v summarykb="$(peak summary)" -v checks="$(wall checks)" -v checkskb="$(peak checks)" \
  -v verify="$(wall verify)" -v verifykb="$(peak verify)" -v files="$(wall verify_files)" -v fileskb="$(peak verify_files)" \
  -v runsec="$run_seconds" 'BEGIN {
  printf "%d runs of %d steps on %d cores, %s UTC, load average at the end %s\n", runs, steps, cores, strftime("%Y-%m-%d %H:%M", systime(), 1), load
  printf "| stage | wall s | peak MiB |\n|---|---:|---:|\n"
  printf "| grid (job list) | %.1f | %.0f |\n", grid, gridkb / 1024
  printf "| sweep (runs, checks, summary) | %.1f | %.0f |\n", sweep, sweepkb / 1024
  printf "| summary again | %.1f | %.0f |\n", summary, summarykb / 1024
  printf "| sweep again, nothing to run (checks and summary) | %.1f | %.0f |\n", checks, checkskb / 1024
  printf "| verify (files, 3 repeats) | %.1f | %.0f |\n", verify, verifykb / 1024
  printf "| verify --repeat 0 (files) | %.1f | %.0f |\n", files, fileskb / 1024
  machinery = sweep - summary - runsec / cores
  printf "runs: %.1f s in all, %.1f ms each; the sweep beyond its runs and summary: %.1f s, %.2f ms a run\n", runsec, 1000 * runsec / runs, machinery, 1000 * machinery / runs
}' | tee "$work/times/table.md"
