#!/bin/bash
# With the accessibility bridge on and a screen reader's worth of the windows read (every control,
# the grids' headers and thousands of their cells), the three programs still close at once:
# the station on SIGTERM against the meter simulator, tamlo_view (SIGINT) and tamlo_ana (SIGHUP)
# with a file open. The grids show a client walking the tree only the cells on the screen, and
# a reader any other by row and column.
# Usage: a11y_close.sh <bin dir>. Exits 77 (skipped) without the tools.
set -u
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
limit=2  # seconds from the signal to the end
[ -n "${TAMLO_IN_XVFB:-}" ] || exec "$here/../../scripts/with-a11y-bus.sh" "$0" "$@"
source "$here/../../scripts/common.sh"
export LANG=C.UTF-8
work=$(mktemp -d)
stop_at_exit "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# read_and_stop <program> <pid> <rows> <signal>: reads the windows, then times the stop.
read_and_stop() {
    local program=$1 pid=$2 rows=$3 signal=$4 start end
    /usr/bin/python3 "$here/a11y_read.py" "$program" "$rows" | tee "$work/$program.read" ||
        fail "$program: nothing read"
    start=$(date +%s%N)
    kill "-$signal" "$pid"
    for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    end=$(date +%s%N)
    if kill -0 "$pid" 2>/dev/null; then
        fail "$program still runs 30 s after SIG$signal"
        kill -KILL "$pid"
    elif [ $((end - start)) -gt $((limit * 1000000000)) ]; then
        fail "$program took $(((end - start) / 1000000)) ms to stop after SIG$signal"
    else
        echo "$program stopped $(((end - start) / 1000000)) ms after SIG$signal"
    fi
    wait "$pid" || fail "$program ended with status $?"
}

station="$work/station"
demo_station "$station" "$bin"
(cd "$station" && exec "$bin/tamlo_pro" >"$work/station.out" 2>&1) &
pid=$!
pids+=("$pid")
sleep 6  # a few records in the history file and the data grid
# 60 rows of the 65-column data grid: without cheap cells, minutes to stop.
read_and_stop tamlo_pro "$pid" 60 TERM
grep -q '^columns: 时间|' "$work/tamlo_pro.read" || fail "the data grid's columns are not named"
# A client walking the tree meets the cells on the screen, not the grid's 41,600.
children=$(sed -n 's/^table: \([0-9]*\) children of 640 x 65,.*/\1/p' "$work/tamlo_pro.read")
[ -n "$children" ] && [ "$children" -le 2000 ] ||
    fail "the data grid shows a client ${children:-no} children"
port=$(readlink -f "$station/COM1")
for dir in /var/lock /etc/locks /var/spool/locks /var/spool/uucp /tmp /var/tmp /run/lock; do
    [ -e "$dir/LCK..${port##*/}" ] && fail "the port's lock $dir/LCK..${port##*/} is left"
done

nv=$(find "$station" -name '*.nv' | head -1)
if [ -z "$nv" ]; then
    fail "the station wrote no history file"
else
    "$bin/tamlo_view" "$nv" >"$work/view.out" 2>&1 &
    read_and_stop tamlo_view $! 60 INT
fi

"$bin/tamlo_ana" "$here/../corpus/recorder_history/little-endian" >"$work/ana.out" 2>&1 &
read_and_stop tamlo_ana $! 200 HUP
grep -q '^columns: time| *21C|' "$work/tamlo_ana.read" || fail "tamlo_ana's grid columns are not named"
# Its last record, out of sight, by row and column.
grep -q '^table: .* of 9 x 3, last row 26-12-07 10:00:00$' "$work/tamlo_ana.read" ||
    fail "tamlo_ana's last grid row is not read by row and column"

[ $failures -eq 0 ] && echo "PASS: closing after a screen reader"
exit $failures
