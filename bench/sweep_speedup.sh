#!/usr/bin/env bash
# Wall time of a sweep of 8 equal runs with --jobs 2 against the same 8 runs
# one after another (--jobs 1), in the same run of this script.
#   bench/sweep_speedup.sh PATHWICK_RUN [STEPS]
set -euo pipefail
runner=$1
steps=${2:-60000}
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
PATH="$(dirname "$runner"):$PATH"
export PATH
"$runner" --grid --seeds 1-8 --steps "$steps" >"$tmp/jobs"
seconds() {
  local start end
  start=$(date +%s.%N)
  "$root/scripts/sweep.sh" "$tmp/jobs" "$tmp/$1" --jobs "$2" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
one=$(seconds one 1)
two=$(seconds two 2)
awk -v s="$steps" -v one="$one" -v two="$two" 'BEGIN {
  printf "8 runs of %d steps (default world): --jobs 1 %.2f s, --jobs 2 %.2f s, ratio %.3f (target <= 0.6)\n", s, one, two, two / one
}'
