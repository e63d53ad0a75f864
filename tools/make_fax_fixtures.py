#!/usr/bin/env python3
"""Makes the fax test fixtures in tests/data/fax/.

ghostscript's faxg3 device renders a few small PostScript documents into raw
one-dimensional Group 3 data with end-of-line codes (most significant bit
first). Each page's bytes are bit-reversed (APF data runs from the least
significant bit) and wrapped into APF files. libtiff's fax2tiff (-M) and
netpbm's tifftopnm decode the same Group 3 data into the reference rasters,
stored as PNG (pnmtopng) to keep them small.

Files written, for each document NAME:
  NAME.apf            plain page data, first page header right after the file header
  NAME-framed.apf     (multi only) length-word framing, blocks of varying size
  NAME-gap.apf        (multi only) 37 extra bytes before the first page header,
                      junk in the bytes readers do not interpret
  NAME-P.png          reference raster of page P (1-based), 1 = black in PBM terms
The tests need none of these tools; rerun this script only to change fixtures.
"""
import os
import random
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "tests", "data", "fax")

TEXT = """
/Helvetica findfont 20 scalefont setfont
36 180 moveto (Pellimar fax test: the quick brown fox) show
36 150 moveto (jumps over the lazy dog 0123456789) show
/Times-Roman findfont 12 scalefont setfont
36 120 moveto (Small print: invoices, orders and delivery notes.) show
36 60 moveto (Right edge ->) show 560 40 moveto (X) show
"""

LINES = """
1 setlinewidth
0 10 600 { dup 20 moveto 280 lineto stroke } for
3 setlinewidth 10 10 592 270 rectstroke
newpath 0 0 moveto 612 288 lineto 0.5 setlinewidth stroke
newpath 306 144 100 0 360 arc stroke
"""

BLACK = """
100 60 400 120 rectfill
0 200 612 20 rectfill
1 setgray 200 100 50 40 rectfill
"""

PAGE = """
/Helvetica findfont 28 scalefont setfont
72 700 moveto (Page %d of 3) show
/Courier findfont 10 scalefont setfont
0 1 40 { dup 14 mul 640 exch sub 72 exch moveto (Line of a longer fax page, repeated to fill it.) show pop } for
72 40 468 %d rectfill
"""

WIDE = """
/Helvetica findfont 24 scalefont setfont
20 40 moveto (A wide page of 2048 pixels) show
700 10 20 80 rectfill
"""

# name, PostScript body pages, width pt, height pt, vertical dpi
DOCUMENTS = [
    ("text-standard", [TEXT], 612, 216, 98),
    ("text-fine", [TEXT], 612, 216, 196),
    ("lines-standard", [LINES], 612, 288, 98),
    ("black-fine", [BLACK], 612, 288, 196),
    ("multi", [PAGE % (n, 20 * n) for n in (1, 2, 3)], 612, 792, 196),
    ("wide", [WIDE], 730, 100, 98),
]

REVERSED = bytes(int(f"{b:08b}"[::-1], 2) for b in range(256))


def run(*args, **kw):
    subprocess.run(args, check=True, **kw)


def render(body_pages, width, height, dpi, work):
    ps = os.path.join(work, "doc.ps")
    with open(ps, "w") as f:
        f.write("%!PS\n")
        for body in body_pages:
            f.write(body + "\nshowpage\n")
    run("gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=faxg3", f"-r204x{dpi}",
        f"-dDEVICEWIDTH={2048 if width > 700 else 1728}", f"-dDEVICEHEIGHT={height * dpi // 72}", "-dFIXEDMEDIA",
        "-sOutputFile=" + os.path.join(work, "page%d.g3"), ps)
    pages = []
    for n in range(1, len(body_pages) + 1):
        with open(os.path.join(work, f"page{n}.g3"), "rb") as f:
            pages.append(f.read())
    return pages


def reference(g3, dpi, wide, work, png):
    raw = os.path.join(work, "ref.g3")
    tif = os.path.join(work, "ref.tif")
    with open(raw, "wb") as f:
        f.write(g3)
    run("fax2tiff", "-M", "-R", str(dpi), "-X", "2048" if wide else "1728", "-o", tif, raw)
    pbm = subprocess.run(["tifftopnm", "-respectfillorder", tif], check=True, capture_output=True).stdout
    with open(png, "wb") as f:
        f.write(subprocess.run(["pnmtopng"], input=pbm, check=True, capture_output=True).stdout)


def frame(data, rng):
    out = b""
    while data:
        size = rng.choice([1, 7, 300, 1000, 4096, rng.randint(1, 4096)])
        block, data = data[:size], data[size:]
        out += struct.pack("<H", len(block)) + block
    return out


def apf(pages, flags, framed=False, gap=0, junk=False, rng=None):
    first = 64 + gap
    header = b"APF10\x1a" + (b"Pellimar test fixture".ljust(26, b"\0") if junk else bytes(26))
    header += struct.pack("<HI", len(pages), first) + (bytes(range(26)) if junk else bytes(26))
    body = bytes(range(gap))
    for data in pages:
        data = bytes(REVERSED[b] for b in data)
        page_flags = flags | (4 if framed else 0)
        if framed:
            data = frame(data, rng)
        extra = b"junk-here!" if junk else bytes(10)
        body += struct.pack("<IH", len(data), page_flags) + extra + data
    return header + body


def main():
    os.makedirs(OUT, exist_ok=True)
    rng = random.Random(11)
    with tempfile.TemporaryDirectory() as work:
        for name, bodies, width, height, dpi in DOCUMENTS:
            wide = width > 700
            pages = render(bodies, width, height, dpi, work)
            flags = (1 if dpi == 196 else 0) | (2 if wide else 0)
            files = {f"{name}.apf": apf(pages, flags)}
            if name == "multi":
                files[f"{name}-framed.apf"] = apf(pages, flags, framed=True, rng=rng)
                files[f"{name}-gap.apf"] = apf(pages, flags, gap=37, junk=True)
            for file_name, data in files.items():
                with open(os.path.join(OUT, file_name), "wb") as f:
                    f.write(data)
            for n, g3 in enumerate(pages, 1):
                reference(g3, dpi, wide, work, os.path.join(OUT, f"{name}-{n}.png"))
            print(name, len(pages), "page(s)", file=sys.stderr)


if __name__ == "__main__":
    main()
