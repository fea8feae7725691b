#!/usr/bin/env bash
# Soak run (not part of CI): the real window, offscreen, stepped in a loop --
# one million steps of the default world (cell size 6, 200 agents) and
# 100000 steps at cell size 1 -- with resident memory (VmRSS) reported after
# the first setup, once the chart is full (step 50000) and at the end.
# Takes about 3 minutes on 2 cores once built.
#
# The chart keeps up to 498 points per series (to step 49800), and the first
# paints fill font and style caches; after that nothing may grow. The run
# fails when VmRSS grows by more than SOAK_TOLERANCE_KIB (default 256) from
# the warm point to the end, or by more than SOAK_TOTAL_KIB (default 4096)
# from the first setup to the end.
#
# Usage: SOAK_STEPS=1000000 SOAK_SMALL_STEPS=100000 scripts/soak.sh
#   --help    this text
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
parse_flags -- "$@"
steps=${SOAK_STEPS:-1000000}
small_steps=${SOAK_SMALL_STEPS:-100000}
tolerance=${SOAK_TOLERANCE_KIB:-256}
total=${SOAK_TOTAL_KIB:-4096}

"$root/scripts/deps.sh" build
configure release
cmake --build --preset release -j "$jobs" --target pathwick_soak

echo "soak: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
status=0
run() {
  local log
  log=$(mktemp)
  QT_QPA_PLATFORM=offscreen "$root/build/tools/pathwick_soak" "$@" | tee "$log"
  local result
  result=$(grep '^soak-result' "$log")
  rm -f "$log"
  local after_warm growth
  after_warm=$(sed -E 's/.*growth_after_warm_kib=(-?[0-9]+).*/\1/' <<<"$result")
  growth=$(sed -E 's/.* growth_kib=(-?[0-9]+).*/\1/' <<<"$result")
  if [ "$after_warm" -gt "$tolerance" ] || [ "$growth" -gt "$total" ]; then
    echo "soak: FAILED: resident memory grew by $growth KiB in all, $after_warm KiB after the warm point" >&2
    status=1
  else
    echo "soak: ok: resident memory grew by $growth KiB in all, $after_warm KiB after the warm point"
  fi
}

run --steps "$steps"
run --steps "$small_steps" --cell-size 1
exit $status
