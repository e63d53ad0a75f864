#include "fax/pdf_document.h"

#include "fax/kiv_errors.h"
#include "fax/pdf_images.h"

#include <poppler-qt6.h>

#include <QDeadlineTimer>
#include <QFile>

#include <cmath>
#include <mutex>

namespace {

constexpr double kVectorPageDpi = 200.0;
constexpr double kMinImageDpi = 50.0;
constexpr double kMaxImageDpi = 600.0;
// Files larger than this are not searched for their images' sizes: every
// page then renders at 200 dots per inch.
constexpr qint64 kMaxScannedFile = qint64(64) << 20;
// Pages whose text is read to tell image pages from typed ones.
constexpr int kMaxPagesTextRead = 200;
// A page that has not rendered in this time is given up.
constexpr qint64 kRenderMilliseconds = 20000;

void QuietPoppler()
{
    static std::once_flag once;
    std::call_once(once, [] { Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant()); });
}

bool RenderExpired(const QVariant& deadline)
{
    return QDeadlineTimer(deadline.toLongLong(), Qt::PreciseTimer).hasExpired();
}

struct RenderPlan {
    double xDpi = kVectorPageDpi;
    double yDpi = kVectorPageDpi;
    int width = 0;
    int height = 0;
    bool faxImage = false; // the page is one bilevel fax image
};

// A rendered fax image page back to black and white: Poppler's image
// smoothing leaves grey only along edges, where dithering would add noise.
QImage ThresholdToFaxBitmap(const QImage& rendered)
{
    const QImage grey = rendered.convertToFormat(QImage::Format_Grayscale8);
    QImage mono = MakeFaxDocumentBitmap(grey.width(), grey.height());
    if (grey.isNull() || mono.isNull())
        return QImage();
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* from = grey.constScanLine(y);
        uchar* to = mono.scanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            if (from[x] < 128)
                to[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
    }
    return mono;
}

class PdfDocument : public FaxDocument {
public:
    PdfDocument(std::unique_ptr<Poppler::Document> pdf, std::vector<PdfImageSize> images)
        : pdf_(std::move(pdf)), pages_(pdf_->numPages()), images_(PageImages(std::move(images)))
    {
        pdf_->setRenderHint(Poppler::Document::Antialiasing);
        pdf_->setRenderHint(Poppler::Document::TextAntialiasing);
    }

    FaxDocumentKind Kind() const override { return FaxDocumentKind::Pdf; }
    int PageCount() const override { return pages_; }

    int PageFormat(int page, FaxPageFormat& format) override
    {
        format = FaxPageFormat{};
        std::unique_ptr<Poppler::Page> pdfPage;
        RenderPlan plan;
        if (const int rc = Plan(page, pdfPage, plan))
            return rc;
        format.width = plan.width;
        format.height = plan.height;
        format.xDpi = plan.xDpi;
        format.yDpi = plan.yDpi;
        format.flags = FaxFlagsForResolution(plan.width, plan.xDpi, plan.yDpi);
        return 0;
    }

    int RenderPage(int page, QImage& bitmap, FaxPageFormat& format) override
    {
        bitmap = QImage();
        std::unique_ptr<Poppler::Page> pdfPage;
        RenderPlan plan;
        if (const int rc = Plan(page, pdfPage, plan))
            return rc;
        const QDeadlineTimer deadline(kRenderMilliseconds, Qt::PreciseTimer);
        const QImage rendered = pdfPage->renderToImage(plan.xDpi, plan.yDpi, 0, 0, plan.width, plan.height,
                                                       Poppler::Page::Rotate0, nullptr, nullptr, RenderExpired,
                                                       QVariant::fromValue(deadline.deadline()));
        if (rendered.isNull() || deadline.hasExpired())
            return kErrFaxBadFormat;
        bitmap = plan.faxImage ? ThresholdToFaxBitmap(rendered) : DitherToFaxBitmap(rendered);
        if (bitmap.isNull())
            return kErrOutOfMemory;
        format.width = bitmap.width();
        format.height = bitmap.height();
        format.xDpi = plan.xDpi;
        format.yDpi = plan.yDpi;
        format.flags = FaxFlagsForResolution(format.width, plan.xDpi, plan.yDpi);
        return 0;
    }

private:
    // The image of each page that carries one alone, matched in file order:
    // every page when there are as many images as pages, else the pages
    // without text.
    std::vector<PdfImageSize> PageImages(std::vector<PdfImageSize> images) const
    {
        std::vector<PdfImageSize> byPage(static_cast<std::size_t>(pages_));
        if (images.size() == byPage.size())
            return images;
        if (images.empty() || images.size() > byPage.size() || pages_ > kMaxPagesTextRead)
            return byPage;
        std::vector<int> untyped;
        for (int i = 0; i < pages_; ++i)
            if (const std::unique_ptr<Poppler::Page> page = pdf_->page(i); page && page->text(QRectF()).trimmed().isEmpty())
                untyped.push_back(i);
        if (untyped.size() == images.size())
            for (std::size_t i = 0; i < untyped.size(); ++i)
                byPage[static_cast<std::size_t>(untyped[i])] = images[i];
        return byPage;
    }

    int Plan(int page, std::unique_ptr<Poppler::Page>& pdfPage, RenderPlan& plan) const
    {
        if (page < 1)
            page = 1;
        if (page > pages_)
            return kErrFaxBadFormat;
        pdfPage = pdf_->page(page - 1);
        if (!pdfPage)
            return kErrFaxBadFormat;
        const QSizeF points = pdfPage->pageSizeF();
        if (!(points.width() > 0 && points.height() > 0))
            return kErrFaxBadFormat;
        PdfImageSize image = images_[static_cast<std::size_t>(page - 1)];
        const Poppler::Page::Orientation turn = pdfPage->orientation();
        if (turn == Poppler::Page::Landscape || turn == Poppler::Page::Seascape)
            std::swap(image.width, image.height);
        const double xDpi = image.width * 72.0 / points.width();
        const double yDpi = image.height * 72.0 / points.height();
        auto sensible = [](double dpi) { return dpi >= kMinImageDpi && dpi <= kMaxImageDpi; };
        if (image.width > 0 && sensible(xDpi) && sensible(yDpi)) {
            plan = {xDpi, yDpi, image.width, image.height, true};
        } else {
            plan = RenderPlan{};
            const double width = std::ceil(points.width() * kVectorPageDpi / 72.0 - 0.01);
            const double height = std::ceil(points.height() * kVectorPageDpi / 72.0 - 0.01);
            if (width > kMaxFaxPageSide || height > kMaxFaxPageSide)
                return kErrFaxBadFormat;
            plan.width = static_cast<int>(width);
            plan.height = static_cast<int>(height);
        }
        return FaxPageWithinBounds(plan.width, plan.height, kMaxColourPagePixels) ? 0 : kErrFaxBadFormat;
    }

    std::unique_ptr<Poppler::Document> pdf_;
    int pages_;
    std::vector<PdfImageSize> images_;
};

} // namespace

int OpenPdfDocument(const std::string& fileName, std::unique_ptr<FaxDocument>& document)
{
    QuietPoppler();
    const QString name = QFile::decodeName(QByteArray::fromStdString(fileName));
    std::unique_ptr<Poppler::Document> pdf = Poppler::Document::load(name);
    if (!pdf || pdf->isLocked())
        return kErrFaxBadFormat;
    const int pages = pdf->numPages();
    if (pages < 1 || pages > kMaxFaxDocumentPages)
        return kErrFaxBadFormat;
    std::vector<PdfImageSize> images;
    QFile file(name);
    if (file.size() <= kMaxScannedFile && file.open(QIODevice::ReadOnly))
        images = ScanPdfImageSizes(file.readAll(), static_cast<std::size_t>(pages) + 1);
    document = std::make_unique<PdfDocument>(std::move(pdf), std::move(images));
    return 0;
}
