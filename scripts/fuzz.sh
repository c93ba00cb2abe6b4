#!/usr/bin/env bash
# Runs every fuzz target (libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) for the
# given seconds each (default 60) and prints, per target, executions, corpus size and crashes.
#   scripts/fuzz.sh [seconds] [target...]
# The corpus grows in build/fuzz/corpus/<target> (seeded from tests/corpus/<target>); a crashing
# input is left in build/fuzz/crashes/<target>/: once its fault is mended, add it to
# tests/corpus/<target>/, whose inputs tst_fuzzreplay replays on every test run.
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
targets=(config_dat station_history recorder_history meter_value_reply meter_param_reply
         recorder_status_reply recorder_block_reply meters_file mqtt_ini mqtt_queue)
if [ $# -gt 1 ]; then
  targets=("${@:2}")
fi

"$root/scripts/deps.sh" fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DTAMLO_SANITIZE=ON -DTAMLO_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export QT_QPA_PLATFORM=offscreen
# The targets hand their inputs over as files: in memory, the publishing queue's disk flushes
# cost nothing and it runs some twenty times as many inputs.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
# Qt keeps some allocations to the end of the process: leaks are the business of the test suite.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

printf '%-24s %12s %8s %8s\n' target executions corpus crashes
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  crashes="$build/crashes/$t"
  mkdir -p "$corpus" "$crashes"
  log="$build/$t.log"
  "$build/bin/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -artifact_prefix="$crashes/" "$corpus" "$root/tests/corpus/$t" >"$log" 2>&1 || true
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  size="$(find "$corpus" -type f | wc -l)"
  found="$(find "$crashes" -type f | wc -l)"
  printf '%-24s %12s %8s %8s\n' "$t" "${execs:-?}" "$size" "$found"
  if [ "$found" -ne 0 ]; then
    status=1
  fi
done
exit "$status"
