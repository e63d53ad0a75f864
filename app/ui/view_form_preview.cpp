// The viewer window's print preview: Qt's preview dialog over the fax
// printer, whose sheets come from the printer's own layout, so that what the
// preview shows is what Print puts on paper. Printing from the preview
// prints the range chosen in its print dialog.
#include "app/ui/view_form.h"

#include "app/platform/message_box.h"
#include "fax/view/fax_printer.h"
#include "fax/view/fax_viewer.h"

#include <QPaintEngine>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <algorithm>
#include <exception>

namespace {

// Sheets a preview holds every page of in memory, as recorded drawings; a
// longer range is previewed from its start.
constexpr int kMaxPreviewPages = 100;

// A printer whose drawing a preview records (its paint engine is the
// preview's picture recorder) rather than one that prints.
bool Previewing(QPrinter* printer)
{
    return printer->paintEngine() && printer->paintEngine()->type() == QPaintEngine::Picture;
}

} // namespace

void TViewForm::PreviewClick()
{
    try {
        if (!PrepareFaxPrinter())
            return;
    } catch (const std::exception& e) {
        ShowMessageBox(TMessageKind::Error, QString::fromLocal8Bit(e.what()));
        return;
    }
    QPrintPreviewDialog dialog(&FaxPrinter->Printer(), this);
    dialog.setObjectName(QStringLiteral("PrintPreview"));
    const int count = FaxPrinter->PageCount();
    dialog.setWindowTitle(count > kMaxPreviewPages
                              ? QStringLiteral("Print Preview: pages 1 to %1 of %2").arg(kMaxPreviewPages).arg(count)
                              : QStringLiteral("Print Preview"));
    QString problem;
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this, &problem](QPrinter* printer) {
        PaintPreview(printer, problem);
    });
    // What could not be shown is said once the preview is up.
    QPointer<QPrintPreviewDialog> shown(&dialog);
    QMetaObject::invokeMethod(
        &dialog,
        [&problem, shown] {
            if (shown && !problem.isEmpty())
                ShowMessageBox(TMessageKind::Error, problem);
        },
        Qt::QueuedConnection);
    dialog.exec();
}

void TViewForm::PaintPreview(QPrinter* printer, QString& problem)
{
    const int count = FaxPrinter->PageCount();
    try {
        if (Previewing(printer)) {
            problem.clear();
            FaxPrinter->SetFirstPageToPrint(1);
            FaxPrinter->SetLastPageToPrint(static_cast<uint16_t>(std::min(count, kMaxPreviewPages)));
            FaxPrinter->PreviewPages();
            return;
        }
        // The preview's Print, after its print dialog: the pages chosen there.
        const bool range = printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0;
        const int first = range ? std::clamp(printer->fromPage(), 1, count) : 1;
        const int last = range ? std::clamp(printer->toPage() > 0 ? printer->toPage() : count, first, count) : count;
        FaxPrinter->SetFirstPageToPrint(static_cast<uint16_t>(first));
        FaxPrinter->SetLastPageToPrint(static_cast<uint16_t>(last));
        FaxPrinter->PrintPages();
    } catch (const std::exception& e) {
        if (Previewing(printer))
            problem = QString::fromLocal8Bit(e.what());
        else
            ShowMessageBox(TMessageKind::Error, QString::fromLocal8Bit(e.what()));
    }
}
