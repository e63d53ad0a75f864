#include "fax/view/fax_printer_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kFaxLineWidth = 1728;
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

TPrintSize PrintedImageSize(TPrintScale scale, const TPrintArea& area, int bitmapWidth, int bitmapHeight,
                            int pixelsPerInch)
{
    if (scale == psFitToPage) {
        const int width = static_cast<int>(std::trunc(kFitWidthShare * area.Width()));
        const int by = bitmapWidth <= kFaxLineWidth ? bitmapWidth : bitmapHeight;
        return {width, MulDivRounded(area.Height(), by, kFaxLineWidth)};
    }
    const int width = MulDivRounded(bitmapWidth, pixelsPerInch, kFaxDotsPerInch);
    const int height = MulDivRounded(bitmapHeight, pixelsPerInch, kFaxDotsPerInch);
    return {width, std::min(height, area.Height())};
}
