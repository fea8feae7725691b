#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# but only those that are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  g++ clang make cmake pkg-config
  qt6-base-dev qt6-charts-dev qt6-svg-dev qt6-qpa-plugins libqt6opengl6-dev libgl-dev libxkbcommon-dev
  libgtest-dev libbenchmark-dev libclang-rt-14-dev
  xvfb xauth xdotool fonts-dejavu-core fonts-dejavu-extra parallel
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

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
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
