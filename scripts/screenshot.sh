#!/usr/bin/env bash
# Takes a picture of the window after a number of single steps of a new world
# with the default settings, under a virtual X server (the 800 x 800 window on
# a 1024 x 900 screen). About 1 minute for 5000 steps once built.
#
# Usage: scripts/screenshot.sh [--steps N] OUT.png
#        scripts/screenshot.sh [--steps N] --readme
#   --steps N   single steps before the picture (default 5000)
#   --readme    replace docs/screenshot.png, the README's picture and the
#               AppStream screenshot
#   --help      this text
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
steps=5000
out=""
readme=0
while [ $# -gt 0 ]; do
  case $1 in
    --steps)
      [[ ${2:-} =~ ^[0-9]+$ ]] || { echo "screenshot: --steps needs a whole number" >&2; exit 2; }
      steps=$2; shift 2 ;;
    --readme) readme=1; shift ;;
    -h|--help) show_help; exit 0 ;;
    -*) bad_option "$1" ;;
    *)
      [ -z "$out" ] || { echo "screenshot: one output file only" >&2; exit 2; }
      out=$1; shift ;;
  esac
done
if [ "$readme" -eq 1 ]; then
  [ -z "$out" ] || { echo "screenshot: give either OUT.png or --readme" >&2; exit 2; }
  out=$root/docs/screenshot.png
fi
if [ -z "$out" ] || [[ $out != *.png ]]; then
  echo "screenshot: name the picture to write (OUT.png), or --readme (see --help)" >&2
  exit 2
fi

"$root/scripts/deps.sh" build test
configure release
cmake --build --preset release -j "$jobs" --target pathwick_02_evolve pathwick_grab

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; rm -f "$out.tmp"' EXIT
export PROGRAM="$root/build/pathwick_02_evolve" GRAB="$root/build/tests/pathwick_grab" \
  SHOT="$scratch/shot.png" STEPS="$steps"
# shellcheck disable=SC2016 # the script of the inner shell, which expands it
in_xvfb bash -c '
  set -euo pipefail
  "$PROGRAM" 2>/dev/null & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  win=$(timeout 30 xdotool search --sync --onlyvisible --name "^Pathwick 01\$" | head -n1)
  click() { xdotool mousemove --window "$win" "$1" "$2" click "${3:-1}"; }
  click 563 36                        # start / stop: stop the run
  click 483 36                        # new Setup: a fresh world, step counter back to 0
  if [ "$STEPS" -gt 0 ]; then         # one step, STEPS times
    xdotool mousemove --window "$win" 643 36 click --repeat "$STEPS" --delay 5 1
  fi
  xdotool mousemove --window "$win" 300 780   # pointer off the controls
  # Wait until the window no longer changes, then keep it.
  prev=""
  for _ in $(seq 60); do
    sleep 0.5
    "$GRAB" "$SHOT" "$win" 2>/dev/null
    sum=$(md5sum < "$SHOT")
    [ "$sum" = "$prev" ] && break
    prev=$sum
  done
  kill -0 $pid || { echo "screenshot: the window closed" >&2; exit 1; }
'
# Never leave a half-written picture in place of a good one.
cp "$scratch/shot.png" "$out.tmp"
mv -f "$out.tmp" "$out"
echo "screenshot: $out ($steps steps)"
