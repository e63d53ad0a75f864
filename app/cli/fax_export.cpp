#include "app/cli/fax_export.h"

#include "fax/apf_document.h"
#include "fax/fax_document.h"
#include "fax/fax_unpacker.h"
#include "fax/kiv_errors.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cstring>
#include <exception>

namespace {

constexpr double kMetresPerInch = 0.0254;
constexpr double kBlankPageInches = 11.0; // a page without any line

// What a page stands for on paper: its full line width and resolution. A
// standard-resolution page decoded with doubled rows has fine rows.
struct PageInfo {
    bool fine = false;
    int fullWidth = 1728;
    double xDpi = kApfHorizontalDpi;
    double yDpi = kApfFineDpi; // of the rows as coded
    double DoubledDpi() const { return fine ? yDpi : yDpi * 2; }
};

PageInfo ReadPageInfo(const QString& fax, int page)
{
    std::unique_ptr<FaxDocument> document;
    KivErrorCheck(nullptr, OpenFaxDocument(QFile::encodeName(fax).toStdString(), document));
    FaxPageFormat format;
    KivErrorCheck(nullptr, document->PageFormat(page, format));
    return {(format.flags & kApfFine) != 0, format.width, format.xDpi, format.yDpi};
}

// The decoded page (an APF page is trimmed to its used width; set bits white)
// on a white page of the full line width.
QImage FullWidthPage(const QImage& decoded, int fullWidth, double horizontalDpi, double verticalDpi)
{
    const int height = decoded.isNull() ? static_cast<int>(kBlankPageInches * verticalDpi) : decoded.height();
    QImage page(fullWidth, height, QImage::Format_Mono);
    if (page.isNull())
        throw std::bad_alloc();
    page.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    page.fill(1);
    if (!decoded.isNull()) {
        const QImage source = decoded.convertToFormat(QImage::Format_Mono, page.colorTable());
        const int bytes = (std::min(source.width(), fullWidth) + 7) / 8;
        for (int y = 0; y < height; ++y)
            std::memcpy(page.scanLine(y), source.constScanLine(y), bytes);
    }
    page.setDotsPerMeterX(qRound(horizontalDpi / kMetresPerInch));
    page.setDotsPerMeterY(qRound(verticalDpi / kMetresPerInch));
    return page;
}

QString PagePath(const QString& pattern, int page)
{
    if (pattern.contains(QLatin1String("%d")))
        return QString(pattern).replace(QLatin1String("%d"), QString::number(page));
    const QString lower = pattern.toLower();
    if (lower.endsWith(QLatin1String(".png")) || lower.endsWith(QLatin1String(".pbm")))
        return pattern.left(pattern.size() - 4) + QLatin1Char('-') + QString::number(page) + pattern.right(4);
    return pattern + QLatin1Char('-') + QString::number(page) + QLatin1String(".png");
}

QByteArray ImageFormat(const QString& path)
{
    return path.toLower().endsWith(QLatin1String(".pbm")) ? QByteArray("PBM") : QByteArray("PNG");
}

int ExportImages(TKivFaxUnpacker& unpacker, int pages, const QString& pattern, QTextStream& out, QTextStream& err)
{
    unpacker.SetAutoScaleMode(asDoubleHeight);
    for (int page = 1; page <= pages; ++page) {
        const PageInfo info = ReadPageInfo(unpacker.InFileName(), page);
        const QImage image = FullWidthPage(unpacker.UnpackPage(page), info.fullWidth, info.xDpi, info.DoubledDpi());
        const QString path = PagePath(pattern, page);
        QImageWriter writer(path, ImageFormat(path));
        if (!writer.write(image)) {
            err << "pellimar: cannot write " << path << ": " << writer.errorString() << Qt::endl;
            return 1;
        }
        out << path << Qt::endl;
    }
    return 0;
}

int ExportPdf(TKivFaxUnpacker& unpacker, int pages, const QString& path, QTextStream& out, QTextStream& err)
{
    unpacker.SetAutoScaleMode(asNone);
    QPdfWriter writer(path);
    writer.setCreator(QStringLiteral("Pellimar"));
    const PageInfo first = ReadPageInfo(unpacker.InFileName(), 1);
    const double deviceDpi = first.xDpi;
    writer.setResolution(qRound(deviceDpi));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    for (int page = 1; page <= pages; ++page) {
        const PageInfo info = ReadPageInfo(unpacker.InFileName(), page);
        const QImage image = FullWidthPage(unpacker.UnpackPage(page), info.fullWidth, info.xDpi, info.yDpi);
        const QSizeF inches(image.width() / info.xDpi, image.height() / info.yDpi);
        writer.setPageSize(QPageSize(inches, QPageSize::Inch, QString(), QPageSize::ExactMatch));
        if (page == 1 ? !painter.begin(&writer) : !writer.newPage()) {
            err << "pellimar: cannot write " << path << Qt::endl;
            return 1;
        }
        // Device units are 1/deviceDpi inch: the image fills the page.
        painter.drawImage(QRectF(0, 0, inches.width() * deviceDpi, inches.height() * deviceDpi), image);
    }
    if (!painter.end()) {
        err << "pellimar: cannot write " << path << Qt::endl;
        return 1;
    }
    out << path << Qt::endl;
    return 0;
}

} // namespace

int RunFaxExport(const QStringList& args, QTextStream& out, QTextStream& err)
{
    if (args.size() != 2 || args[0].isEmpty() || args[1].isEmpty()) {
        err << "usage: pellimar --export FAX.apf OUT.pdf|OUT.png|OUT.pbm" << Qt::endl;
        return 2;
    }
    const QString& fax = args[0];
    const QString& target = args[1];
    try {
        int pages = 0;
        KivErrorCheck(nullptr, FaxDocumentPageCount(QFile::encodeName(fax).toStdString(), pages));
        if (pages == 0) {
            err << "pellimar: " << fax << ": the fax has no pages" << Qt::endl;
            return 1;
        }
        TKivFaxUnpacker unpacker;
        unpacker.SetOptions(0);
        unpacker.SetInFileName(fax);
        if (target.toLower().endsWith(QLatin1String(".pdf")))
            return ExportPdf(unpacker, pages, target, out, err);
        return ExportImages(unpacker, pages, target, out, err);
    } catch (const std::bad_alloc&) {
        err << "pellimar: " << fax << ": " << QString::fromLatin1(KivErrorMessage(kErrOutOfMemory).c_str()) << Qt::endl;
    } catch (const std::exception& e) {
        err << "pellimar: " << fax << ": " << QString::fromLatin1(e.what()) << Qt::endl;
    }
    return 1;
}
