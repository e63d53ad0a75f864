#include "fax/view/fax_printer.h"

#include "fax/apf_file.h"
#include "fax/event_pump.h"
#include "fax/fax_document.h"
#include "fax/kiv_errors.h"
#include "fax/view/fax_printer_texts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPrintDialog>

#include <algorithm>
#include <new>

namespace {

// The first component of type T among the owner's, depth first.
template <typename T>
T* FirstComponent(QObject* owner)
{
    if (!owner)
        return nullptr;
    const QList<T*> found = owner->findChildren<T*>(); // depth first, in creation order
    return found.isEmpty() ? nullptr : found.first();
}

QFont HalvedFont(QFont font)
{
    if (font.pointSize() > 0)
        font.setPointSize(std::max(1, font.pointSize() / 2));
    else if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, font.pixelSize() / 2));
    return font;
}

} // namespace

QString FaxPrintStatusText(int status)
{
    static const char* const kTexts[] = {"Idle", "Composing", "Rendering", "Submitting", "Converting"};
    return status >= 0 && status <= kFaxPrintConverting ? QString::fromLatin1(kTexts[status]) : QString();
}

TKivCustomFaxPrinter::TKivCustomFaxPrinter(QObject* owner) : QObject(owner)
{
    SetCaption(QStringLiteral("Orvo Fax Printer"));
    header_.SetCaption(QStringLiteral("FILE: $F"));
    header_.SetEnabled(true);
    footer_.SetCaption(QStringLiteral("PAGE: $P of $N"));
    footer_.SetEnabled(true);
    if (auto* display = FirstComponent<TKivAbstractFaxPrinterStatus>(owner))
        SetStatusDisplay(display);
    if (auto* log = FirstComponent<TKivCustomFaxPrinterLog>(owner))
        SetFaxPrinterLog(log);
}

TKivCustomFaxPrinter::~TKivCustomFaxPrinter() = default;

void TKivCustomFaxPrinter::SetFileName(const QString& fileName)
{
    if (fileName == fileName_)
        return;
    fileName_ = fileName;
    unpacker_.SetInFileName(fileName);
    pageCount_ = static_cast<uint16_t>(unpacker_.PageCount());
    // A file without pages has no first page to take flags from.
    fine_ = pageCount_ > 0 && unpacker_.FineResolution();
    wide_ = pageCount_ > 0 && unpacker_.WidePage();
    dialogMin_ = pageCount_ > 0 ? 1 : 0;
    dialogMax_ = pageCount_;
    firstPage_ = static_cast<uint16_t>(dialogMin_);
    lastPage_ = pageCount_;
}

void TKivCustomFaxPrinter::SetStatusDisplay(TKivAbstractFaxPrinterStatus* display)
{
    statusDisplay_ = display;
    if (display)
        display->SetFaxPrinter(this);
}

void TKivCustomFaxPrinter::SetFaxPrinterLog(TKivCustomFaxPrinterLog* log)
{
    log_ = log;
    if (log)
        log->SetFaxPrinter(this);
}

void TKivCustomFaxPrinter::OfferComponent(TKivAbstractFaxPrinterStatus* display)
{
    if (QObject* owner = display->parent())
        for (TKivCustomFaxPrinter* printer : owner->findChildren<TKivCustomFaxPrinter*>())
            if (!printer->statusDisplay_)
                printer->SetStatusDisplay(display);
}

void TKivCustomFaxPrinter::OfferComponent(TKivCustomFaxPrinterLog* log)
{
    if (QObject* owner = log->parent())
        for (TKivCustomFaxPrinter* printer : owner->findChildren<TKivCustomFaxPrinter*>())
            if (!printer->log_)
                printer->SetFaxPrinterLog(log);
}

bool TKivCustomFaxPrinter::RunPrintDialog(QWidget* parent)
{
    QPrintDialog dialog(&printer_, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setMinMax(dialogMin_, dialogMax_);
    dialog.setFromTo(dialogMin_, dialogMax_);
    dialog.setPrintRange(QAbstractPrintDialog::AllPages);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const bool range = dialog.printRange() == QAbstractPrintDialog::PageRange;
    firstPage_ = static_cast<uint16_t>(range ? dialog.fromPage() : dialogMin_);
    lastPage_ = static_cast<uint16_t>(range ? dialog.toPage() : dialogMax_);
    return true;
}

void TKivCustomFaxPrinter::Pump() { PumpPendingEvents(); }

void TKivCustomFaxPrinter::FireStatus(int status)
{
    if (OnFaxPrintStatus)
        OnFaxPrintStatus(this, status);
}

void TKivCustomFaxPrinter::SetProgressStatus(uint8_t status)
{
    if (status != status_) {
        status_ = status;
        FireStatus(status);
        if (statusDisplay_ && statusDisplay_->Visible()) {
            try {
                statusDisplay_->UpdateDisplay(false, false);
            } catch (...) {
                // A display that cannot refresh must not stop the printing.
            }
        }
    }
    Pump();
}

void TKivCustomFaxPrinter::Log(int code)
{
    if (OnFaxPrintLog)
        OnFaxPrintLog(this, code);
    if (log_)
        log_->UpdateLog(code, running_.fileName);
}

void TKivCustomFaxPrinter::EndIdle()
{
    status_ = kFaxPrintIdle;
    if (statusDisplay_)
        statusDisplay_->UpdateDisplay(false, true);
    FireStatus(kFaxPrintIdle);
    currentPage_ = 0;
}

void TKivCustomFaxPrinter::CheckDestination() const
{
    if (previewing_)
        return; // a preview goes to the screen
    const QString output = printer_.outputFileName();
    if (!output.isEmpty() && IsSameFile(output, fileName_))
        throw EFaxPrinterError("Cannot print to " + output.toStdString() + ": it is the fax being printed");
    if (output.isEmpty() && printer_.printerName().isEmpty())
        throw EFaxPrinterError("No printer is set up");
}

void TKivCustomFaxPrinter::PrintPages()
{
    // A second start from an event handler while printing would throw the
    // running job away.
    if (pageCount_ == 0 || job_.Running())
        return;
    CheckDestination();
    running_ = {fileName_, pageCount_, firstPage_, lastPage_};
    notPrinted_.clear();
    // A previous abort leaves uoAbort in the options; without clearing it
    // the next abort could not reach a page being decoded.
    unpacker_.SetOptions(unpacker_.Options() & ~uoAbort);
    status_ = kFaxPrintIdle;
    if (statusDisplay_)
        statusDisplay_->UpdateDisplay(true, false);
    FireStatus(kFaxPrintIdle);
    int printed = 0;
    try {
        Log(kFaxPrintStarted);
        if (!job_.Begin())
            throw EFaxPrinterError("Cannot make a spool file in " + QDir::tempPath().toStdString());
        for (int page = running_.first; page <= running_.last; ++page)
            if (!PrintPage(page, printed))
                return; // aborted: AbortPrint has logged and hidden the display
    } catch (...) {
        // Nothing half finished reaches the printer.
        job_.Abort();
        try {
            Log(kFaxPrintFailed);
        } catch (...) {
            EndIdle();
            throw;
        }
        EndIdle();
        throw;
    }
    Pump();
    if (!job_.Running())
        return;
    const bool taken = job_.End();
    Log(taken && printed > 0 ? kFaxPrintFinished : kFaxPrintFailed);
    EndIdle();
    if (!taken)
        throw EFaxPrinterError("Cannot print to " +
                            (printer_.outputFileName().isEmpty() ? printer_.printerName() : printer_.outputFileName())
                                .toStdString());
    if (!notPrinted_.empty())
        throw EFaxPagesNotPrinted(PagesNotPrintedText(notPrinted_, printed).toStdString(), printed);
}

void TKivCustomFaxPrinter::PreviewPages()
{
    if (job_.Running())
        return;
    // The status window and the log stay out of it, and come back however
    // the preview ends.
    struct TQuiet {
        TKivCustomFaxPrinter& printer;
        QPointer<TKivAbstractFaxPrinterStatus> display;
        QPointer<TKivCustomFaxPrinterLog> log;
        ~TQuiet()
        {
            printer.statusDisplay_ = display;
            printer.log_ = log;
            printer.previewing_ = false;
            printer.job_.SetPreview(false);
        }
    } quiet{*this, statusDisplay_, log_};
    statusDisplay_ = nullptr;
    log_ = nullptr;
    previewing_ = true;
    job_.SetPreview(true);
    PrintPages();
}

void TKivCustomFaxPrinter::NotePageNotPrinted(int page, const QString& reason)
{
    notPrinted_.push_back({page, reason});
    if (OnFaxPrintLog)
        OnFaxPrintLog(this, kFaxPrintPageNotPrinted);
    if (log_)
        log_->UpdateLog(kFaxPrintPageNotPrinted, running_.fileName, page, reason);
    if (statusDisplay_ && statusDisplay_->Visible()) {
        try {
            statusDisplay_->UpdateDisplay(false, false);
        } catch (...) {
            // A display that cannot refresh must not stop the printing.
        }
    }
}

bool TKivCustomFaxPrinter::PrintPage(int page, int& index)
{
    currentPage_ = static_cast<uint16_t>(page);
    Pump();
    if (!job_.Running())
        return false;

    if (OnNextPage)
        OnNextPage(this, static_cast<uint16_t>(page), running_.pageCount);
    SetProgressStatus(kFaxPrintConverting);
    unpacker_.SetInFileName(running_.fileName);
    QImage bitmap;
    try {
        bitmap = unpacker_.UnpackPage(page);
    } catch (const std::exception& e) {
        Pump();
        if (!job_.Running())
            return false; // the abort stopped the decoding
        const bool memory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
        NotePageNotPrinted(page, QString::fromLocal8Bit(memory ? KivErrorMessage(kErrOutOfMemory).c_str() : e.what()));
        return true;
    }
    Pump();
    if (!job_.Running())
        return false;
    // A sheet is started only for a page that is printed, so that a page
    // left out leaves no empty sheet or quadrant behind.
    if (index > 0 && StartsNewSheet(multiPage_, job_.Landscape(), index))
        job_.NewPage();
    SetProgressStatus(kFaxPrintComposing);

    TPrintArea area = PageArea(job_.PageWidth(), job_.PageHeight(), multiPage_, job_.Landscape(), index);
    ++index;
    Pump();
    if (job_.Running() && header_.Enabled())
        RenderHeaderLine(job_.Canvas(), page, area);
    if (job_.Running() && footer_.Enabled())
        RenderFooterLine(job_.Canvas(), page, area);

    uint16_t flags = 0;
    if (FaxDocumentPageFlags(QFile::encodeName(running_.fileName).toStdString(), page, flags) != 0)
        flags = 0;
    const TFaxPageShape shape = FaxPageShape(flags, unpacker_.AutoScaleMode(), bitmap.width());
    const TPrintSize size =
        PrintedImageSize(printScale_, area, bitmap.width(), bitmap.height(), job_.PixelsPerInch(), shape);
    SetProgressStatus(kFaxPrintRendering);
    if (job_.Running())
        job_.Canvas().StretchImage(area.left, area.top, size.width, size.height, bitmap);
    SetProgressStatus(kFaxPrintSubmitting);
    if (bitmap.isNull())
        Log(kFaxPrintFailed);
    return true;
}

int TKivCustomFaxPrinter::PrepareMargin(TFaxPrintCanvas& canvas, TKivFaxPrinterMargin& margin, int page, QString& text)
{
    text = ExpandMarginTemplate(margin.Caption(),
                                {running_.fileName, running_.pageCount, page, QDateTime::currentDateTime()});
    canvas.SetFont(multiPage_ ? HalvedFont(margin.Font()) : margin.Font());
    const int height = canvas.TextHeight(text);
    margin.SetTextHeight(static_cast<uint16_t>(height));
    return height;
}

void TKivCustomFaxPrinter::RenderHeaderLine(TFaxPrintCanvas& canvas, int page, TPrintArea& area)
{
    QString text;
    const int height = PrepareMargin(canvas, header_, page, text);
    canvas.TextRect(QRect(area.left, area.top, area.Width(), height), area.left, area.top, text);
    area.top += height + 2;
    canvas.Line(area.left, area.top, area.right, area.top);
    area.top += 1;
}

void TKivCustomFaxPrinter::RenderFooterLine(TFaxPrintCanvas& canvas, int page, TPrintArea& area)
{
    QString text;
    const int height = PrepareMargin(canvas, footer_, page, text);
    canvas.TextRect(QRect(area.left, area.bottom - height, area.Width(), height), area.left, area.bottom - height, text);
    area.bottom -= height + 2;
    canvas.Line(area.left, area.bottom, area.right, area.bottom);
    area.bottom -= 1;
}

void TKivCustomFaxPrinter::AbortPrint()
{
    status_ = kFaxPrintIdle;
    if (job_.Running()) {
        unpacker_.SetOptions(unpacker_.Options() | uoAbort);
        job_.Abort();
        currentPage_ = 0;
        Log(kFaxPrintAborted);
        if (statusDisplay_)
            statusDisplay_->UpdateDisplay(false, true);
    }
    Pump();
}
