#include "fax/fax_document.h"

#include "fax/apf_document.h"
#include "fax/kiv_errors.h"
#include "fax/pdf_document.h"
#include "fax/tiff_document.h"

#include <sys/stat.h>

#include <cstring>

int OpenFaxDocument(const std::string& fileName, std::unique_ptr<FaxDocument>& document)
{
    document.reset();
    struct stat info;
    if (::stat(fileName.c_str(), &info) != 0)
        return kErrFileNotFound;
    if (!S_ISREG(info.st_mode))
        return kErrFaxBadFormat;
    switch (FaxDocumentKindOfFile(fileName)) {
    case FaxDocumentKind::Apf:
        return OpenApfDocument(fileName, document);
    case FaxDocumentKind::Tiff:
        return OpenTiffDocument(fileName, document);
    case FaxDocumentKind::Pdf:
        return OpenPdfDocument(fileName, document);
    case FaxDocumentKind::Unknown:
        break;
    }
    return kErrFaxBadFormat;
}

int FaxDocumentPageCount(const std::string& fileName, int& pages)
{
    pages = 0;
    std::unique_ptr<FaxDocument> document;
    if (const int rc = OpenFaxDocument(fileName, document))
        return rc;
    pages = document->PageCount();
    return 0;
}

int FaxDocumentPageFlags(const std::string& fileName, int page, uint16_t& flags)
{
    flags = 0;
    std::unique_ptr<FaxDocument> document;
    if (const int rc = OpenFaxDocument(fileName, document))
        return rc;
    FaxPageFormat format;
    if (const int rc = document->PageFormat(page, format))
        return rc;
    flags = format.flags;
    return 0;
}

uint16_t FaxFlagsForResolution(int width, double xDpi, double yDpi)
{
    uint16_t flags = 0;
    if (!(xDpi > 0 && yDpi > 0 && yDpi * 1.5 < xDpi))
        flags |= kApfFine;
    if (width > 1728)
        flags |= kApfWide;
    return flags;
}

bool FaxPageWithinBounds(int64_t width, int64_t height, int64_t maxPixels)
{
    return width > 0 && height > 0 && width <= kMaxFaxPageSide && height <= kMaxFaxPageSide &&
           width * height <= maxPixels;
}

QImage MakeFaxDocumentBitmap(int width, int height)
{
    if (!FaxPageWithinBounds(width, height))
        return QImage();
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull())
        return image;
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    return image;
}

QImage DitherToFaxBitmap(const QImage& image)
{
    if (image.isNull() || !FaxPageWithinBounds(image.width(), image.height()))
        return QImage();
    QImage mono = image.convertToFormat(QImage::Format_Mono, Qt::MonoOnly | Qt::DiffuseDither);
    if (mono.isNull() || mono.colorCount() < 2)
        return QImage();
    // Qt picks the colour table; set bits are made black.
    if (qGray(mono.color(1)) > qGray(mono.color(0))) {
        const qsizetype bytes = mono.sizeInBytes();
        uchar* bits = mono.bits();
        for (qsizetype i = 0; i < bytes; ++i)
            bits[i] = static_cast<uchar>(~bits[i]);
    }
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    return mono;
}
