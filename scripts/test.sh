#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   scripts/test.sh          everything CI runs: the normal build's tests, a
#                            bounded run of each libFuzzer target (build-fuzz/,
#                            clang) and every test again under AddressSanitizer,
#                            UndefinedBehaviorSanitizer and LeakSanitizer (build-asan/)
#   scripts/test.sh --quick  the normal build's tests only
# FUZZ_SECONDS (default 30) bounds each fuzz target's run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1
fuzz_seconds=${FUZZ_SECONDS:-30}

"$root/scripts/deps.sh"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2
# The end-to-end test needs an X server: the whole suite runs under Xvfb.
xvfb-run -a -s "-screen 0 1024x900x24" \
  ctest --test-dir "$root/build" --output-on-failure -j2

[ "$quick" -eq 1 ] && exit 0

# Sanitizer settings, for the fuzz targets and the sanitizer build alike.
# Leaks are errors; the suppressions name only third-party libraries.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp

# Fuzz targets: each runs for a bounded time from its committed seed corpus.
# New inputs go to a scratch corpus in build-fuzz/, so fuzz/corpus/ stays as
# committed; a finding is written to build-fuzz/artifacts/ and fails the run.
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPATHWICK_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build-fuzz" -j2
mkdir -p "$root/build-fuzz/artifacts"
for target in fuzz_conversions fuzz_setup_fields fuzz_checkpoint; do
  mkdir -p "$root/build-fuzz/corpus/$target"
  log="$root/build-fuzz/$target.log"
  echo "fuzz: $target for ${fuzz_seconds}s"
  if ! "$root/build-fuzz/fuzz/$target" "$root/build-fuzz/corpus/$target" "$root/fuzz/corpus/$target" \
      -max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=4096 \
      -artifact_prefix="$root/build-fuzz/artifacts/$target-" >"$log" 2>&1; then
    tail -n 80 "$log"
    echo "fuzz: $target found a fault (input in build-fuzz/artifacts/)" >&2
    exit 1
  fi
  grep -E '^Done [0-9]+ runs' "$log" || true
done

# Every test again under the sanitizers.
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPATHWICK_SANITIZE=ON >/dev/null
cmake --build "$root/build-asan" -j2
xvfb-run -a -s "-screen 0 1024x900x24" \
  ctest --test-dir "$root/build-asan" --output-on-failure -j2
