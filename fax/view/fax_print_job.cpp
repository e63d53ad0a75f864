#include "fax/view/fax_print_job.h"

#include <QFontMetrics>

namespace {

// QPainter's PDF output (and so a CUPS job) keeps a one-bit image whose
// table is black then white as a one-bit image; any other bitmap becomes a
// JPEG many times the size, and blurred. The decoded pages come that way.
QImage OneBitImage(const QImage& page)
{
    const QList<QRgb> table = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    if (page.format() == QImage::Format_Mono && page.colorTable() == table)
        return page;
    return page.convertToFormat(QImage::Format_Mono, table);
}

} // namespace

int TFaxPrintCanvas::TextHeight(const QString&) const
{
    // Ascent plus descent, the same for every text in one font.
    return QFontMetrics(font_, &printer_).height();
}

void TFaxPrintCanvas::TextRect(const QRect& clip, int x, int y, const QString& text)
{
    if (!sheets_)
        return;
    sheets_->back().push_back([clip, x, y, text, font = font_](QPainter& painter) {
        painter.save();
        painter.setClipRect(clip);
        painter.setFont(font);
        painter.drawText(QPoint(x, y + painter.fontMetrics().ascent()), text);
        painter.restore();
    });
}

void TFaxPrintCanvas::Line(int x1, int y1, int x2, int y2)
{
    if (sheets_)
        sheets_->back().push_back([=](QPainter& painter) { painter.drawLine(x1, y1, x2, y2); });
}

void TFaxPrintCanvas::StretchImage(int x, int y, int width, int height, const QImage& image)
{
    if (!sheets_ || image.isNull())
        return;
    sheets_->back().push_back([=, bitmap = OneBitImage(image)](QPainter& painter) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QRect(x, y, width, height), bitmap);
    });
}

void TFaxPrintJob::Begin()
{
    sheets_.assign(1, {});
    canvas_.sheets_ = &sheets_;
    running_ = true;
}

void TFaxPrintJob::NewPage()
{
    if (running_)
        sheets_.emplace_back();
}

void TFaxPrintJob::Abort()
{
    running_ = false;
    canvas_.sheets_ = nullptr;
    sheets_.clear();
}

bool TFaxPrintJob::End()
{
    if (!running_)
        return false;
    const std::vector<std::vector<TFaxPrintCanvas::Step>> sheets = std::move(sheets_);
    Abort();
    if (sheets.size() == 1 && sheets.front().empty())
        return true;
    QPainter painter;
    if (!painter.begin(&printer_))
        return false;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        if (i > 0 && !printer_.newPage()) {
            painter.end();
            return false;
        }
        for (const TFaxPrintCanvas::Step& step : sheets[i])
            step(painter);
    }
    return painter.end();
}
