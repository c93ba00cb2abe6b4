#!/bin/bash
# Runs a command under a virtual X display with a D-Bus session and the accessibility bus up, the
# programs on it (xcb, Qt's accessibility bridge always on), as a screen reader would find them.
#   scripts/with-a11y-bus.sh <command> [arguments...]
# Exits 77 (skipped, for the tests) without Xvfb, dbus-run-session, at-spi2-core or pyatspi.
set -u
if [ -z "${TAMLO_IN_XVFB:-}" ]; then
    for tool in xvfb-run dbus-run-session dbus-daemon /usr/libexec/at-spi-bus-launcher; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed"
            exit 77
        fi
    done
    if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
        echo "SKIP: python3-pyatspi is not installed"
        exit 77
    fi
    TAMLO_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$0" "$@"
fi
# The bus must be up before a program starts, or the program never joins it.
/usr/bin/python3 -c 'import pyatspi; pyatspi.Registry.getDesktop(0).childCount' 2>/dev/null
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
exec "$@"
