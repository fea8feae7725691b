#!/usr/bin/env bash
# Builds the Release benchmarks and runs them. Not part of the tests.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: scripts/bench.sh [--filter REGEX] [--repetitions N] [--help]

Builds the Release benchmarks into build/ and runs, in this order:
  state_digest   digests of fixed-seed runs at seven settings; they must not
                 change with an optimisation                        (~5 s)
  bench_step     one step and each pass, timed by Google Benchmark:
                 BM_DoStep (step with drawing), BM_HeadlessStep (cells not
                 redrawn, agents hidden; up to 1,000,000 agents),
                 BM_MoveAgents, Evaporate, DrawCells, DrawAgents,
                 MoveAgents                                         (~5 min)
  bench_memory   BM_ResidentMemory: VmRSS of a 1,000,000-agent world at
                 cell size 1                                        (~10 s)
  window_rate    steps/s of the real window against a bare 1 ms timer,
                 medians of 7 alternating one-second rounds         (~30 s)
  runner_rate    steps/s of pathwick_run over a long run against a bare
                 loop of headless steps, medians of 3 rounds         (~1 min)
  checkpoint     size, write and read time of a checkpoint against 100
                 steps, default world and 1,000,000 agents           (~1 min)
  sweep_speedup  8 equal runs with scripts/sweep.sh --jobs 2 against
                 --jobs 1                                            (~30 s)
  watch          the agent table of 1,000,000 agents against 1000 steps,
                 and the lineage against the same steps without it  (~2 min)
Each Google Benchmark result is the median of N repetitions (default 5);
times are given both as wall time and as CPU time. With the default
repetitions everything takes about 6 minutes on 2 cores, plus the build.

Options:
  --filter REGEX     run only what matches REGEX (an extended regular
                     expression): benchmark names such as
                     'BM_HeadlessStep|BM_DoStep/cellSize:1' , or the names
                     state_digest, window_rate, runner_rate, checkpoint,
                     sweep_speedup and watch above
  --repetitions N    repetitions each median is taken over (default 5)
  --help             this text
EOF
}

filter=""
repetitions=5
while [ $# -gt 0 ]; do
  case "$1" in
    --help | -h)
      usage
      exit 0
      ;;
    --filter)
      { [ $# -ge 2 ] && [ -n "$2" ]; } || { echo "bench.sh: --filter needs a regular expression" >&2; exit 2; }
      filter="$2"
      shift 2
      ;;
    --repetitions)
      { [ $# -ge 2 ] && [[ "$2" =~ ^[1-9][0-9]*$ ]]; } || { echo "bench.sh: --repetitions needs a whole number of at least 1" >&2; exit 2; }
      repetitions="$2"
      shift 2
      ;;
    *)
      echo "bench.sh: unknown option '$1' (see --help)" >&2
      exit 2
      ;;
  esac
done

# A filter that is not a valid expression is refused before anything runs.
if [ -n "$filter" ]; then
  set +e
  echo | grep -E -- "$filter" >/dev/null 2>&1
  [ $? -eq 2 ] && { echo "bench.sh: --filter '$filter' is not a valid regular expression" >&2; exit 2; }
  set -e
fi

# Whether a part named $1 runs: always without a filter, else when it matches.
selected() { [ -z "$filter" ] || echo "$1" | grep -Eq -- "$filter"; }

# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
"$root/scripts/deps.sh" build test bench
configure release -DPATHWICK_BENCH=ON
cmake --build --preset release -j "$jobs" --target bench_step bench_memory bench_window state_digest \
  bench_runner bench_checkpoint bench_watch pathwick_run

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== medians of $repetitions repetitions"

benchmark_args=(--benchmark_min_time=0.5 "--benchmark_repetitions=$repetitions"
                --benchmark_report_aggregates_only=true)
[ -n "$filter" ] && benchmark_args+=("--benchmark_filter=$filter")

if selected state_digest; then
  echo "== state_digest: digests of fixed-seed runs (must not change with an optimisation)"
  "$root/build/bench/state_digest"
fi
for program in bench_step bench_memory; do
  # Only a program with a benchmark the filter matches is started.
  if [ -n "$filter" ] && ! "$root/build/bench/$program" --benchmark_list_tests=true \
       "--benchmark_filter=$filter" 2>/dev/null | grep -q .; then
    continue
  fi
  echo "== $program"
  "$root/build/bench/$program" "${benchmark_args[@]}"
done
if selected window_rate; then
  echo "== window_rate: window steps per second against a bare 1 ms timer"
  "$root/build/bench/bench_window"
fi
if selected runner_rate; then
  echo "== runner_rate: pathwick_run against a bare loop of headless steps, same world and seed"
  "$root/build/bench/bench_runner"
fi
if selected checkpoint; then
  echo "== checkpoint: size, write and read time against 100 headless steps"
  "$root/build/bench/bench_checkpoint"
fi
if selected watch; then
  echo "== watch: the agent table and the lineage against the steps they record"
  "$root/build/bench/bench_watch"
fi
if selected sweep_speedup; then
  echo "== sweep_speedup: 8 equal runs, --jobs 2 against --jobs 1"
  "$root/bench/sweep_speedup.sh" "$root/build/runner/pathwick_run"
fi
