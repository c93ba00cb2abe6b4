#!/usr/bin/env bash
# Checks that the desktop's file-type database knows Tamlo's history files: a station history file
# by its name (*.nv), a recorder history file by its format tag in either byte order, whatever its
# name, and that an ordinary .dat file (such as the station's config.dat) is not taken for one.
#   scripts/check-file-types.sh [tamlo-mime.xml | <prefix>/share]
# With the XML (default packaging/tamlo-mime.xml) a database is built in a temporary directory;
# with an installed share directory its mime/ database is used as it is.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source="${1:-$root/packaging/tamlo-mime.xml}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

if [ -d "$source" ]; then
  share="$source"
else
  share="$tmp/share"
  mkdir -p "$share/mime/packages"
  cp "$source" "$share/mime/packages/tamlo.xml"
  # update-mime-database refuses (and says why) a file that breaks the schema.
  if update-mime-database -V "$share/mime" 2>&1 | grep -i 'error\|invalid\|unknown'; then
    echo "FAIL: update-mime-database complains about $source" >&2
    exit 1
  fi
fi

query() {  # the type the desktop gives the file
  XDG_DATA_HOME="$tmp/home" XDG_DATA_DIRS="$share:/usr/share" XDG_CURRENT_DESKTOP=X-Generic \
    xdg-mime query filetype "$1" 2>/dev/null
}
failures=0
expect() {  # expect <file> <type>
  local got
  got="$(query "$1")"
  if [ "$got" = "$2" ]; then
    echo "ok   $(basename "$1"): $got"
  else
    echo "FAIL $(basename "$1"): $got, not $2" >&2
    failures=$((failures + 1))
  fi
}

# A station history file: 64-byte header and one record (only the name says what it is).
head -c 200 /dev/zero > "$tmp/01日08时00分00秒.nv"
# Recorder history files, header and channel block and a record, little-endian and byte-swapped.
{ printf '\x0c\x95\x04\x00'; head -c 1530 /dev/zero; } > "$tmp/upload.dat"
{ printf '\x00\x03\x0e\x08'; head -c 1530 /dev/zero; } > "$tmp/swapped.dat"
cp "$tmp/upload.dat" "$tmp/upload-renamed.bin"
# config.dat: 1344 bytes starting with the device count.
{ printf '\x06'; head -c 1343 /dev/zero; } > "$tmp/config.dat"

expect "$tmp/01日08时00分00秒.nv" application/x-tamlo-station-history
expect "$tmp/upload.dat" application/x-tamlo-recorder-history
expect "$tmp/swapped.dat" application/x-tamlo-recorder-history
expect "$tmp/upload-renamed.bin" application/x-tamlo-recorder-history
got="$(query "$tmp/config.dat")"
if [ "$got" = application/x-tamlo-recorder-history ]; then
  echo "FAIL config.dat taken for a recorder history file" >&2
  failures=$((failures + 1))
else
  echo "ok   config.dat: $got"
fi

# Files the programs wrote, when named: scripts/check-file-types.sh <share> file.nv file.dat
shift || true
for file in "$@"; do
  case "$file" in
    *.nv) expect "$file" application/x-tamlo-station-history ;;
    *) expect "$file" application/x-tamlo-recorder-history ;;
  esac
done
exit $((failures > 0))
