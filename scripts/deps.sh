#!/usr/bin/env bash
# Installs, on Debian 12, the packages Tamlo needs that are not installed yet.
#   scripts/deps.sh build   compiler, CMake, Ninja, Qt 6 (Widgets, SerialPort, PrintSupport, Test)
#   scripts/deps.sh test    build + fonts the windows and charts draw with
#   scripts/deps.sh demo    test + a virtual X display and a screenshot converter
#   scripts/deps.sh bench   test + QCustomPlot (the chart benchmark compares against it)
#   scripts/deps.sh fuzz    build + clang and its libFuzzer runtime (scripts/fuzz.sh)
set -euo pipefail

profile="${1:-test}"
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
          libgl1-mesa-dev)
case "$profile" in
  build) ;;
  test) packages+=(fonts-wqy-microhei fonts-dseg) ;;
  demo) packages+=(fonts-wqy-microhei fonts-dseg xvfb xauth netpbm) ;;
  bench) packages+=(fonts-wqy-microhei fonts-dseg libqcustomplot-dev) ;;
  fuzz) packages+=(clang libclang-rt-dev) ;;
  *) echo "usage: $0 build|test|demo|bench|fuzz" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    sudo=(sudo)
  else
    echo "These packages are missing and this user cannot install them: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
