#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# every test (the windows on Qt's offscreen platform, the serial code against the simulators on
# pseudo-terminals).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh test
cmake --preset dev
cmake --build --preset dev -j "$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --preset dev -j "$(nproc)" "$@"
