#include "fax/view/fax_printer_layout.h"

#include "fax/apf_file.h"
#include "fax/fax_unpacker.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kFaxLineWidth = 1728;
constexpr int kWideFaxLineWidth = 2048;
constexpr int kFaxDotsPerInch = 200;
constexpr double kFitWidthShare = 0.93;
constexpr int kMultiPageInset = 2;

int PagesPerSheet(bool landscape) { return landscape ? 2 : 4; }

} // namespace

int MulDivRounded(int64_t a, int64_t b, int64_t c)
{
    const int64_t product = a * b;
    const bool negative = (product < 0) != (c < 0);
    const int64_t magnitude = (std::llabs(product) + std::llabs(c) / 2) / std::llabs(c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

bool StartsNewSheet(bool multiPage, bool landscape, int index)
{
    return !multiPage || index % PagesPerSheet(landscape) == 0;
}

TPrintArea PageArea(int pageWidth, int pageHeight, bool multiPage, bool landscape, int index)
{
    TPrintArea area{0, 0, pageWidth, pageHeight};
    if (!multiPage)
        return area;
    area.right /= 2;
    if (!landscape)
        area.bottom /= 2;
    const int quadrant = index % 4;
    const int dx = quadrant == 1 || quadrant == 3 ? area.right : 0;
    const int dy = !landscape && quadrant >= 2 ? area.bottom : 0;
    area.left += dx + kMultiPageInset;
    area.right += dx - kMultiPageInset;
    area.top += dy + kMultiPageInset;
    area.bottom += dy - kMultiPageInset;
    return area;
}

TFaxPageShape FaxPageShape(uint16_t flags, int mode, int bitmapWidth)
{
    const bool standard = !(flags & kApfFine);
    TFaxPageShape shape;
    shape.lineWidth = (flags & kApfWide) ? kWideFaxLineWidth : kFaxLineWidth;
    if (standard && mode == asHalfWidth)
        shape.lineWidth /= 2;
    shape.rowAspect = standard && mode == asNone ? 2 : 1;
    shape.lineWidth = std::max(shape.lineWidth, bitmapWidth);
    return shape;
}

TPrintSize PrintedImageSize(TPrintScale scale, const TPrintArea& area, int bitmapWidth, int bitmapHeight,
                            int pixelsPerInch, const TFaxPageShape& shape)
{
    // The page's height in pixels of its width, so that one scale serves both.
    const int64_t height = static_cast<int64_t>(bitmapHeight) * std::max(shape.rowAspect, 1);
    // The scale is the fraction across / line; it shrinks to areaHeight / height
    // when the page is longer than the area.
    int64_t across = scale == psFitToPage ? static_cast<int64_t>(std::trunc(kFitWidthShare * area.Width()))
                                          : MulDivRounded(shape.lineWidth, pixelsPerInch, kFaxDotsPerInch);
    int64_t line = std::max(shape.lineWidth, 1);
    if (height > 0 && across * height > static_cast<int64_t>(area.Height()) * line) {
        across = std::max(area.Height(), 0);
        line = height;
    }
    return {MulDivRounded(bitmapWidth, across, line), MulDivRounded(height, across, line)};
}
