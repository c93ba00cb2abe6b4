#!/usr/bin/env bash
# Installs what is missing, builds, starts the meter simulator on a pseudo-terminal linked as
# demo/COM1, and runs the station tamlo_pro in the working directory demo/ (with a config.dat of
# six meters recording every 2 seconds). Without a display the station runs for a while under a
# virtual X display and a screenshot is saved as demo/screenshot.png.
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
cmake --build --preset release -j "$(nproc)" --target tamlo_pro tamlo_meter_sim
bin="$root/build/release/bin"

demo="$root/demo"
mkdir -p "$demo"

# config.dat: 6 meters on COM1 at 9600 baud, one record every 2 seconds. An existing one (the
# operator may have changed it in setup mode) is kept.
put() {  # put <offset> <printf format> [args] : writes bytes into config.dat at the offset
  local offset=$1; shift
  # shellcheck disable=SC2059
  printf "$@" | dd of="$demo/config.dat" bs=1 seek="$offset" conv=notrunc status=none
}
device() {  # device <slot> <model> <address> <channel> <unit> <tag>
  local at=$((512 + 13 * $1))
  put "$at" '%b' "\\x$(printf %02x "$2")\\x$(printf %02x "$3")\\x$(printf %02x "$4")"
  printf '%s' "$6" | iconv -f UTF-8 -t GBK | head -c 8 |
    dd of="$demo/config.dat" bs=1 seek=$((at + 3)) conv=notrunc status=none
  put $((at + 12)) '%b' "\\x$(printf %02x "$5")"
}
if [ ! -f "$demo/config.dat" ]; then
  head -c 1344 /dev/zero > "$demo/config.dat"
  put 0 '\x06'
  put 5 '583174'
  put 15 '\x00\x02\x02\x00'   # COM1, 9600 baud, record interval 2 s
  #      slot model   address channel unit  tag
  device 0    0       1       0       0     "锅炉出口"   # TM210, ℃
  device 1    3       2       1       13    "给水压力"   # TM250 channel 1, MPa
  device 2    3       2       2       4     "水箱液位"   # TM250 channel 2, %
  device 3    5       3       0       0     "FLUE-T"     # TP7, ℃
  device 4    2       4       0       0     "PID-PV"     # TM230, ℃
  device 5    6       5       0       14    "FLOW-1"     # TM610, t/h
fi

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

"$bin/tamlo_meter_sim" --link "$demo/COM1" --meters "$root/tools/meter_sim/example-meters.txt" \
  --log "$demo/meter_sim.log" < /dev/null > "$demo/meter_sim.out" &
pids+=($!)
for _ in $(seq 50); do
  grep -q '^ready' "$demo/meter_sim.out" 2>/dev/null && break
  sleep 0.1
done
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
xwdtopnm "$fb/Xvfb_screen0" 2>/dev/null | pnmtopng > "$demo/screenshot.png"
kill "$station" 2>/dev/null || true
wait "$station" 2>/dev/null || true
rm -rf "$fb"
echo "Screenshot: demo/screenshot.png"
echo "History files: $(find "$demo" -name '*.nv' | sort | tail -3 | tr '\n' ' ')"
