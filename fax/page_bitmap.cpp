#include "fax/page_bitmap.h"

#include "fax/document_bitmap.h"
#include "fax/fax_document_kind.h"
#include "fax/kiv_errors.h"
#include "fax/page_raster.h"

namespace {

QImage MakeMonoImage(int width, int height, bool invert)
{
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull())
        return image;
    const QRgb white = qRgb(255, 255, 255);
    const QRgb black = qRgb(0, 0, 0);
    image.setColorTable(invert ? QList<QRgb>{black, white} : QList<QRgb>{white, black});
    return image;
}

QImage RasterToImage(const PageRaster& raster, bool invert)
{
    QImage image = MakeMonoImage(raster.width, raster.height, invert);
    if (image.isNull())
        return image;
    // One detach for the whole image, not one per scanLine() call.
    uchar* const bits = image.bits();
    for (int y = 0; y < raster.height; ++y)
        raster.CopyRow(y, bits + static_cast<std::size_t>(y) * image.bytesPerLine());
    return image;
}

} // namespace

QImage StretchMonoBitmap(const QImage& source, int width, int height, bool invert)
{
    QImage target = MakeMonoImage(width, height, invert);
    if (target.isNull())
        return target;
    target.fill(0);
    for (int y = 0; y < height; ++y) {
        const uchar* from = source.constScanLine(static_cast<int>(static_cast<int64_t>(y) * source.height() / height));
        uchar* to = target.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const int sx = static_cast<int>(static_cast<int64_t>(x) * source.width() / width);
            if (from[sx >> 3] & (0x80 >> (sx & 7)))
                to[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
        }
    }
    return target;
}

namespace {

int FinishBitmap(UnpackState& s, bool invert, int& width, int& height, QImage& bitmap)
{
    PageRaster raster;
    if (const int rc = RasterEndPage(s, raster))
        return rc;
    if (raster.height == 0)
        return 0;
    QImage image = RasterToImage(raster, invert);
    if (image.isNull())
        return kErrCantMakeBitmap;
    if (s.horizMult != s.horizDiv || s.vertMult != s.vertDiv) {
        if (s.horizDiv == 0 || s.vertDiv == 0)
            return kErrCantMakeBitmap;
        const int64_t w = static_cast<int64_t>(s.horizMult) * image.width() / s.horizDiv;
        const int64_t h = static_cast<int64_t>(image.height()) * s.vertMult / s.vertDiv;
        if (w <= 0 || h <= 0 || w > 32767 || h > 32767)
            return kErrCantMakeBitmap;
        image = StretchMonoBitmap(image, static_cast<int>(w), static_cast<int>(h), invert);
        if (image.isNull())
            return kErrCantMakeBitmap;
    }
    width = image.width();
    height = image.height();
    bitmap = std::move(image);
    return 0;
}

} // namespace

int UnpackPageToBitmap(UnpackState& s, const std::string& fileName, int page, bool invert,
                       int& width, int& height, QImage& bitmap)
{
    const FaxDocumentKind kind = FaxDocumentKindOfFile(fileName);
    if (kind == FaxDocumentKind::Tiff || kind == FaxDocumentKind::Pdf)
        return UnpackDocumentPage(s, fileName, page, invert, width, height, bitmap);
    width = height = 0;
    bitmap = QImage();
    s.pageNumber = page;
    ApfPageHeader pageHeader;
    if (const int rc = ApfFindPageHeader(fileName, page < 1 ? 1 : page, pageHeader))
        return rc;
    s.pageHeader = pageHeader;
    if (const int rc = RasterStartPage(s))
        return rc;

    s.savedLineCallback = std::move(s.lineCallback);
    s.lineCallback = [](UnpackState& state, int kind, const uint8_t* data, int length, int) {
        return kind == kLineData ? RasterAddLine(state, data, length) : 0;
    };
    s.invert = invert;
    int rc = DecodeApfPage(s, fileName, page);
    if (rc == 0)
        rc = FinishBitmap(s, invert, width, height, bitmap);
    s.lineCallback = std::move(s.savedLineCallback);
    s.savedLineCallback = nullptr;
    s.invert = false;
    RasterReleaseRows(s, rc == 0);
    if (rc != 0) {
        width = height = 0;
        bitmap = QImage();
    }
    return rc;
}
