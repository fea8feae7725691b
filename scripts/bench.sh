#!/usr/bin/env bash
# Builds the Release benchmarks and runs them. Not part of the tests.
#   scripts/bench.sh                 everything
#   scripts/bench.sh --filter REGEX  only the matching step/pass benchmarks
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
filter="."
[ "${1:-}" = "--filter" ] && filter="${2:-.}"
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target bench_step bench_window state_digest
echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== state digests of fixed-seed runs (must not change with an optimisation)"
"$root/build/bench/state_digest"
echo "== step and passes"
"$root/build/bench/bench_step" --benchmark_filter="$filter" --benchmark_min_time=0.5 \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
echo "== window steps per second against a bare 1 ms timer"
"$root/build/bench/bench_window"
