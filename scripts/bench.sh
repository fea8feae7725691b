#!/usr/bin/env bash
# Builds the release benchmarks (build/) and runs them: the state digests, the
# step and pass timings and the window rate. Not part of the tests. About
# 6 minutes on 2 cores once built; keep the machine otherwise idle.
#
# Usage: scripts/bench.sh [--filter REGEX]
#   --filter REGEX   only the step/pass benchmarks whose names match
#   --help           this text
set -euo pipefail
source "$(dirname "$0")/common.sh"
filter="."
while [ $# -gt 0 ]; do
  case $1 in
    --filter)
      [ $# -ge 2 ] || { echo "bench: --filter needs a regular expression" >&2; exit 2; }
      filter=$2; shift 2 ;;
    -h|--help) show_help; exit 0 ;;
    *) bad_option "$1" ;;
  esac
done

"$root/scripts/deps.sh" build bench
configure release -DPATHWICK_BENCH=ON
cmake --build --preset release -j "$jobs" --target bench_step bench_window state_digest
echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== state digests of fixed-seed runs (must not change with an optimisation)"
"$root/build/bench/state_digest"
echo "== step and passes"
"$root/build/bench/bench_step" --benchmark_filter="$filter" --benchmark_min_time=0.5 \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
echo "== window steps per second against a bare 1 ms timer"
"$root/build/bench/bench_window"
