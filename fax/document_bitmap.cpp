#include "fax/document_bitmap.h"

#include "fax/fax_document.h"
#include "fax/kiv_errors.h"
#include "fax/page_bitmap.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool BlankRow(const uchar* row, qsizetype bytes)
{
    return std::all_of(row, row + bytes, [](uchar b) { return b == 0; });
}

// The rows to keep, in order: runs of at least `from` blank rows shrink to
// `to`, and each standard-page row appears twice when doubled.
std::vector<int> RowPlan(const QImage& page, const UnpackState& s, bool doubled)
{
    std::vector<int> plan;
    const bool compress = s.whitespaceFrom != 0 && s.whitespaceTo != 0;
    const qsizetype bytes = (page.width() + 7) / 8;
    int y = 0;
    while (y < page.height()) {
        int run = 1;
        if (compress && BlankRow(page.constScanLine(y), bytes))
            while (y + run < page.height() && BlankRow(page.constScanLine(y + run), bytes))
                ++run;
        const int kept = compress && run > 1 && static_cast<uint32_t>(run) >= s.whitespaceFrom
                             ? static_cast<int>(std::min<uint32_t>(s.whitespaceTo, static_cast<uint32_t>(run)))
                             : run;
        for (int i = 0; i < kept; ++i)
            for (int copy = 0; copy < (doubled ? 2 : 1); ++copy)
                plan.push_back(y + i);
        y += run;
    }
    return plan;
}

// A pixel pair becomes one pixel, black when either was.
void HalveRow(const uchar* from, uchar* to, int width)
{
    for (int x = 0; x + 1 < width; x += 2) {
        const bool black = (from[x >> 3] & (0x80 >> (x & 7))) || (from[(x + 1) >> 3] & (0x80 >> ((x + 1) & 7)));
        if (black)
            to[x >> 4] |= static_cast<uchar>(0x80 >> ((x >> 1) & 7));
    }
}

} // namespace

int ShapeDocumentPage(const UnpackState& s, uint16_t flags, bool invert, QImage& page)
{
    const bool standard = !(flags & kApfFine);
    const bool doubled = standard && (s.options & kUnpackDoubleHeight);
    const bool halved = standard && !doubled && (s.options & kUnpackHalfWidth);
    const bool compress = s.whitespaceFrom != 0 && s.whitespaceTo != 0;
    if (doubled || halved || compress) {
        const std::vector<int> rows = RowPlan(page, s, doubled);
        const int width = halved ? page.width() / 2 : page.width();
        QImage shaped = MakeFaxDocumentBitmap(std::max(width, 1), static_cast<int>(rows.size()));
        if (rows.empty()) {
            page = QImage();
            return 0;
        }
        if (shaped.isNull())
            return kErrCantMakeBitmap;
        const qsizetype bytes = std::min(shaped.bytesPerLine(), page.bytesPerLine());
        for (std::size_t y = 0; y < rows.size(); ++y) {
            const uchar* from = page.constScanLine(rows[y]);
            uchar* to = shaped.scanLine(static_cast<int>(y));
            if (halved)
                HalveRow(from, to, page.width());
            else
                std::memcpy(to, from, static_cast<std::size_t>(bytes));
        }
        page = std::move(shaped);
    }
    if (invert) {
        const qsizetype bytes = page.sizeInBytes();
        uchar* bits = page.bits();
        for (qsizetype i = 0; i < bytes; ++i)
            bits[i] = static_cast<uchar>(~bits[i]);
        page.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    }
    if (s.horizMult != s.horizDiv || s.vertMult != s.vertDiv) {
        if (s.horizDiv == 0 || s.vertDiv == 0)
            return kErrCantMakeBitmap;
        const int64_t w = static_cast<int64_t>(s.horizMult) * page.width() / s.horizDiv;
        const int64_t h = static_cast<int64_t>(page.height()) * s.vertMult / s.vertDiv;
        if (!FaxPageWithinBounds(w, h))
            return kErrCantMakeBitmap;
        page = StretchMonoBitmap(page, static_cast<int>(w), static_cast<int>(h), invert);
        if (page.isNull())
            return kErrCantMakeBitmap;
    }
    return 0;
}

int UnpackDocumentPage(UnpackState& s, const std::string& fileName, int page, bool invert, int& width, int& height,
                       QImage& bitmap)
{
    width = height = 0;
    bitmap = QImage();
    s.pageNumber = page;
    std::unique_ptr<FaxDocument> document;
    if (const int rc = OpenFaxDocument(fileName, document))
        return rc;
    QImage image;
    FaxPageFormat format;
    if (const int rc = document->RenderPage(page < 1 ? 1 : page, image, format))
        return rc;
    s.pageHeader.bytes.fill(0);
    s.pageHeader.bytes[4] = static_cast<uint8_t>(format.flags & 0xFF);
    s.pageHeader.bytes[5] = static_cast<uint8_t>(format.flags >> 8);
    if (const int rc = ShapeDocumentPage(s, format.flags, invert, image))
        return rc;
    width = image.width();
    height = image.height();
    bitmap = std::move(image);
    return 0;
}
