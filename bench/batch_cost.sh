#!/usr/bin/env bash
# What a study costs on 2 cores: runs of 200, 4,000 and 40,000 steps made one
# process a run (before) and as chunks of pathwick_run --jobs, one per core
# (after), interleaved, each timed twice; and a sweep of 400 runs of 200
# steps (pathwick_sweep, which hands its slots chunks of runs) against the
# same runs made one process a run, and against their own stepping time
# shared over the 2 cores. The stepping time of a run is the wall time its record holds (the
# world's setup, its steps and its samples). Prints the load average with
# each row, as the machine may be shared.
#   bench/batch_cost.sh PATHWICK_RUN PATHWICK_SWEEP WORKDIR [RUNS] [STEPS]
# (RUNS and STEPS: those of the sweep, by default 400 and 200)
set -euo pipefail
default_runs=400
# shellcheck source=bench/study_common.sh
. "$(dirname "$0")/study_common.sh"
cores=2
export PATHWICK_RUN=$runner

now() { date +%s.%N; }
load() { cut -d' ' -f1 /proc/loadavg; }
# stepping DIR: the sum of the wall times the runs of DIR record.
stepping() {
  cat "$1"/*/run.json | awk -F': ' '/"wall_time_seconds"/ { s += $2 } END { printf "%.3f", s }'
}

# before LIST DIR: one pathwick_run a line, $cores at once.
before() {
  # shellcheck disable=SC2016 # expanded by the shell that xargs starts
  tr '\n' '\0' <"$1" |
    xargs -0 -P "$cores" -n 1 sh -c 'exec "$0" --quiet --out "$1/${2%%	*}" --job "${2#*	}"' "$runner" "$2"
}
# after LIST DIR: the list in $cores chunks, each one pathwick_run --jobs.
after() {
  local lines chunk
  lines=$(wc -l <"$1")
  split -l $(((lines + cores - 1) / cores)) "$1" "$1.chunk-"
  for chunk in "$1".chunk-*; do "$runner" --jobs "$chunk" --out "$2" >/dev/null & done
  wait
  rm -f "$1".chunk-*
}
# timed WAY LIST DIR: the wall time of WAY making LIST into DIR, afresh.
timed() {
  rm -rf "$3"
  local start end
  start=$(now)
  "$1" "$2" "$3"
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

echo "machine: $(nproc) cores ($cores used), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
printf '%-7s %5s %-7s %9s %9s %11s %10s %6s\n' steps runs way wall_s runs/s ms/run stepping% load
for row in "200 100" "4000 20" "40000 4"; do
  read -r n count <<<"$row"
  list=$work/list-$n
  seq "$count" | awk -v n="$n" '{ printf "run-%04d\t--steps %d --seed %d\n", $1, n, $1 }' >"$list"
  for pass in 1 2; do
    for way in before after; do
      l=$(load)
      wall=$(timed "$way" "$list" "$work/$way-$n")
      step=$(stepping "$work/$way-$n")
      awk -v n="$n" -v c="$count" -v w="$way" -v t="$wall" -v s="$step" -v k="$cores" -v l="$l" -v p="$pass" 'BEGIN {
        printf "%-7d %5d %-7s %9.3f %9.1f %11.2f %9.1f%% %6s\n", n, c, w (p == 2 ? "'"'"'" : ""), t, c / t, 1000 * t * k / c,
          100 * s / (t * k), l }'
    done
  done
done

# The study: a sweep of $runs runs of $steps steps, against the same runs one
# process a run, and against their own stepping shared over the cores.
"$runner" --grid --seeds "1-$runs" --steps "$steps" >"$work/sweep.jobs"
awk '{ printf "run-%04d\t%s\n", NR, $0 }' "$work/sweep.jobs" >"$work/sweep.list"
sweep_into() {
  "$sweep" "$work/sweep.jobs" "$2" --jobs "$cores" >/dev/null 2>"$work/sweep.err" || {
    cat "$work/sweep.err" >&2
    return 1
  }
}
for pass in 1 2; do
  l=$(load)
  alone=$(timed before "$work/sweep.list" "$work/alone")
  swept=$(timed sweep_into "$work/sweep.jobs" "$work/sweep")
  own=$(stepping "$work/sweep")
  awk -v r="$runs" -v s="$steps" -v sw="$swept" -v a="$alone" -v own="$own" -v k="$cores" -v l="$l" 'BEGIN {
    shared = own / k
    printf "%d runs of %d steps on %d cores (load %s): their own stepping %.3f s over %d cores = %.3f s\n", r, s, k, l, own, k, shared
    printf "  one process a run (xargs -P %d):          %7.3f s, %5.1f x the stepping\n", k, a, a / shared
    printf "  pathwick_sweep --jobs %d (chunks, summary): %7.3f s, %5.1f x the stepping (target <= 3)\n", k, sw, sw / shared
  }'
done
