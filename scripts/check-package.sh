#!/usr/bin/env bash
# Installs the Debian package into a temporary root and proves it works from the installed paths:
# dependencies present, libraries resolved, --version and --help of all five programs, the
# desktop entries valid and pointing at installed programs and icons, the manual pages readable,
# the file types known for files the programs wrote, each window program started offscreen, and
# the station's reason on standard error for a port it may not open.
#   scripts/check-package.sh [build/package/tamlo_*.deb]
# Where Debian 12 runs in a container (podman or docker with the image debian:12 present, or
# TAMLO_CHECK_IMAGE), the package is also installed there with apt and each program started.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
deb="${1:-$(ls -t "$root"/build/package/tamlo_*.deb 2>/dev/null | head -1)}"
[ -f "$deb" ] || { echo "no package: run scripts/package.sh first" >&2; exit 2; }
deb="$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
source "$root/scripts/common.sh"

tmp="$(mktemp -d)"
stop_at_exit "$tmp"
failures=0
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }
programs=(tamlo_pro tamlo_view tamlo_ana tamlo_meter_sim tamlo_recorder_sim)

echo "Package: $deb"
dpkg-deb -I "$deb" | sed -n '/Package:/,$p'
prefix="$tmp/root"
dpkg-deb -x "$deb" "$prefix"
bin="$prefix/usr/bin"
share="$prefix/usr/share"

# The dependencies a fresh Debian 12 pulls in must all be installed here for the checks to mean
# the same; each is looked up by name.
depends="$(dpkg-deb -f "$deb" Depends)"
for dep in $(echo "$depends" | tr ',' '\n' | sed 's/(.*)//; s/|.*//' | tr -d ' ' | sort -u); do
  if dpkg-query -W -f='${Status}' "$dep" 2>/dev/null | grep -q "install ok installed"; then
    pass "dependency $dep installed"
  else
    fail "dependency $dep is not installed here"
  fi
done

for program in "${programs[@]}"; do
  [ -x "$bin/$program" ] || { fail "$program not installed in /usr/bin"; continue; }
  if ldd "$bin/$program" | grep -q 'not found'; then
    fail "$program: $(ldd "$bin/$program" | grep 'not found' | tr '\n' ' ')"
  fi
  version="$(QT_QPA_PLATFORM=offscreen timeout 10 "$bin/$program" --version 2>&1 || true)"
  case "$version" in
    "$program "[0-9]*) pass "$version" ;;
    *) fail "$program --version: $version" ;;
  esac
  help="$(QT_QPA_PLATFORM=offscreen timeout 10 "$bin/$program" --help 2>&1 || true)"
  if grep -qi "usage" <<< "$help"; then
    pass "$program --help"
  else
    fail "$program --help gives no usage"
  fi
  # The documents --help names where the package installs them.
  for document in $(grep -o '/usr/share/doc/[^ )]*' <<< "$help" | sed 's/[.,]$//' | sort -u); do
    [ -f "$prefix$document" ] && pass "$program --help names $document" ||
      fail "$program --help names $document, which the package does not install"
  done
done

for entry in "$share"/applications/tamlo_*.desktop; do
  name="$(basename "$entry" .desktop)"
  if out="$(desktop-file-validate "$entry" 2>&1)" && [ -z "$out" ]; then
    pass "$name.desktop valid"
  else
    fail "$name.desktop: $out"
  fi
  exec_program="$(sed -n 's/^TryExec=//p' "$entry")"
  [ -x "$bin/$exec_program" ] && pass "$name.desktop runs $exec_program" ||
    fail "$name.desktop: TryExec $exec_program not installed"
  grep -q "^Exec=.*$exec_program" "$entry" || fail "$name.desktop: Exec does not run $exec_program"
  icon="$(sed -n 's/^Icon=//p' "$entry")"
  [ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] && pass "$name.desktop icon $icon.svg" ||
    fail "$name.desktop: icon $icon not installed"
done
[ "$(ls "$share"/applications/tamlo_*.desktop | wc -l)" = 3 ] || fail "not three desktop entries"

for page in "${programs[@]}"; do
  file="$share/man/man1/$page.1.gz"
  if [ -f "$file" ] && grep -q -- '--version' <<< "$(man -l "$file" 2> /dev/null)"; then
    pass "manual page $page(1)"
  else
    fail "manual page $page(1) missing or without the options"
  fi
done

# A short offscreen run of each window program from the installed paths, against the simulators;
# the station's history file and an uploaded recorder file are then checked against the
# installed file types.
work="$tmp/station"
demo_station "$work" "$bin"
alive() {  # alive <seconds> <program> [args]: starts it offscreen and sees it still running
  local seconds=$1 program=$2; shift 2
  QT_QPA_PLATFORM=offscreen "$bin/$program" "$@" > "$tmp/$program.out" 2>&1 &
  local pid=$!
  sleep "$seconds"
  if kill -0 "$pid" 2>/dev/null; then
    pass "$program runs offscreen from $bin"
    kill "$pid"; wait "$pid" 2>/dev/null || true
  else
    fail "$program ended early: $(cat "$tmp/$program.out")"
  fi
}
(cd "$work" && alive 7 tamlo_pro)
nv="$(find "$work" -name '*.nv' | head -1)"
if [ -n "$nv" ] && [ "$(stat -c %s "$nv")" -gt 64 ]; then
  pass "the station recorded $(basename "$(dirname "$nv")")/$(basename "$nv")"
else
  fail "the station wrote no history file"
fi
[ -n "$nv" ] && (cd "$work" && alive 3 tamlo_view "$nv")

# tamlo_ana writes a recorder file only through its upload dialog: where a virtual display and
# the accessibility tools are at hand, the screenshot script drives every window of the installed
# programs, an upload from the recorder simulator included. Else a file with the format tag.
dat="$tmp/uploaded.dat"
if command -v xvfb-run > /dev/null && /usr/bin/python3 -c 'import pyatspi' 2> /dev/null; then
  TAMLO_BIN="$bin" TAMLO_SAVE_UPLOAD="$dat" "$root/scripts/screenshots.sh" "$tmp/pictures" \
    > "$tmp/screenshots.log" 2>&1 || true
  pictures=$(find "$tmp/pictures" -name '*.png' 2> /dev/null | wc -l)
  [ "$pictures" -ge 15 ] && pass "the installed programs' windows under X: $pictures pictures" ||
    fail "the installed programs' windows under X: $pictures pictures (see scripts/screenshots.sh)"
  [ -s "$dat" ] && pass "tamlo_ana uploaded $(stat -c %s "$dat") bytes from the recorder simulator" ||
    fail "tamlo_ana's upload wrote no file"
fi
if [ ! -s "$dat" ]; then
  { printf '\x0c\x95\x04\x00'; head -c 1530 /dev/zero; } > "$dat"
fi
(cd "$tmp" && alive 3 tamlo_ana "$dat")

mimedb="$tmp/mimeshare"
mkdir -p "$mimedb"
cp -r "$share/mime" "$mimedb/"
update-mime-database "$mimedb/mime"
if "$root/scripts/check-file-types.sh" "$mimedb" ${nv:+"$nv"} "$dat"; then
  pass "file types known"
else
  fail "file types"
fi

# The reason for a port the station may not open: as a user outside the port's group.
if [ "$(id -u)" = 0 ] && command -v runuser > /dev/null && getent group dialout > /dev/null; then
  denied="$tmp/denied"
  mkdir -p "$denied"
  write_demo_config "$denied"
  touch "$denied/ttyFAKE"
  chgrp dialout "$denied/ttyFAKE"
  chmod 660 "$denied/ttyFAKE"
  ln -s "$denied/ttyFAKE" "$denied/COM1"
  chmod 777 "$denied"
  chmod 755 "$tmp"
  (cd "$denied" && QT_QPA_PLATFORM=offscreen timeout 5 runuser -u nobody -- "$bin/tamlo_pro" \
    > "$tmp/denied.out" 2>&1 || true)
  if grep -q 'Permission denied.*dialout' "$tmp/denied.out"; then
    pass "a refused port: $(grep -m1 'Permission denied' "$tmp/denied.out" | cut -c1-100)..."
  else
    fail "a refused port gives no reason: $(cat "$tmp/denied.out")"
  fi
fi

# A container, where one is at hand: the package installed with apt on Debian 12 itself.
image="${TAMLO_CHECK_IMAGE:-debian:12}"
for engine in podman docker; do
  command -v "$engine" > /dev/null || continue
  "$engine" image inspect "$image" > /dev/null 2>&1 || continue
  if "$engine" run --rm -v "$deb:/tmp/tamlo.deb:ro" "$image" sh -ec '
      apt-get update -qq && apt-get install -y -qq /tmp/tamlo.deb > /dev/null
      for p in tamlo_pro tamlo_view tamlo_ana tamlo_meter_sim tamlo_recorder_sim; do
        QT_QPA_PLATFORM=offscreen $p --version
      done
      cd /tmp && QT_QPA_PLATFORM=offscreen timeout 3 tamlo_view; test $? = 124'; then
    pass "installed and started in a $image container ($engine)"
  else
    fail "in a $image container ($engine)"
  fi
  break
done

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "All package checks passed."
