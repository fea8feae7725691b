#!/usr/bin/env bash
# Runs pathwick_sweep from the source tree, with the pathwick_run of the
# PATH, or else of the project's build folder (scripts/run.sh builds it).
# Usage and options: scripts/sweep.sh --help, the same as pathwick_sweep's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${PATHWICK_RUN:-}" ]; then
  PATHWICK_RUN=$(command -v pathwick_run || true)
  [ -n "$PATHWICK_RUN" ] || PATHWICK_RUN=$root/build/runner/pathwick_run
  export PATHWICK_RUN
fi
if [ ! -x "$PATHWICK_RUN" ] && [[ " $* " != *" --help "* && " $* " != *" -h "* ]]; then
  echo "sweep: pathwick_run is neither on PATH nor built in $root/build (scripts/run.sh builds it)" >&2
  exit 1
fi
exec "$root/runner/sweep/pathwick_sweep" "$@"
