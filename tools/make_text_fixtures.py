#!/usr/bin/env python3
"""Makes faxes with known sentences, for the text recognition tests.

Each page is a PostScript page of sentences, most in 14 point type and some
in small 10 point type, faxed through the same path as the other fax
fixtures (ghostscript's faxg3 device, wrapped into APF by
make_fax_fixtures.py) at fine and at standard resolution. Every sentence
holds words of its own, so that a search for them finds one page only.

Usage: make_text_fixtures.py OUTDIR [--a4]
Writes OUTDIR/text-fine.apf and OUTDIR/text-standard.apf (two pages each)
and OUTDIR/sentences.tsv: file, page, point size and sentence, one a line.
With --a4 it writes OUTDIR/text-a4.apf instead: two full A4 pages at fine
resolution, the sentences over and over, for timing recognition.
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_fax_fixtures import apf, render  # noqa: E402

# file, then its pages: each a list of (point size, sentence)
FAXES = [
    ("text-fine.apf", 196, [
        [(14, "Please deliver forty crates of apples to the harbour warehouse on Monday."),
         (14, "Invoice 4711 covers the spare parts ordered last spring."),
         (14, "Our accountant Margaret will phone about the overdue payment."),
         (10, "Small print: returns are accepted within thirty days of purchase."),
         (14, "The blue tractor needs new tyres before the autumn harvest.")],
        [(14, "Kindly confirm the booking for twelve guests at the lakeside hotel."),
         (14, "Shipment reference 90210 left the Rotterdam depot yesterday."),
         (10, "Conditions apply to discounts granted during the winter sale."),
         (14, "Engineering drawings for the bridge railing are attached overleaf.")],
    ]),
    ("text-standard.apf", 98, [
        [(14, "Remember to water the greenhouse tomatoes every morning."),
         (14, "Quarterly figures show strong growth in northern markets."),
         (10, "Printed copies of this notice must be kept for seven years."),
         (14, "The violin workshop closes early on public holidays.")],
        [(14, "Attach the signed contract and return it by courier."),
         (14, "Laboratory samples arrived frozen and undamaged."),
         (10, "Fine print: liability is limited to the invoice amount.")],
    ]),
]

FONTS = {14: "/Helvetica findfont 14 scalefont setfont", 10: "/Times-Roman findfont 10 scalefont setfont"}
HEIGHT = 400  # points: a short page keeps recognition quick


def page_postscript(lines):
    body, y = [], HEIGHT - 50
    for size, sentence in lines:
        body.append(FONTS[size])
        body.append("40 %d moveto (%s) show" % (y, sentence))
        y -= 2 * size + 12
    return "\n".join(body)


def a4_page(first):
    sentences = [sentence for _, _, pages in FAXES for lines in pages for _, sentence in lines]
    body, y, n = [FONTS[10]], 800, first
    while y > 40:
        body.append("40 %d moveto (%s) show" % (y, sentences[n % len(sentences)]))
        y, n = y - 14, n + 1
    return "\n".join(body)


def main():
    if len(sys.argv) not in (2, 3) or (len(sys.argv) == 3 and sys.argv[2] != "--a4"):
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    if len(sys.argv) == 3:
        with tempfile.TemporaryDirectory() as work:
            g3 = render([a4_page(0), a4_page(7)], 612, 842, 196, work)
        with open(os.path.join(out, "text-a4.apf"), "wb") as f:
            f.write(apf(g3, 1))
        return
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for name, dpi, pages in FAXES:
            g3 = render([page_postscript(lines) for lines in pages], 612, HEIGHT, dpi, work)
            with open(os.path.join(out, name), "wb") as f:
                f.write(apf(g3, 1 if dpi == 196 else 0))
            for number, lines in enumerate(pages, 1):
                rows += ["%s\t%d\t%d\t%s" % (name, number, size, sentence) for size, sentence in lines]
    with open(os.path.join(out, "sentences.tsv"), "w") as f:
        f.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
