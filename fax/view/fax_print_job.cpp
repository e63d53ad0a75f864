#include "fax/view/fax_print_job.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>

#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/stat.h>

namespace {

// What the spool file holds, one record after another.
enum TSpoolRecord : quint8 { srText = 1, srLine, srImage, srSheet };

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

// One-bit images go into the spool file as their rows, compressed: fax
// pages are mostly white. (QImage's own stream format goes through an image
// reader that refuses long pages.)
void WriteBitmap(QDataStream& out, const QImage& image)
{
    const QByteArray rows(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
    out << qint32(image.width()) << qint32(image.height()) << qint32(image.bytesPerLine()) << qCompress(rows, 1);
}

QImage ReadBitmap(QDataStream& in)
{
    qint32 width = 0, height = 0, stride = 0;
    QByteArray packed;
    in >> width >> height >> stride >> packed;
    QImage image(width, height, QImage::Format_Mono);
    const QByteArray rows = qUncompress(packed);
    if (image.isNull() || image.bytesPerLine() != stride || rows.size() != image.sizeInBytes())
        return QImage();
    std::memcpy(image.bits(), rows.constData(), static_cast<std::size_t>(rows.size()));
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    return image;
}

// The PDF file a printer writes, made under a temporary name in the same
// folder and renamed over the wanted name only once complete, so that a
// failed job leaves any earlier file of that name as it was.
class TPdfOutput {
public:
    explicit TPdfOutput(QPrinter& printer) : printer_(printer), target_(printer.outputFileName()) {}
    ~TPdfOutput()
    {
        if (!target_.isEmpty())
            printer_.setOutputFileName(target_);
    }

    // Points the printer at the temporary file; false when it cannot be made.
    bool Open()
    {
        if (target_.isEmpty())
            return true;
        const QFileInfo target(target_);
        temp_.setFileTemplate(target.absoluteDir().filePath(QLatin1Char('.') + target.fileName() +
                                                            QStringLiteral(".XXXXXX")));
        if (!temp_.open())
            return false;
        temp_.close();
        temp_.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                             QFileDevice::ReadOther);
        printer_.setOutputFileName(temp_.fileName());
        return true;
    }

    bool Commit()
    {
        if (target_.isEmpty())
            return true;
        if (std::rename(QFile::encodeName(temp_.fileName()).constData(), QFile::encodeName(target_).constData()) != 0)
            return false;
        temp_.setAutoRemove(false);
        return true;
    }

private:
    QPrinter& printer_;
    const QString target_;
    QTemporaryFile temp_;
};

} // namespace

bool IsSameFile(const QString& a, const QString& b)
{
    struct stat first{}, second{};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

int TFaxPrintCanvas::TextHeight(const QString&) const
{
    // Ascent plus descent, the same for every text in one font.
    return QFontMetrics(font_, &printer_).height();
}

void TFaxPrintCanvas::TextRect(const QRect& clip, int x, int y, const QString& text)
{
    if (!spool_)
        return;
    *spool_ << quint8(srText) << clip << qint32(x) << qint32(y) << text << font_;
    drawn_ = true;
}

void TFaxPrintCanvas::Line(int x1, int y1, int x2, int y2)
{
    if (!spool_)
        return;
    *spool_ << quint8(srLine) << QLine(x1, y1, x2, y2);
    drawn_ = true;
}

void TFaxPrintCanvas::StretchImage(int x, int y, int width, int height, const QImage& image)
{
    if (!spool_ || image.isNull())
        return;
    *spool_ << quint8(srImage) << QRect(x, y, width, height);
    WriteBitmap(*spool_, OneBitImage(image));
    drawn_ = true;
}

bool TFaxPrintJob::Begin()
{
    Abort();
    auto file = std::make_unique<QTemporaryFile>(QDir::temp().filePath(QStringLiteral("pellimar-print-XXXXXX")));
    if (!file->open())
        return false;
    spoolFile_ = std::move(file);
    spool_.setDevice(spoolFile_.get());
    spool_.resetStatus();
    canvas_.spool_ = &spool_;
    canvas_.drawn_ = false;
    running_ = true;
    return true;
}

void TFaxPrintJob::NewPage()
{
    if (running_)
        spool_ << quint8(srSheet);
}

void TFaxPrintJob::Abort()
{
    running_ = false;
    canvas_.spool_ = nullptr;
    spool_.setDevice(nullptr);
    spoolFile_.reset(); // removes the spool file
}

bool TFaxPrintJob::End()
{
    if (!running_)
        return false;
    const bool printed = !canvas_.drawn_ || Print();
    Abort();
    return printed;
}

bool TFaxPrintJob::Print()
{
    if (spool_.status() != QDataStream::Ok || !spoolFile_->flush() || !spoolFile_->seek(0))
        return false; // the spool file could not be written: the disk is full
    QDataStream in(spoolFile_.get());
    std::optional<TPdfOutput> output;
    if (!preview_) {
        output.emplace(printer_);
        if (!output->Open())
            return false;
    }
    QPainter painter;
    if (!painter.begin(&printer_))
        return false;
    const bool replayed = Replay(in, painter);
    return painter.end() && replayed && (!output || output->Commit());
}

bool TFaxPrintJob::Replay(QDataStream& in, QPainter& painter)
{
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    while (!in.atEnd()) {
        quint8 record = 0;
        in >> record;
        if (record == srText) {
            QRect clip;
            qint32 x = 0, y = 0;
            QString text;
            QFont font;
            in >> clip >> x >> y >> text >> font;
            painter.save();
            painter.setClipRect(clip);
            painter.setFont(font);
            painter.drawText(QPoint(x, y + painter.fontMetrics().ascent()), text);
            painter.restore();
        } else if (record == srLine) {
            QLine line;
            in >> line;
            painter.drawLine(line);
        } else if (record == srImage) {
            QRect target;
            in >> target;
            const QImage image = ReadBitmap(in);
            if (image.isNull())
                return false;
            painter.drawImage(target, image);
        } else if (record == srSheet) {
            if (!printer_.newPage())
                return false;
        }
        if (in.status() != QDataStream::Ok)
            return false;
    }
    return true;
}
