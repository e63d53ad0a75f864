#pragma once
// Where a fax page goes on the printed sheet and how big it is drawn.
#include <cstdint>

enum TPrintScale { psNone, psFitToPage };

// A rectangle by its edges; right and bottom lie just outside it.
struct TPrintArea {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// True when the page at `index` (0 for the first page printed) begins a
// new sheet: every page does, except with `multiPage`, where a portrait
// sheet holds four pages and a landscape sheet two.
bool StartsNewSheet(bool multiPage, bool landscape, int index);

// The area a page takes: the whole printable page, or with `multiPage` its
// quadrant (portrait: top-left, top-right, bottom-left, bottom-right) or
// half (landscape: left, right), less 2 pixels on every side.
TPrintArea PageArea(int pageWidth, int pageHeight, bool multiPage, bool landscape, int index);

struct TPrintSize {
    int width = 0;
    int height = 0;
};

// What a decoded page stands for on paper: the pixels of a whole fax line
// (a page is trimmed to the width it uses), and how many pixels of height
// one bitmap row stands for (2 for a standard-resolution page that was not
// doubled in height, else 1).
struct TFaxPageShape {
    int lineWidth = 1728;
    int rowAspect = 1;
};

// The shape of a page with APF page flags `flags` decoded with `mode`, for
// a bitmap `bitmapWidth` pixels wide (a page wider than its line width is
// taken at its own width).
TFaxPageShape FaxPageShape(uint16_t flags, int mode, int bitmapWidth);

// The drawn size of a bitmap in `area`, square pixels kept. psFitToPage
// gives the whole fax line 93 % of the area's width, or less when the page
// would then be taller than the area; psNone keeps 200 pixels per inch,
// scaled down to the area's height when taller.
TPrintSize PrintedImageSize(TPrintScale scale, const TPrintArea& area, int bitmapWidth, int bitmapHeight,
                            int pixelsPerInch, const TFaxPageShape& shape = {});

// a * b / c with a 64-bit product, rounded to the nearest integer (halves
// away from zero); c must not be 0.
int MulDivRounded(int64_t a, int64_t b, int64_t c);
