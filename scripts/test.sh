#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. CI runs it in full.
#
# Usage: scripts/test.sh [--quick]
#   (none)    every stage, about 25 minutes on 2 cores (four builds, the checks
#             of the code and fuzzing):
#               1. the release build's tests under Xvfb (build/)
#               2. the code's layout and checks: .clang-format and .clang-tidy
#                  (scripts/style.sh, about 10 minutes)
#               3. sweeps on a throwaway cluster on this machine: an sshd and a
#                  single-node Slurm, on the loopback (tests/cluster.sh, about
#                  a minute and a half; needs root, else skipped with the reason)
#               4. the Debian package, built and checked (scripts/package.sh --check)
#               5. a bounded run of each libFuzzer target (build-fuzz/, clang): the
#                  conversions, the setup fields, checkpoints, the command line and
#                  its job lines, and run records
#               6. every test again under AddressSanitizer, UndefinedBehaviorSanitizer
#                  and LeakSanitizer (build-asan/)
#   --quick   stage 1 only: about 3 minutes from a clean tree, less after a change
#   --help    this text
# FUZZ_SECONDS (default 30) bounds each fuzz target's run.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
parse_flags quick -- "$@"
fuzz_seconds=${FUZZ_SECONDS:-30}

# shellcheck disable=SC2154 # set by parse_flags
if [ "$flag_quick" -eq 1 ]; then
  "$root/scripts/deps.sh" build test bench python
else
  "$root/scripts/deps.sh" build test bench python style package fuzz cluster
fi

echo "== test: release build's tests (build/)"
# The tests and benchmarks are required here, not skipped when missing.
configure release -DPATHWICK_TESTS=ON -DPATHWICK_BENCH=ON -DPATHWICK_PYTHON=ON
cmake --build --preset release -j "$jobs"
# The end-to-end test needs an X server: the whole suite runs under Xvfb.
in_xvfb ctest --preset release -j "$jobs"

[ "$flag_quick" -eq 1 ] && exit 0

echo "== test: the code's layout and checks (.clang-format, .clang-tidy)"
"$root/scripts/style.sh"

echo "== test: sweeps on a throwaway cluster (tests/cluster.sh)"
status=0
timeout 600 bash "$root/tests/cluster.sh" "$root/build/runner/pathwick_run" "$root/runner/sweep/pathwick_sweep" \
  "$root/docs/sweeps.md" || status=$?
case $status in
  0) ;;
  77) echo "cluster: not run (the line above says why)" ;;
  *) exit "$status" ;;
esac

echo "== test: the Debian package (build-package/)"
"$root/scripts/package.sh" --check

# Sanitizer settings, for the fuzz targets and the sanitizer build alike.
# Leaks are errors; the suppressions name only third-party libraries.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp

# Fuzz targets: each runs for a bounded time from its committed seed corpus.
# New inputs go to a scratch corpus in build-fuzz/, so fuzz/corpus/ stays as
# committed; a finding is written to build-fuzz/artifacts/ and fails the run.
echo "== test: fuzz targets (build-fuzz/)"
configure fuzz
cmake --build --preset fuzz -j "$jobs"
mkdir -p "$root/build-fuzz/artifacts"
for target in fuzz_conversions fuzz_setup_fields fuzz_checkpoint fuzz_command_line fuzz_run_record; do
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

echo "== test: every test under the sanitizers (build-asan/)"
configure asan -DPATHWICK_TESTS=ON
cmake --build --preset asan -j "$jobs"
in_xvfb ctest --preset asan -j "$jobs"
