#!/bin/bash
# The window titles that the window system gets, read back from a virtual X display: Qt appends
# an application display name to every title when one is set, which QWidget::windowTitle()
# does not show. Usage: window_titles.sh <bin dir>. Exits 77 (skipped) without Xvfb or xdotool.
set -u
bin=$(cd "$1" && pwd)
if [ -z "${TAMLO_IN_XVFB:-}" ]; then
    for tool in xvfb-run xdotool; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed"
            exit 77
        fi
    done
    TAMLO_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
export QT_QPA_PLATFORM=xcb
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

titles() {
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        xdotool getwindowname "$w"
    done | sort
}

# Waits up to 30 s for exactly these visible titles (one per line, sorted).
expect_titles() {
    local want=$1 got=
    for _ in $(seq 60); do
        got=$(titles)
        [ "$got" = "$want" ] && return 0
        sleep 0.5
    done
    echo "FAIL: titles [${got//$'\n'/|}], expected [${want//$'\n'/|}]"
    failures=$((failures + 1))
}

expect_no_suffix() {
    local got=
    for _ in $(seq 60); do
        got=$(titles)
        [ -n "$got" ] && break
        sleep 0.5
    done
    if [ -z "$got" ] || [[ "$got" == *" — "* ]]; then
        echo "FAIL: titles [${got//$'\n'/|}]"
        failures=$((failures + 1))
    fi
}

# The station with COM1 leading nowhere: the port box first, then the main window.
ln -s "$work/nowhere" COM1
"$bin/tamlo_pro" &
station=$!
expect_titles "oh"
xdotool key Return
expect_titles "NorvikDCS"
kill $station; wait $station 2>/dev/null

"$bin/tamlo_view" &
viewer=$!
expect_titles "NorvikDCS"
kill $viewer; wait $viewer 2>/dev/null

"$bin/tamlo_ana" &
analysis=$!
expect_no_suffix
kill $analysis; wait $analysis 2>/dev/null

[ $failures -eq 0 ] && echo "PASS: window titles"
exit $failures
