#!/usr/bin/env bash
# Wall time of printing a 50-page fine-resolution fax to PDF with
# `pellimar --print --output`, next to the usual Linux path for faxes,
# libtiff's fax2ps piped into ghostscript's ps2pdf, on the same pages stored
# as a TIFF G3 file. Best of a few runs each.
#   bench/print_vs_fax2ps.sh [pages] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
pages=${1:-50}
runs=${2:-3}
pellimar=${PELLIMAR_BIN:-$here/build/app/pellimar}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pages of the three-page fine fixture, repeated: one APF file, and the
# same coded pages as raw Group 3 data (APF data runs least significant bit
# first, fax2tiff's default) wrapped into one TIFF by fax2tiff.
python3 - "$here/tests/data/fax/multi.apf" "$work" "$pages" <<'PY'
import struct, sys
source, work, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(source, "rb").read()
n, at = struct.unpack_from("<HI", data, 32)
pages = []
for _ in range(n):
    length, flags = struct.unpack_from("<IH", data, at)
    pages.append((flags, data[at + 16:at + 16 + length]))
    at += 16 + length
out = bytearray(data[:64])
struct.pack_into("<HI", out, 32, count, 64)
for i in range(count):
    flags, body = pages[i % n]
    out += struct.pack("<IH", len(body), flags) + bytes(10) + body
    open(f"{work}/page{i:03d}.g3", "wb").write(body)
open(f"{work}/fax.apf", "wb").write(out)
PY
fax2tiff -R 196 -X 1728 -o "$work/fax.tif" "$work"/page*.g3 2>/dev/null

now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -1; }

ours=()
peer=()
for _ in $(seq 1 "$runs"); do
  start=$(now)
  "$pellimar" --print "$work/fax.apf" --output "$work/pellimar.pdf" > /dev/null
  ours+=("$(echo "$(now) - $start" | bc)")
  start=$(now)
  fax2ps "$work/fax.tif" | ps2pdf - "$work/fax2ps.pdf"
  peer+=("$(echo "$(now) - $start" | bc)")
done
ours_time=$(best "${ours[@]}")
peer_time=$(best "${peer[@]}")

echo "pellimar --print --output: ${ours_time}s ($(pdfinfo "$work/pellimar.pdf" | awk '/^Pages:/ {print $2}') sheets)"
echo "fax2ps | ps2pdf:           ${peer_time}s ($(pdfinfo "$work/fax2ps.pdf" | awk '/^Pages:/ {print $2}') pages)"
echo "ratio pellimar/fax2ps:     $(echo "scale=3; $ours_time / $peer_time" | bc)"
