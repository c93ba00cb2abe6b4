#!/usr/bin/env bash
# Builds the Debian package build/package/tamlo_<version>_<arch>.deb (release build installed
# under /usr: the three programs, the two simulators, desktop entries, icons, file types, manual
# pages, the guide) and checks it with scripts/check-package.sh.
#   scripts/package.sh [--no-check]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package
build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build" -j "$(nproc)" --target tamlo_pro tamlo_view tamlo_ana tamlo_meter_sim \
  tamlo_recorder_sim tamlo_manpages
rm -f "$build"/tamlo_*.deb
(cd "$build" && cpack -G DEB)
deb="$(ls "$build"/tamlo_*.deb)"
echo "Package: $deb"
if [ "${1:-}" != "--no-check" ]; then
  scripts/check-package.sh "$deb"
fi
