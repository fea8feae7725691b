#!/usr/bin/env bash
# Installs what building and running need, builds the release programs into
# build/ (the window, and pathwick_run for experiments) and opens the window. The first build takes under a minute on 2
# cores; later runs rebuild only what changed.
#
# Usage: scripts/run.sh [-- QT-OPTIONS...]
#   --          pass what follows to the program (Qt options such as -style)
#   --help      this text
# Without a display it stops before building and says how to run the window
# under a virtual X server.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
program_args=()
while [ $# -gt 0 ]; do
  case $1 in
    -h|--help) show_help; exit 0 ;;
    --) shift; program_args=("$@"); break ;;
    *) bad_option "$1" ;;
  esac
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'TEXT'
run: no display (DISPLAY and WAYLAND_DISPLAY are unset), so the window cannot open.
run: on a machine without a screen, run it under a virtual X server:
       xvfb-run -a scripts/run.sh
     To watch that window, give the server a display number and look at it
     with a VNC server and viewer (packages xvfb, x11vnc):
       Xvfb :99 -screen 0 1024x900x24 &
       DISPLAY=:99 scripts/run.sh &
       x11vnc -display :99 -localhost -once     # then a VNC viewer on localhost:5900
     or take a picture of the window after some steps:
       scripts/screenshot.sh --steps 5000 window.png
TEXT
  exit 1
fi

"$root/scripts/deps.sh" build
configure release
cmake --build --preset release -j "$jobs" --target pathwick_02_evolve pathwick_run
exec "$root/build/pathwick_02_evolve" "${program_args[@]}"
