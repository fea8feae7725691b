#!/usr/bin/env bash
# Installs what is missing, builds the Release program and opens its window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target pathwick_02_evolve
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run: no display found (DISPLAY is not set), so the window cannot open." >&2
  echo "run: start it under a virtual X server instead:  xvfb-run -a scripts/run.sh" >&2
  exit 1
fi
exec "$root/build/pathwick_02_evolve" "$@"
