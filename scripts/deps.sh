#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, only those that are missing,
# with apt-get (through sudo when not run as root). Takes seconds when all are
# there, a few minutes on a fresh machine.
#
# Usage: scripts/deps.sh PURPOSE...
#   build     compiler, CMake, Qt 6 with Qt Charts and Qt SVG, zlib, Boost, pagmo2 (NSGA-II
#             of --calibrate --method nsga2), the fonts: building and running the programs
#             (scripts/run.sh)
#   test      GoogleTest, Xvfb, xdotool, GNU parallel, the locale sources and
#             ffmpeg and pandas: the test suites (the video test), the end-to-end
#             test, the sweep test and the pandas snippet of docs/sweeps.md
#             (scripts/test.sh --quick, scripts/screenshot.sh); parallel also
#             runs scripts/sweep.sh
#   bench     Google Benchmark (scripts/bench.sh, scripts/test.sh)
#   fuzz      clang and its fuzzing runtime (scripts/test.sh)
#   package   dpkg-dev, help2man, lintian, desktop-file-utils, appstream,
#             what the package check runs the window with, and pybind11 and
#             the Python headers and numpy for the Python module (scripts/package.sh)
#   python    pybind11, the Python headers, numpy, pytest, pandas, matplotlib and
#             statsmodels (the recomputation of the analyses from summary.csv):
#             the Python module pathwick, its tests and its example (docs/)
#   docs      pandas and matplotlib for the Python that draws the model
#             description's figures (docs/figures/)
#   style     clang-format, clang-tidy, shellcheck and flake8: the layout and
#             checks of the C++, the shell scripts and the Python
#             (scripts/style.sh, scripts/test.sh)
#   cluster   GNU parallel, rsync, the ssh client and server, Slurm and munge:
#             sweeps over several machines (pathwick_sweep --sshloginfile) and
#             the throwaway cluster of scripts/test.sh (tests/cluster.sh)
#   --list    print the packages of the given purposes instead of installing
#   --help    this text
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

declare -A needs=(
  [build]="g++ make cmake pkg-config qt6-base-dev qt6-charts-dev qt6-svg-dev qt6-qpa-plugins libqt6opengl6-dev libgl-dev libxkbcommon-dev zlib1g-dev libboost-dev libpagmo-dev fonts-dejavu-core"
  [test]="libgtest-dev xvfb xauth xdotool fonts-dejavu-extra parallel locales ffmpeg python3-pandas"
  [bench]="libbenchmark-dev"
  [fuzz]="clang libclang-rt-14-dev"
  [package]="dpkg-dev file help2man lintian desktop-file-utils appstream xvfb xauth xdotool x11-utils pybind11-dev python3-dev python3-numpy"
  [python]="pybind11-dev python3-dev python3-numpy python3-pytest python3-pandas python3-matplotlib python3-statsmodels"
  [docs]="python3-pandas python3-matplotlib"
  [style]="clang-format clang-tidy shellcheck flake8"
  [cluster]="parallel rsync openssh-client openssh-server slurm-wlm munge"
)

list=0
packages=()
for arg in "$@"; do
  case $arg in
    -h|--help) show_help; exit 0 ;;
    --list) list=1 ;;
    *)
      [ -n "${needs[$arg]:-}" ] || bad_option "$arg"
      read -r -a more <<<"${needs[$arg]}"
      packages+=("${more[@]}")
      ;;
  esac
done
if [ ${#packages[@]} -eq 0 ]; then
  echo "deps: name at least one purpose (see scripts/deps.sh --help)" >&2
  exit 2
fi
if [ "$list" -eq 1 ]; then
  printf '%s\n' "${packages[@]}" | sort -u
  exit 0
fi

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
  else
    echo "deps: need root or sudo to install: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
# The cluster purpose brings daemons (sshd, munged, slurmctld, slurmd): they
# are installed, not started. Where no policy says otherwise, one forbids
# starting services for the time of the install.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  trap '$sudo rm -f "$policy"' EXIT
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
