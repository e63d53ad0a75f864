// The viewer window's thumbnail strip: made from the viewer's own pages,
// turned as the viewer shows them, following the page shown.
#include "app/ui/view_form.h"

#include "app/ui/page_strip.h"
#include "fax/view/fax_viewer.h"
#include "fax/view/page_rotation.h"

#include <QKeySequence>
#include <QShortcut>
#include <QToolButton>

void TViewForm::CreatePageStrip()
{
    PageStrip = new TPageStrip(this);
    PageStrip->SetPageSource([this](int page) { return StripPageImage(page); });
    PageStrip->OnPageChosen = [this](int page) {
        if (page >= 1 && page <= FaxViewer->PageCount())
            FaxViewer->SetCurrentPage(page);
    };
    auto* toggle = new QShortcut(QKeySequence(Qt::Key_T), this);
    connect(toggle, &QShortcut::activated, this, [this] { SetThumbnailsShown(!ThumbnailsShown()); });
}

void TViewForm::SyncPageStrip()
{
    const QString file = FaxViewer->FileName();
    if (file != stripFile_ || FaxViewer->PageCount() != PageStrip->PageCount()) {
        stripFile_ = file;
        stripTurns_ = FaxViewer->PageRotation();
        PageStrip->Reset(file.isEmpty() ? 0 : FaxViewer->PageCount());
    } else if (FaxViewer->PageRotation() != stripTurns_) {
        stripTurns_ = FaxViewer->PageRotation();
        PageStrip->Refresh();
    }
    PageStrip->ShowCurrentPage(FaxViewer->CurrentPage());
}

QImage TViewForm::StripPageImage(int page)
{
    if (FaxViewer->FileName().isEmpty())
        return QImage();
    TViewerPageBitmap bitmap;
    // A page that cannot be decoded is reported through the viewer's error
    // event; for a thumbnail the crossed-out sheet says so instead.
    muteViewerErrors_ = true;
    const intptr_t found = FaxViewer->Perform(kVwGetPageBitmap, static_cast<uintptr_t>(page), reinterpret_cast<intptr_t>(&bitmap));
    muteViewerErrors_ = false;
    if (!found)
        return QImage();
    // The page shown is held turned; the others come as stored.
    const int turns = FaxViewer->PageRotation();
    if (turns == 0 || page == FaxViewer->CurrentPage())
        return bitmap.bitmap;
    QImage turned;
    return RotatePageImage(bitmap.bitmap, turns, turned) == 0 ? turned : QImage();
}
