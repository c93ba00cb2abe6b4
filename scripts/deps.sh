#!/usr/bin/env bash
# Installs, on Debian 12, the packages Tamlo needs that are not installed yet.
#   scripts/deps.sh build   compiler, CMake, Ninja, Qt 6 (Widgets, SerialPort, PrintSupport, Test),
#                           the MQTT client library, zlib and the Excel workbook writer
#   scripts/deps.sh test    build + fonts the windows and charts draw with, Qt's translations
#                           (its own dialogs in Chinese), a virtual X display,
#                           the accessibility bus with a D-Bus session and Python's AT-SPI client,
#                           the desktop entry and file type checkers, an MQTT broker with its
#                           command-line clients and openssl (the publishing tests start their own),
#                           and LibreOffice Calc, which opens the CSV and XLSX exports
#   scripts/deps.sh demo    test + a virtual X display and a screenshot converter
#   scripts/deps.sh bench   test + QCustomPlot, pandas and Python's xlsxwriter (the chart and export
#                           benchmarks compare against them), a virtual X display and the
#                           accessibility bus (reading the windows as a screen reader)
#   scripts/deps.sh package test + what builds and checks the Debian package (manual pages,
#                           desktop entry and file type tools)
#   scripts/deps.sh screenshots  test + a virtual X display, window automation and a converter,
#                           and LibreOffice with a PDF rasteriser for the picture of a workbook
#   scripts/deps.sh fuzz    build + clang and its libFuzzer runtime (scripts/fuzz.sh)
set -euo pipefail

profile="${1:-test}"
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
          libgl1-mesa-dev libmosquitto-dev zlib1g-dev libxlsxwriter-dev)
case "$profile" in
  build) ;;
  # The tests also read window titles and the accessibility tree under a virtual X display and
  # check the desktop entries and file types, so those tools are part of a test machine.
  test) packages+=(fonts-wqy-microhei fonts-dseg qt6-translations-l10n poppler-utils xvfb xauth
                   xdotool file python3-pyatspi at-spi2-core dbus-bin dbus-daemon
                   desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl
                   mosquitto mosquitto-clients openssl libreoffice-calc-nogui) ;;
  demo) packages+=(fonts-wqy-microhei fonts-dseg qt6-translations-l10n xvfb xauth netpbm xdotool) ;;
  bench) packages+=(fonts-wqy-microhei fonts-dseg libqcustomplot-dev python3-pandas python3-xlsxwriter
                   mosquitto mosquitto-clients xvfb xauth python3-pyatspi at-spi2-core dbus-bin
                   dbus-daemon) ;;
  package) packages+=(fonts-wqy-microhei fonts-dseg qt6-qpa-plugins dpkg-dev file help2man man-db
                      desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl) ;;
  screenshots) packages+=(fonts-wqy-microhei fonts-dseg qt6-translations-l10n xvfb xauth xdotool
                          imagemagick python3-pyatspi at-spi2-core dbus-bin dbus-daemon
                          libreoffice-calc-nogui poppler-utils) ;;
  fuzz) packages+=(clang libclang-rt-dev) ;;
  *) echo "usage: $0 build|test|demo|bench|package|screenshots|fuzz" >&2; exit 2 ;;
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
