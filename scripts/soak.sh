#!/usr/bin/env bash
# The long forms of the crash and noise tests, printing their figures:
#   scripts/soak.sh [kills] [noise seconds] [meters]
# (default 100 kills; one hour of polling 63 meters with a tenth of the replies damaged).
# The short forms run in the test suite. Needs a build of the dev preset (scripts/test.sh).
set -euo pipefail

kills="${1:-100}"
seconds="${2:-3600}"
meters="${3:-63}"
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/dev/bin"
cmake --build "$root/build/dev" --target tst_killconsistency tst_linenoise tamlo_pro tamlo_meter_sim

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Qt Test stops a test function after five minutes unless told otherwise (milliseconds).
export QTEST_FUNCTION_TIMEOUT=$(( (seconds + kills * 10 + 600) * 1000 ))
status=0
echo "== $kills kills"
TAMLO_KILLS="$kills" "$bin/tst_killconsistency" 2>&1 | grep -E 'QINFO|FAIL|Loc|Totals' || status=1
echo "== $seconds s of noise (P = 0.10) on $meters meters"
TAMLO_NOISE_SECONDS="$seconds" TAMLO_NOISE_METERS="$meters" "$bin/tst_linenoise" 2>&1 |
  grep -E 'QINFO|FAIL|Loc|Totals' || status=1
exit "$status"
