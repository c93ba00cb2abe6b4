# Sourced by the demo, screenshot and package-check scripts.
#
# The demo station's config.dat:
#   write_demo_config <directory>   writes <directory>/config.dat unless there is one: 6 meters on
#                                   COM1 at 9600 baud (the meters of tools/meter_sim/
#                                   example-meters.txt), one record every 2 seconds, setup
#                                   password 583174
write_demo_config() {
  local dir=$1
  [ -f "$dir/config.dat" ] && return 0
  put() {  # put <offset> <printf format> [args] : writes bytes into config.dat at the offset
    local offset=$1; shift
    # shellcheck disable=SC2059
    printf "$@" | dd of="$dir/config.dat" bs=1 seek="$offset" conv=notrunc status=none
  }
  device() {  # device <slot> <model> <address> <channel> <unit> <tag>
    local at=$((512 + 13 * $1))
    put "$at" '%b' "\\x$(printf %02x "$2")\\x$(printf %02x "$3")\\x$(printf %02x "$4")"
    printf '%s' "$6" | iconv -f UTF-8 -t GBK | head -c 8 |
      dd of="$dir/config.dat" bs=1 seek=$((at + 3)) conv=notrunc status=none
    put $((at + 12)) '%b' "\\x$(printf %02x "$5")"
  }
  head -c 1344 /dev/zero > "$dir/config.dat"
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
}

# start_sim <output file> <command...> : starts a simulator in the background, waits for its
# "ready" line (at most 5 s) and leaves its process id in $sim_pid.
start_sim() {
  local out=$1; shift
  "$@" < /dev/null > "$out" &
  sim_pid=$!
  for _ in $(seq 50); do
    grep -q '^ready' "$out" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "simulator not ready: $*" >&2
  return 1
}

# demo_station <directory> <bin folder> [more simulator options] : the demo station's folder with
# its config.dat, and the meter simulator of tools/meter_sim/example-meters.txt answering on its
# COM1 (output in <directory>/meter_sim.out; its process id joins pids).
demo_station() {
  local dir=$1 bin=$2; shift 2
  mkdir -p "$dir"
  write_demo_config "$dir"
  start_sim "$dir/meter_sim.out" "$bin/tamlo_meter_sim" --link "$dir/COM1" \
    --meters "$(dirname "${BASH_SOURCE[0]}")/../tools/meter_sim/example-meters.txt" "$@"
  pids+=("$sim_pid")
}

# stop_at_exit [<directory>] : at exit, stops the processes whose ids the script added to the
# array pids and removes <directory>.
pids=()
stop_at_exit() {
  cleanup_directory=${1:-}
  trap stop_now EXIT
}
stop_now() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  [ -z "$cleanup_directory" ] || rm -rf "$cleanup_directory"
}
