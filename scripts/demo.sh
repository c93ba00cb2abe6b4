#!/usr/bin/env bash
# Installs what is missing, builds, starts the meter simulator on a pseudo-terminal linked as
# demo/COM1, and runs the station tamlo_pro in the working directory demo/ (with a config.dat of
# six meters recording every 2 seconds). Without a display the station runs for a while under a
# virtual X display and a picture of its data page is saved as demo/screenshot.png.
#   TAMLO_DEMO_SECONDS   how long the station runs without a display (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

have_display=0
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  have_display=1
fi
scripts/deps.sh demo
cmake --preset release
# Everything the README shows, so that each of its commands works after the demo.
cmake --build --preset release -j "$(nproc)" --target tamlo_pro tamlo_view tamlo_ana \
  tamlo_meter_sim tamlo_recorder_sim tamlo_chart_png
bin="$root/build/release/bin"

demo="$root/demo"
mkdir -p "$demo"

# config.dat: 6 meters on COM1 at 9600 baud, one record every 2 seconds. An existing one (the
# operator may have changed it in setup mode) is kept.
source "$root/scripts/common.sh"
stop_at_exit
demo_station "$demo" "$bin" --log "$demo/meter_sim.log"
echo "Meter simulator: $(cat "$demo/meter_sim.out")  (requests logged in demo/meter_sim.log)"

cd "$demo"
if [ "$have_display" = 1 ]; then
  "$bin/tamlo_pro"
  exit 0
fi

seconds="${TAMLO_DEMO_SECONDS:-20}"
display=":$((90 + RANDOM % 100))"
fb="$(mktemp -d)"
Xvfb "$display" -screen 0 1024x700x24 -fbdir "$fb" -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
sleep 1
echo "No display: running the station under the virtual display $display for $seconds s."
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$bin/tamlo_pro" &
station=$!
pids+=($station)
sleep "$seconds"
# The data page, with the values polled so far (the window lies at 0,0 without a window manager).
DISPLAY="$display" xdotool mousemove 108 33 click 1 mousemove 1000 690 2> /dev/null || true
sleep 1.5
xwdtopnm "$fb/Xvfb_screen0" 2>/dev/null | pnmtopng > "$demo/screenshot.png"
kill "$station" 2>/dev/null || true
wait "$station" 2>/dev/null || true
rm -rf "$fb"
echo "Screenshot: demo/screenshot.png"
echo "History files: $(find "$demo" -name '*.nv' | sort | tail -3 | tr '\n' ' ')"
