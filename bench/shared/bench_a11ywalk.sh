#!/bin/bash
# How long an accessibility client takes to read the windows of the three programs, under a
# virtual X display with the accessibility bus: the station polling 63 meters with its data grid
# on the screen, tamlo_view with the station's history file open, tamlo_ana with a recorder
# history of 20000 records open and its grid on the screen. For each, a screen reader's read
# (the first rows of each grid by row and column) and a walk of every child of every node.
# Usage: bench_a11ywalk.sh <bin dir> [rows] [seconds a walk may take]
set -u
bin=$(cd "$1" && pwd)
rows=${2:-60}
seconds=${3:-600}
here=$(cd "$(dirname "$0")" && pwd)
[ -n "${TAMLO_IN_XVFB:-}" ] || exec "$here/../../scripts/with-a11y-bus.sh" "$0" "$@"
source "$here/../../scripts/common.sh"
export LANG=C.UTF-8
work=$(mktemp -d)
stop_at_exit "$work"

# A station of 63 TM210 meters at addresses 1..63 on COM1, 9600 baud, a record every 2 s.
station="$work/station"
mkdir -p "$station"
head -c 1344 /dev/zero > "$station/config.dat"
put() { printf "$2" | dd of="$station/config.dat" bs=1 seek="$1" conv=notrunc status=none; }
put 0 '\x3f'
put 5 '583174'
put 15 '\x00\x02\x02\x00'
for slot in $(seq 0 62); do
    at=$((512 + 13 * slot))
    put "$at" "\\x00\\x$(printf %02x $((slot + 1)))\\x00"
    printf 'M%02d' $((slot + 1)) |
        dd of="$station/config.dat" bs=1 seek=$((at + 3)) conv=notrunc status=none
    echo "$((slot + 1)) TM210 0 sine:1800:300:$((60 + slot)) 1" >> "$station/meters.txt"
done
start_sim "$station/meter_sim.out" "$bin/tamlo_meter_sim" --link "$station/COM1" \
    --meters "$station/meters.txt"
pids+=("$sim_pid")

measure() {  # measure <program> <pid> [tab to show]
    /usr/bin/python3 "$here/a11y_walk.py" "$1" "$rows" "$seconds" "${@:3}"
    kill "$2"
    wait "$2" 2>/dev/null
}

(cd "$station" && exec "$bin/tamlo_pro" >"$work/station.out" 2>&1) &
pid=$!
pids+=("$pid")
sleep 20  # a few records of every meter in the history file and the data grid
measure tamlo_pro "$pid" 数据记录  # the data grid on the screen

nv=$(find "$station" -name '*.nv' | head -1)
"$bin/tamlo_view" "$nv" >"$work/view.out" 2>&1 &
measure tamlo_view $!

# A recorder history of 16 channels and 20000 records, one every 10 s.
/usr/bin/python3 - "$work/history.dat" <<'PY'
import struct, sys
channels, records = 16, 20000
header = bytearray(512)
struct.pack_into("<II", header, 0, 300300, 1524)
header[8:14] = bytes([26, 12, 7, 10, 0, 0])
struct.pack_into("<I", header, 14, (records - 1) * 2 * channels)
struct.pack_into("<IH", header, 27, records * 2 * channels, channels)
block = bytearray(1012)
for c in range(channels):
    struct.pack_into("<H", block, 62 * c + 6, c % 4)
    block[62 * c + 54:62 * c + 62] = bytes([c % 10 + 16, 0, 0, 0, 0, 0, 0, 35])
struct.pack_into("<H", block, 1004, 10)
values = [(k * 7 + c * 1311) % 20000 - 5000 for k in range(records) for c in range(channels)]
with open(sys.argv[1], "wb") as f:
    f.write(header + block + struct.pack(f"<{len(values)}h", *values))
PY
"$bin/tamlo_ana" "$work/history.dat" >"$work/ana.out" 2>&1 &
sleep 3  # opening the file loads its first window into the curves and the grid
measure tamlo_ana $! 历史数据  # the grid on the screen
