#!/usr/bin/env bash
# Peak memory and wall time of `pellimar --list` on a crafted catalogue whose
# one record is a compressed item of run codes only (about 885 bytes out for
# each byte in): the catalogue layout is right, so the record is read.
#   bench/qdb_bomb_list.sh [file-kilobytes]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
kilobytes=${1:-222}
pellimar=${PELLIMAR_BIN:-$here/build/app/pellimar}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/faxes.qdb" "$kilobytes" <<'EOF'
import struct, sys
path, kilobytes = sys.argv[1], int(sys.argv[2])

def run(count, byte):
    # A run code: zero distance, 12-bit count - 16, the byte.
    r = count - 16
    return bytes([0, r >> 8, r & 0xFF, byte])

# One block: eight run codes give the largest piece, 32768 bytes.
body = b"\x40" + struct.pack(">H", 0xFF00) + run(4111, 0) * 7 + run(32768 - 7 * 4111, 0)
block = struct.pack("<H", len(body)) + body
bomb = block * (kilobytes * 1024 // len(block))

names = ["edtFilename", "edteMailDate", "edtSenderID", "edtFaxDate", "edtStatus"]
data = bytearray(bomb)
admin = []
for n, name in enumerate(names):
    text = b"\x06." + name.encode() + b".TEdit\0"
    admin.append((b"QF.%04d" % n, len(data), len(text), 1))
    data += text
entries = admin + [(b"faxes\\bomb.apf", 0, len(bomb), 2)]
index = struct.pack("<i", len(entries))
for key, offset, size, flags in entries:
    index += key + b"\0" + struct.pack("<iii", offset, size, flags)
with open(path, "wb") as f:
    f.write(b"QDB\0" + struct.pack("<i", len(data)) + bytes(data) + b"QIX\0" + struct.pack("<i", len(index)) + index)
EOF

echo "Crafted catalogue: $(stat -c %s "$work/faxes.qdb") bytes"
cd "$work"
set +e
QT_QPA_PLATFORM=offscreen /usr/bin/time -v "$pellimar" --list >"$work/out" 2>"$work/err"
status=$?
set -e
grep -v -E '^\s+(Command being timed|Average|Major|Minor|Voluntary|Involuntary|Swaps|File system|Socket|Signals|Page size|Percent|Exit status)' "$work/err" \
  | grep -E 'catalogue|record|QDB|Elapsed|Maximum resident' || true
echo "Exit status: $status, lines listed: $(wc -l <"$work/out")"
