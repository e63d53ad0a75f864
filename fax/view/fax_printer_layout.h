// Where a fax page goes on the printed sheet and how big it is drawn.
#pragma once

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

// The drawn size of a bitmap in `area`. psFitToPage takes 93 % of the area's
// width and scales the height by the bitmap against the 1728-pixel fax
// line; psNone keeps 200 pixels per inch, the height capped at the area's.
TPrintSize PrintedImageSize(TPrintScale scale, const TPrintArea& area, int bitmapWidth, int bitmapHeight,
                            int pixelsPerInch);

// a * b / c with a 64-bit product, rounded to the nearest integer (halves
// away from zero); c must not be 0.
int MulDivRounded(int64_t a, int64_t b, int64_t c);
