#!/usr/bin/env bash
# A picture of a station history file's export as an Excel workbook, as LibreOffice Calc prints
# it: the whole file exported by `tamlo_view --export ... --format xlsx`, the workbook printed to
# PDF by LibreOffice, its first page as PNG. For docs/guide.md (scripts/screenshots.sh calls it).
#   scripts/xlsx-picture.sh FILE.nv OUT.png [tamlo_view]
set -euo pipefail
nv=$1
png=$2
view=${3:-"$(cd "$(dirname "$0")/.." && pwd)/build/release/bin/tamlo_view"}
for tool in soffice pdftoppm convert; do
  if ! command -v "$tool" > /dev/null; then
    echo "xlsx-picture: $tool is missing (scripts/deps.sh screenshots installs it)" >&2
    exit 1
  fi
done
work="$(mktemp -d /tmp/tamlo-xlsx.XXXX)"
trap 'rm -rf "$work"' EXIT

# The file's span from its header: the start time (days since 1899-12-30), the interval, the
# channel count, and the whole records after the 1176-byte header.
read -r from to < <(/usr/bin/python3 - "$nv" << 'EOF'
import datetime, os, struct, sys
with open(sys.argv[1], 'rb') as f:
    start, interval, channels = struct.unpack('<dII', f.read(16))
records = (os.path.getsize(sys.argv[1]) - 1176) // (4 * channels)
# In whole milliseconds, as the programs count, then the second it is shown in.
t0 = datetime.datetime(1899, 12, 30) + datetime.timedelta(milliseconds=round(start * 86400000))
t0 = t0.replace(microsecond=0)
t1 = t0 + datetime.timedelta(seconds=max(records - 1, 0) * interval)
print(t0.strftime('%Y-%m-%d_%H:%M:%S'), t1.strftime('%Y-%m-%d_%H:%M:%S'))
EOF
)
workbook="$work/$(basename "${nv%.*}").xlsx"
"$view" --export "$nv" --from "${from/_/ }" --to "${to/_/ }" --format xlsx --output "$workbook" \
  > /dev/null
soffice -env:UserInstallation="file://$work/profile" --headless --convert-to pdf \
  --outdir "$work" "$workbook" > /dev/null 2>&1
pdftoppm -png -r 110 -f 1 -l 1 -singlefile "${workbook%.xlsx}.pdf" "$work/page"
convert "$work/page.png" -trim +repage -bordercolor white -border 24 "$png"
echo "  $(basename "$png")  (the export of $(basename "$nv") as a workbook)"
