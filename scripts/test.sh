#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   scripts/test.sh          everything CI runs
#   scripts/test.sh --quick  the normal build's tests only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1

"$root/scripts/deps.sh"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2
# The end-to-end test needs an X server: the whole suite runs under Xvfb.
xvfb-run -a -s "-screen 0 1024x900x24" \
  ctest --test-dir "$root/build" --output-on-failure -j2
