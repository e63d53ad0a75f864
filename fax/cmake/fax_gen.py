#!/usr/bin/env python3
"""Build-time generator for the fax library.

  fax_gen.py codes TABLE.tsv OUT.cpp      code table as a C++ array
  fax_gen.py strings TABLE.tsv OUT.bin    "STR0" string resource

Both tables are tab-separated text; lines starting with '#' are comments.
"""
import struct
import sys


def rows(path):
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            yield number, line.split("\t")


def make_codes(table, out):
    colours = {"white": "T4Colour::White", "black": "T4Colour::Black", "both": "T4Colour::Both",
               "eol": "T4Colour::EndOfLine"}
    entries = []
    for number, cols in rows(table):
        if len(cols) != 3 or cols[0] not in colours or set(cols[2]) - {"0", "1"}:
            sys.exit(f"{table}:{number}: expected 'colour<TAB>run<TAB>bits'")
        run = 0 if cols[0] == "eol" else int(cols[1])
        entries.append(f'    {{{colours[cols[0]]}, {run}, "{cols[2]}"}},')
    with open(out, "w", encoding="utf-8") as f:
        f.write("// Generated from t4-codes.tsv by fax/cmake/fax_gen.py; do not edit.\n")
        f.write('#include "fax/t4_codes.h"\n\n')
        f.write("const T4Code kT4Codes[] = {\n" + "\n".join(entries) + "\n};\n")
        f.write(f"const int kT4CodeCount = {len(entries)};\n")


def make_strings(table, out):
    texts = {}
    for number, cols in rows(table):
        if len(cols) != 2:
            sys.exit(f"{table}:{number}: expected 'key<TAB>text'")
        key = int(cols[0])
        if key in texts:
            sys.exit(f"{table}:{number}: duplicate key {key}")
        texts[key] = cols[1]
    keys = sorted(texts)
    offset = 8 + 12 * len(keys)
    entries, blob = b"", b""
    for key in keys:
        data = texts[key].encode("utf-16-le")
        entries += struct.pack("<iII", key, offset + len(blob), len(data) // 2)
        blob += data
    with open(out, "wb") as f:
        f.write(b"STR0" + struct.pack("<I", len(keys)) + entries + blob)


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("codes", "strings"):
        sys.exit(__doc__)
    (make_codes if sys.argv[1] == "codes" else make_strings)(sys.argv[2], sys.argv[3])
