#!/usr/bin/env bash
# Takes docs/screenshot.png: the window after 500 single steps of a new world,
# under a virtual X server (800 x 800 window on a 1024 x 900 screen).
#   scripts/screenshot.sh [out.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/screenshot.png}
build=${PATHWICK_BUILD_DIR:-$root/build}
"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target pathwick_02_evolve pathwick_grab

export PROGRAM="$build/pathwick_02_evolve" GRAB="$build/tests/pathwick_grab" OUT="$out"
xvfb-run -a -s "-screen 0 1024x900x24" bash -c '
  set -euo pipefail
  "$PROGRAM" 2>/dev/null & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  win=$(timeout 30 xdotool search --sync --onlyvisible --name "^Pathwick 01\$" | head -n1)
  click() { xdotool mousemove --window "$win" "$1" "$2" click "${3:-1}"; }
  click 563 36                        # start / stop: stop the run
  click 483 36                        # new Setup: a fresh world, step counter back to 0
  xdotool mousemove --window "$win" 643 36 click --repeat 500 --delay 5 1   # one step, 500 times
  xdotool mousemove --window "$win" 300 780   # pointer off the controls
  # Wait until the window no longer changes, then keep it.
  prev=""
  for _ in $(seq 60); do
    sleep 0.5
    "$GRAB" /tmp/pathwick_shot.png "$win" 2>/dev/null
    sum=$(md5sum < /tmp/pathwick_shot.png)
    [ "$sum" = "$prev" ] && break
    prev=$sum
  done
  mv /tmp/pathwick_shot.png "$OUT"
'
echo "screenshot: $out"
