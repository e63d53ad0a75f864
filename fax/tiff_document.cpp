#include "fax/tiff_document.h"

#include "fax/kiv_errors.h"

#include <tiffio.h>

namespace {

// What libtiff may allocate at once for a strip, a tile or a tag array.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t(64) << 20;

// libtiff's complaints about a damaged file are not printed; the caller
// gets the bad-format code instead.
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

double DotsPerInch(float value, uint16_t unit)
{
    if (!(value > 0) || value > 100000)
        return 0;
    return unit == RESUNIT_CENTIMETER ? value * 2.54 : value;
}

class TiffDocument : public FaxDocument {
public:
    TiffDocument(TiffHandle tif, int pages) : tif_(std::move(tif)), pages_(pages) {}

    FaxDocumentKind Kind() const override { return FaxDocumentKind::Tiff; }
    int PageCount() const override { return pages_; }

    int PageFormat(int page, FaxPageFormat& format) override
    {
        format = FaxPageFormat{};
        if (page < 1)
            page = 1;
        if (page > pages_ || !TIFFSetDirectory(tif_.get(), static_cast<tdir_t>(page - 1)))
            return kErrFaxBadFormat;
        uint32_t width = 0;
        uint32_t height = 0;
        if (!TIFFGetField(tif_.get(), TIFFTAG_IMAGEWIDTH, &width) ||
            !TIFFGetField(tif_.get(), TIFFTAG_IMAGELENGTH, &height))
            return kErrFaxBadFormat;
        if (!FaxPageWithinBounds(width, height))
            return kErrFaxBadFormat;
        float xres = 0;
        float yres = 0;
        uint16_t unit = RESUNIT_INCH;
        TIFFGetField(tif_.get(), TIFFTAG_XRESOLUTION, &xres);
        TIFFGetField(tif_.get(), TIFFTAG_YRESOLUTION, &yres);
        TIFFGetFieldDefaulted(tif_.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
        format.width = static_cast<int>(width);
        format.height = static_cast<int>(height);
        format.xDpi = DotsPerInch(xres, unit);
        format.yDpi = DotsPerInch(yres, unit);
        if (unit == RESUNIT_NONE && format.xDpi > 0 && format.yDpi > 0) {
            // Only the aspect is known: take fax columns at 204 per inch.
            format.yDpi = 204.0 * format.yDpi / format.xDpi;
            format.xDpi = 204.0;
        }
        if (format.xDpi <= 0 || format.yDpi <= 0)
            format.xDpi = format.yDpi = std::max(format.xDpi, format.yDpi) > 0 ? std::max(format.xDpi, format.yDpi)
                                                                                  : 200.0;
        format.flags = FaxFlagsForResolution(format.width, format.xDpi, format.yDpi);
        return 0;
    }

    int RenderPage(int page, QImage& bitmap, FaxPageFormat& format) override
    {
        bitmap = QImage();
        if (const int rc = PageFormat(page, format))
            return rc;
        TIFF* tif = tif_.get();
        uint16_t bits = 1;
        uint16_t samples = 1;
        uint16_t photometric = PHOTOMETRIC_MINISWHITE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
            photometric = PHOTOMETRIC_MINISWHITE;
        const bool bilevel = bits == 1 && samples == 1 && !TIFFIsTiled(tif) &&
                             (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
        const int rc = bilevel ? ReadBilevel(format, photometric == PHOTOMETRIC_MINISBLACK, bitmap)
                               : ReadColour(format, bitmap);
        if (rc != 0)
            bitmap = QImage();
        return rc;
    }

private:
    int ReadBilevel(const FaxPageFormat& format, bool minIsBlack, QImage& bitmap)
    {
        QImage image = MakeFaxDocumentBitmap(format.width, format.height);
        if (image.isNull())
            return kErrOutOfMemory;
        if (TIFFScanlineSize(tif_.get()) > image.bytesPerLine())
            return kErrFaxBadFormat;
        uchar* const rows = image.bits();
        const qsizetype stride = image.bytesPerLine();
        for (int y = 0; y < format.height; ++y)
            if (TIFFReadScanline(tif_.get(), rows + y * stride, static_cast<uint32_t>(y), 0) < 0)
                return kErrFaxBadFormat;
        if (minIsBlack)
            for (qsizetype i = 0; i < image.sizeInBytes(); ++i)
                rows[i] = static_cast<uchar>(~rows[i]);
        // Bits past the page's width in the last byte of a row stay white.
        const int tail = format.width % 8;
        if (tail != 0) {
            const uchar mask = static_cast<uchar>(0xFF << (8 - tail));
            for (int y = 0; y < format.height; ++y)
                rows[y * stride + format.width / 8] &= mask;
        }
        bitmap = std::move(image);
        return 0;
    }

    int ReadColour(const FaxPageFormat& format, QImage& bitmap)
    {
        char message[1024] = {};
        if (!FaxPageWithinBounds(format.width, format.height, kMaxColourPagePixels) ||
            !TIFFRGBAImageOK(tif_.get(), message))
            return kErrFaxBadFormat;
        // libtiff's ABGR words are the bytes R, G, B, A in memory.
        QImage rgba(format.width, format.height, QImage::Format_RGBA8888);
        if (rgba.isNull() || rgba.bytesPerLine() != qsizetype(format.width) * 4)
            return kErrOutOfMemory;
        if (!TIFFReadRGBAImageOriented(tif_.get(), static_cast<uint32_t>(format.width),
                                       static_cast<uint32_t>(format.height), reinterpret_cast<uint32_t*>(rgba.bits()),
                                       ORIENTATION_TOPLEFT, 0))
            return kErrFaxBadFormat;
        bitmap = DitherToFaxBitmap(rgba);
        return bitmap.isNull() ? kErrOutOfMemory : 0;
    }

    TiffHandle tif_;
    int pages_;
};

} // namespace

int OpenTiffDocument(const std::string& fileName, std::unique_ptr<FaxDocument>& document)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return kErrOutOfMemory;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
    // "m": read, never map the file, so that a file cut short meanwhile
    // gives a read error rather than a bus error.
    TiffHandle tif(TIFFOpenExt(fileName.c_str(), "rm", options));
    TIFFOpenOptionsFree(options);
    if (!tif)
        return kErrFaxBadFormat;
    const tdir_t pages = TIFFNumberOfDirectories(tif.get());
    if (pages < 1 || pages > kMaxFaxDocumentPages)
        return kErrFaxBadFormat;
    document = std::make_unique<TiffDocument>(std::move(tif), static_cast<int>(pages));
    return 0;
}
