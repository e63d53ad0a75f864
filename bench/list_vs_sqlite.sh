#!/usr/bin/env bash
# `pellimar --list` on a catalogue of 100 000 faxes against sqlite3 printing
# the same rows of five text fields from an indexed table in key order, runs
# interleaved; then the window's start with that catalogue, from exec to the
# first paint of the main window (the program writes that moment's
# monotonic-clock time to PELLIMAR_FIRST_PAINT_FILE; the clock is read here
# just before exec).
#   bench/list_vs_sqlite.sh
# RUNS (default 5) sets the rounds, RECORDS (default 100000) the catalogue's
# size, PELLIMAR_BIN the program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
pellimar=${PELLIMAR_BIN:-$here/build/app/pellimar}
runs=${RUNS:-5}
records=${RECORDS:-100000}
for tool in sqlite3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (tools/packages/qdb.txt)" >&2; exit 1; }
done
work=$(mktemp -d)
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/folder/faxes" "$work/folder/temp"

# The catalogue as the program stores it (records of qdb_bench_data.h, each
# field with its zero byte; index entries in stored order, so that the file
# is canonical and a run that only reads never rewrites it), and the same
# rows in SQLite.
python3 - "$work/folder/faxes.qdb" "$work/faxes.sqlite" "$records" <<'PY'
import sqlite3, struct, sys
qdb_path, sqlite_path, count = sys.argv[1], sys.argv[2], int(sys.argv[3])

def field(text):
    data = text.encode("latin-1") + b"\0"
    return struct.pack("<i", len(data)) + data

rows = []
for i in range(count):
    day, month, hour, minute = 1 + i % 28, 1 + i % 12, 1 + i % 12, i % 60
    date = "%02d/%02d/2026 %02d:%02d %s" % (month, day, hour, minute, "PM" if i % 2 else "AM")
    rows.append(("faxes\\fax%d.apf" % (100000 + i), date, "+49 30 %d" % (5550000 + i % 977), date,
                 "Viewed" if i % 3 else "New"))

data = bytearray()
admin = []
for n, name in enumerate(["edtFilename", "edteMailDate", "edtSenderID", "edtFaxDate", "edtStatus"]):
    text = b"\x06." + name.encode() + b".TEdit\0"
    admin.append((b"QF.%04d" % n, len(data), len(text), 1))
    data += text
items = []
for row in rows:
    record = b"".join(field(value) for value in row)
    items.append((row[0].encode("latin-1"), len(data), len(record), 0))
    data += record
index = bytearray(struct.pack("<i", len(admin) + len(items)))
for key, offset, size, flags in sorted(admin, reverse=True) + sorted(items, reverse=True):
    index += key + b"\0" + struct.pack("<iii", offset, size, flags)
with open(qdb_path, "wb") as out:
    out.write(b"QDB\0" + struct.pack("<i", len(data)) + bytes(data) + b"QIX\0" + struct.pack("<i", len(index))
              + bytes(index))

db = sqlite3.connect(sqlite_path)
db.execute("CREATE TABLE faxes (filename TEXT PRIMARY KEY, maildate TEXT, sender TEXT, faxdate TEXT, status TEXT)")
db.executemany("INSERT INTO faxes VALUES (?, ?, ?, ?, ?)", rows)
db.commit()
db.close()
PY
echo "Catalogue: $records records, $(stat -c %s "$work/folder/faxes.qdb") bytes"

export PELLIMAR_REGISTRY="$work/registry.reg" ASAN_OPTIONS=detect_leaks=0
# Prints "seconds kilobytes" of one run; its output goes to $work/$2.out.
timed() {
  local name=$1; shift
  /usr/bin/time -f '%e %M' -o "$work/$name.time" "$@" > "$work/$name.out"
  cat "$work/$name.time"
}
run_pellimar() { (cd "$work/folder" && QT_QPA_PLATFORM=offscreen timed pellimar "$pellimar" --list); }
run_sqlite() {
  timed sqlite3 sqlite3 -readonly -separator $'\t' "$work/faxes.sqlite" \
    "SELECT status, filename, sender, faxdate, maildate FROM faxes ORDER BY filename"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
stamp_before=$(stat -c %Y.%i "$work/folder/faxes.qdb")
pellimar_times=() sqlite_times=() pellimar_kb=() sqlite_kb=()
for round in $(seq 1 "$runs"); do
  if [ $((round % 2)) -eq 1 ]; then
    read -r p pk < <(run_pellimar); read -r s sk < <(run_sqlite)
  else
    read -r s sk < <(run_sqlite); read -r p pk < <(run_pellimar)
  fi
  pellimar_times+=("$p") sqlite_times+=("$s") pellimar_kb+=("$pk") sqlite_kb+=("$sk")
  printf 'round %d: pellimar --list %.3fs %d KB, sqlite3 %.3fs %d KB\n' "$round" "$p" "$pk" "$s" "$sk"
done
cmp -s "$work/pellimar.out" "$work/sqlite3.out" || { echo "the two listings differ" >&2; exit 1; }
[ "$(stat -c %Y.%i "$work/folder/faxes.qdb")" = "$stamp_before" ] || echo "note: --list rewrote the catalogue" >&2
p=$(printf '%s\n' "${pellimar_times[@]}" | median); s=$(printf '%s\n' "${sqlite_times[@]}" | median)
pk=$(printf '%s\n' "${pellimar_kb[@]}" | median); sk=$(printf '%s\n' "${sqlite_kb[@]}" | median)
echo "pellimar --list: median ${p}s, peak memory ${pk} KB, of $runs runs"
echo "sqlite3: median ${s}s, peak memory ${sk} KB"
printf 'ratio list/sqlite3: %.2f (goal: at most 2)\n' "$(echo "$p / $s" | bc -l)"

# The window's start on a private X display.
command -v Xvfb >/dev/null || { echo "Xvfb is missing: no start time" >&2; exit 0; }
exec {display_fd}> "$work/display"
Xvfb -displayfd "$display_fd" -screen 0 1280x1024x24 -nolisten tcp -noreset 2>/dev/null &
xvfb=$!
exec {display_fd}>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"
start_times=()
for round in $(seq 1 "$runs"); do
  rm -f "$work/painted"
  # The clock is read by the process that then becomes the program.
  (cd "$work/folder" && QT_QPA_PLATFORM=xcb PELLIMAR_FIRST_PAINT_FILE="$work/painted" exec python3 -c '
import os, sys, time
with open(sys.argv[1], "w") as out:
    out.write("%d\n" % time.monotonic_ns())
os.execv(sys.argv[2], [sys.argv[2]])' "$work/exec" "$pellimar" >/dev/null 2>&1) &
  program=$!
  for _ in $(seq 300); do [ -s "$work/painted" ] && break; sleep 0.05; done
  kill "$program" 2>/dev/null; wait "$program" 2>/dev/null || true
  [ -s "$work/painted" ] || { echo "the window did not paint within 15 s" >&2; exit 1; }
  ms=$(echo "($(cat "$work/painted") - $(cat "$work/exec")) / 1000000" | bc -l)
  start_times+=("$ms")
  printf 'round %d: window start %.0f ms\n' "$round" "$ms"
done
printf 'window start with %d records: median %.0f ms (goal: under 300 ms)\n' "$records" \
  "$(printf '%s\n' "${start_times[@]}" | median)"
