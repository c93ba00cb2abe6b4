#!/usr/bin/env bash
# Pictures of every page and dialog of the three programs, for docs/guide.md. Each program runs
# under a virtual X display against the simulators (the station polls tools/meter_sim/
# example-meters.txt on COM1; tamlo_ana uploads from tamlo_recorder_sim), so the pictures show
# live values. Controls are pressed through the accessibility bus (scripts/ui-press.py) and,
# for the page tabs, by clicks.
#   scripts/screenshots.sh [output directory]      (default docs/pictures)
#   TAMLO_BIN                 the programs' folder (default: build/release/bin, built first)
#   TAMLO_STATION_SECONDS     how long the station polls before its pictures (default 14)
#   TAMLO_SAVE_UPLOAD         where to keep a copy of the recorder file the upload wrote
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "${1:-$root/docs/pictures}" && cd "${1:-$root/docs/pictures}" && pwd)"

if [ -z "${TAMLO_SCREENSHOTS_INSIDE:-}" ]; then
  "$root/scripts/deps.sh" screenshots
  if ! command -v /usr/bin/python3 > /dev/null || ! /usr/bin/python3 -c 'import pyatspi' 2> /dev/null ||
     ! command -v dbus-run-session > /dev/null; then
    echo "screenshots need python3-pyatspi, at-spi2-core and dbus-bin" >&2
    exit 1
  fi
  if [ -z "${TAMLO_BIN:-}" ]; then
    (cd "$root" && cmake --preset release > /dev/null &&
      cmake --build --preset release -j "$(nproc)" --target tamlo_pro tamlo_view tamlo_ana \
        tamlo_meter_sim tamlo_recorder_sim)
  fi
  exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- \
    env TAMLO_SCREENSHOTS_INSIDE=1 "$0" "$out"
fi

bin="${TAMLO_BIN:-$root/build/release/bin}"
source "$root/scripts/common.sh"
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 LANG=C.UTF-8
work="$(mktemp -d /tmp/tamlo.XXXX)"
stop_at_exit "$work"
# The accessibility bus must be up before a program starts, or the program never joins it.
/usr/bin/python3 -c 'import pyatspi; pyatspi.Registry.getDesktop(0).childCount' 2> /dev/null

window() {  # window <exact title> [seconds]: the id of the visible window with that title
  local title=$1 seconds=${2:-10} id
  for _ in $(seq $((seconds * 10))); do
    id="$(xdotool search --onlyvisible --name "^${title}\$" 2> /dev/null | tail -1 || true)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window \"$title\"" >&2
  return 1
}
shot() {  # shot <picture name> <window title or id>: saves the window as <name>.png
  local id=$2
  if [[ "$2" =~ ^[0-9]+$ ]] || id="$(window "$2")"; then
    sleep 0.5
    import -window "$id" "$out/$1.png"
    echo "  $1.png  ($(xdotool getwindowname "$id" 2> /dev/null))"
  fi
}
press() {  # press <program> <control text>...
  /usr/bin/python3 "$root/scripts/ui-press.py" "$@" || true
  sleep 0.8
}
click() {  # click <window title> <x> <y>: a click at a point of the window
  local id
  id="$(window "$1")" && xdotool mousemove --window "$id" "$2" "$3" click 1 && sleep 0.8 || true
}
close_window() {  # close_window <title or id>: Escape to a dialog
  local id=$1
  if [[ "$1" =~ ^[0-9]+$ ]] || id="$(window "$1" 2)"; then
    xdotool windowfocus "$id" key Escape 2> /dev/null && sleep 0.5 || true
  fi
}
hover() {  # hover <window title> <x> <y>: the pointer over a chart shows its cross-hair readout
  local id
  id="$(window "$1")" && xdotool mousemove --window "$id" "$2" "$3" && sleep 0.8 || true
}
# The page tabs sit under the menu bar; tab n (from 0) of four-character captions.
tab() { click "$1" $((37 + 71 * $2)) 33; }

echo "Station (tamlo_pro) against the meter simulator:"
station="$work/tamlo"
demo_station "$station" "$bin"
(cd "$station" && exec "$bin/tamlo_pro" > "$work/station.out" 2>&1) &
station_pid=$!
pids+=("$station_pid")
title=NorvikDCS
window "$title" > /dev/null
# Device 1 and its first parameter read from the meter.
click "$title" 100 84
click "$title" 640 385
press tamlo_pro "刷  新"
sleep "${TAMLO_STATION_SECONDS:-14}"
shot station-devices "$title"
tab "$title" 1; shot station-data "$title"
tab "$title" 2; shot station-overview "$title"
tab "$title" 3; shot station-curves "$title"
tab "$title" 0
press tamlo_pro 登入系统设置
xdotool type --delay 60 583174 || true
shot station-login "$title"
press tamlo_pro "确  定" 配置设备
shot station-setup "$title"
press tamlo_pro 修改密码
shot station-password "$title"
press tamlo_pro "取  消" 退出系统设置
press tamlo_pro 关于......
about="$(xdotool search --onlyvisible --name '关于' 2> /dev/null | tail -1 || true)"
if [ -n "$about" ]; then
  shot station-about "$about"
  close_window "$about"
fi
nv="$(find "$station" -name '*.nv' -printf '%s %p\n' | sort -n | tail -1 | cut -d' ' -f2-)"
kill "$station_pid" 2> /dev/null || true

# Alarms: the demo station again with alarms.ini; the boiler is over its limit, the flue gas
# swings over its own, the tank level under its own, and meter 4 is silent.
alarming="$work/alarmstation"
mkdir -p "$alarming"
write_demo_config "$alarming"
{ cat "$root/tools/meter_sim/example-meters.txt"; echo "fault 4 silent"; } > "$alarming/meters.txt"
start_sim "$alarming/meter_sim.out" "$bin/tamlo_meter_sim" --link "$alarming/COM1" \
  --meters "$alarming/meters.txt"
pids+=("$sim_pid")
cat > "$alarming/alarms.ini" << 'INI'
[alarms]
sound = false

[meter 1.0]
high = 120
high_high = 150

[meter 2.2]
low = 6
delay = 2

[meter 3.0]
high = 190
high_high = 200
deadband = 3

[meter 4.0]
link = true
INI
(cd "$alarming" && exec "$bin/tamlo_pro" > "$work/alarms.out" 2>&1) &
pids+=($!)
window "$title" > /dev/null
sleep "${TAMLO_STATION_SECONDS:-14}"
click "$title" 306 33  # the fifth tab, "报警"
click "$title" 200 107  # the first alarm, then "确认" for it alone
press tamlo_pro "确  认"
sleep 3
shot station-alarms "$title"
tab "$title" 2; shot station-alarm-tiles "$title"
press tamlo_pro 报警设置
shot station-alarm-settings 报警设置
close_window 报警设置
press tamlo_pro 通讯统计
sleep 2
shot station-comm-stats 通讯统计
close_window 通讯统计
kill "${pids[-1]}" 2> /dev/null || true

# A port that cannot be opened: the station's message (the reason goes to standard error).
noport="$work/noport"
mkdir -p "$noport"
write_demo_config "$noport"
: > "$noport/not-a-port"
ln -s "$noport/not-a-port" "$noport/COM1"
(cd "$noport" && exec "$bin/tamlo_pro" > "$work/noport.out" 2>&1) &
pids+=($!)
shot station-port-error oh
# After the box, the reason as the tool tip of the status bar's first panel.
press tamlo_pro 确定
click NorvikDCS 250 567  # a tool tip shows in an active window only
hover NorvikDCS 255 566
sleep 1.5
import -window root -crop 1000x600+0+0 "$out/station-port-reason.png" &&
  echo "  station-port-reason.png  (tool tip)"
kill "${pids[-1]}" 2> /dev/null || true

echo "Recorder analysis (tamlo_ana) against the recorder simulator:"
analysis="$work/analysis"
mkdir -p "$analysis"
start_sim "$work/recorder_sim.out" "$bin/tamlo_recorder_sim" --link "$analysis/COM1" \
  --channels 4 --interval 10 --records 2000 --names TEMP1,TEMP2,PRESS,FLOW --decimals 1,1,2,0
pids+=("$sim_pid")
(cd "$analysis" && exec "$bin/tamlo_ana" > "$work/analysis.out" 2>&1) &
pids+=($!)
main_title="无纸记录仪数据分析软件   V1.4"
window "$main_title" > /dev/null
press tamlo_ana 从串口上传历史数据.......
upload=上传历史数据
shot analysis-upload "$upload"
# The recorder's ring reaches back about 5.5 hours: start the range a day earlier.
click "$upload" 183 89
xdotool key Down || true
press tamlo_ana 上传数据
# Qt's save dialog, in Chinese: the file name, then Enter for its save button.
if save="$(window '另存为' 5)"; then
  xdotool type --delay 30 "$analysis/recorder.dat" || true
  xdotool windowfocus "$save" key Return || true
fi
sleep 2
shot analysis-uploading "$upload"
window OK 120 > /dev/null && shot analysis-upload-done OK && press tamlo_ana 确定
close_window "$upload"
dat="$analysis/recorder.dat"
if [ -n "${TAMLO_SAVE_UPLOAD:-}" ] && [ -f "$dat" ]; then
  cp "$dat" "$TAMLO_SAVE_UPLOAD"
fi
kill "${pids[-1]}" 2> /dev/null || true
if [ -f "$dat" ]; then
  (cd "$analysis" && exec "$bin/tamlo_ana" "$dat" > "$work/analysis2.out" 2>&1) &
  pids+=($!)
  sleep 4
  hover "$main_title" 560 300
  shot analysis-curves "$main_title"
  tab "$main_title" 1; shot analysis-grid "$main_title"
  tab "$main_title" 0
  press tamlo_ana 导出EXCEL文件......
  shot analysis-export 输入时间范围
  close_window 输入时间范围
  press tamlo_ana 打印预览......
  preview="$(xdotool search --onlyvisible --pid "${pids[-1]}" --name . 2> /dev/null | tail -1 || true)"
  if [ -n "$preview" ] && [ "$(xdotool getwindowname "$preview")" != "$main_title" ]; then
    shot analysis-print-preview "$(xdotool getwindowname "$preview")"
    close_window "$(xdotool getwindowname "$preview")"
  fi
  kill "${pids[-1]}" 2> /dev/null || true
fi

echo "Station history viewer (tamlo_view) on the station's history file:"
if [ -n "$nv" ]; then
  (cd "$station" && exec "$bin/tamlo_view" "$nv" > "$work/viewer.out" 2>&1) &
  pids+=($!)
  sleep 4
  hover NorvikDCS 560 350
  shot viewer NorvikDCS
  press tamlo_view 导出EXCEL文件......
  shot viewer-export 输入时间范围
  close_window 输入时间范围
  kill "${pids[-1]}" 2> /dev/null || true
  "$root/scripts/xlsx-picture.sh" "$nv" "$out/viewer-export-xlsx.png" "$bin/tamlo_view" ||
    true
fi
echo "Pictures in $out"
