#include "app/ui/view_form.h"

#include "app/platform/message_box.h"
#include "app/platform/registry_store.h"
#include "app/ui/page_strip.h"
#include "fax/kiv_errors.h"
#include "fax/view/fax_printer.h"
#include "fax/view/fax_printer_status.h"
#include "fax/view/fax_viewer.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <exception>
#include <optional>

namespace {

constexpr int kZoomStep = 25;
constexpr int kMinZoom = 25;
constexpr int kMaxZoom = 400;
constexpr int kWheelNotch = 120;

// The integer a combo text holds, leading blanks allowed; none when the
// text is not a number. Numbers too long for an int are saturated, so that
// they clamp like any other large value.
std::optional<int> ComboNumber(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("^ *([+-]?)([0-9]+)$"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int magnitude = match.captured(2).toInt(&ok);
    const int value = ok ? magnitude : 1000000000;
    return match.captured(1) == QLatin1String("-") ? -value : value;
}

QString ErrorText(const std::exception& e) { return QString::fromLocal8Bit(e.what()); }

const char* const kRotateTexts[] = {"  0", " 90", "180", "270"};

const char kFitWidthText[] = "Fit width";
const char kFitPageText[] = "Fit page";

// Where the fit choice is remembered, and its stored names.
const char kViewerKey[] = "HKEY_CURRENT_USER\\Software\\Pellimar\\Viewer";
const char kFitValue[] = "Fit";
const char kGeometryValue[] = "Geometry"; // "left top width height"
const char kThumbnailsValue[] = "Thumbnails"; // "shown" or "hidden"
const char* const kFitNames[] = {"none", "width", "page"};

// The text of a string value kept for the viewer window, empty when none.
std::string ViewerSetting(const char* name)
{
    try {
        const std::optional<TRegValue> stored = TRegistryStore().ReadValue(kViewerKey, name);
        if (stored && stored->type == REG_SZ && !stored->data.empty())
            return stored->data.substr(0, stored->data.size() - 1);
    } catch (const std::exception&) {
        // A settings file that cannot be read: the window starts afresh.
    }
    return {};
}

void SetViewerSetting(const char* name, const std::string& text)
{
    try {
        TRegistryStore().WriteValue(kViewerKey, name, TRegValue{REG_SZ, text + '\0'});
    } catch (const std::exception&) {
        // Not kept; the window works on.
    }
}

TFitMode RememberedFitMode()
{
    const std::string name = ViewerSetting(kFitValue);
    for (int mode = 0; mode < 3; ++mode)
        if (name == kFitNames[mode])
            return static_cast<TFitMode>(mode);
    return TFitMode::None;
}

// A combo's text set without counting as the user's change.
void ShowInCombo(QComboBox* combo, const QString& text)
{
    const QSignalBlocker blocker(combo);
    combo->setEditText(text);
}

} // namespace

TViewForm::TViewForm(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("ViewForm"));
    setWindowTitle(QStringLiteral("Pellimar Fax Viewer"));
    resize(900, 650); // the whole tool strip in sight
    Beep = [] { QApplication::beep(); };

    CreateToolStrip();
    CreateViewer();
    CreatePrinter();
    CreatePageStrip();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(StatusPanel);
    auto* body = new QHBoxLayout;
    body->setSpacing(0);
    body->addWidget(PageStrip);
    body->addWidget(FaxViewer, 1);
    layout->addLayout(body, 1);
    setFocusProxy(FaxViewer);

    zoomPercent_ = 100;
    fitMode_ = RememberedFitMode();
    SetThumbnailsShown(ViewerSetting(kThumbnailsValue) != "hidden");
    RestoreGeometry();
    auto* fitWidth = new QShortcut(QKeySequence(Qt::Key_W), this);
    connect(fitWidth, &QShortcut::activated, this, [this] { SetFitMode(TFitMode::Width); });
    auto* fitPage = new QShortcut(QKeySequence(Qt::Key_F), this);
    connect(fitPage, &QShortcut::activated, this, [this] { SetFitMode(TFitMode::Page); });
    auto* nextMatch = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(nextMatch, &QShortcut::activated, this, &TViewForm::NextTextMatch);
    FaxViewer->installEventFilter(this); // resizing refits the page
    ShowApplied();
}

TViewForm::~TViewForm() = default;

void TViewForm::ShowUnscaled()
{
    FaxViewer->LockRendering();
    FaxViewer->SetScaling(false);
    FaxViewer->SetHorizMult(1);
    FaxViewer->SetHorizDiv(1);
    FaxViewer->SetVertMult(1);
    FaxViewer->SetVertDiv(1);
    FaxViewer->UnlockRendering();
    UpdateZoomDescription();
}

void TViewForm::OpenFax(const QString& fileName)
{
    // The new fax is shown unscaled and unturned, and the boxes say so.
    textKey_.clear();
    textWords_.clear();
    zoomPercent_ = 100;
    ShowUnscaled();
    ShowApplied();
    try {
        // The same file again is loaded afresh, so that it shows page 1 as
        // the caption says.
        if (FaxViewer->FileName() == fileName)
            FaxViewer->SetFileName(QString());
        stripFile_.clear(); // the file may have changed since it was shown
        FaxViewer->SetFileName(fileName);
        ApplyFit();
        ShowPageOne();
    } catch (const std::exception&) {
        ClearViewer();
        ShowMessageBox(TMessageKind::Error, QStringLiteral("Error opening fax file ") + fileName);
    }
}

void TViewForm::ShowApplied()
{
    {
        const QSignalBlocker blocker(PageBox);
        const int count = FaxViewer->PageCount();
        PageBox->setRange(count > 0 ? 1 : 0, count);
        PageBox->setValue(FaxViewer->CurrentPage());
    }
    const QString zoom = fitMode_ == TFitMode::Width  ? QLatin1String(kFitWidthText)
                         : fitMode_ == TFitMode::Page ? QLatin1String(kFitPageText)
                                                      : QStringLiteral("%1").arg(zoomPercent_, 3);
    ShowInCombo(PercentCombo, zoom);
    const int turns = FaxViewer->PageRotation();
    ShowInCombo(RotateCombo, QLatin1String(kRotateTexts[turns >= 0 && turns < 4 ? turns : 0]));
    UpdateZoomDescription();
}

void TViewForm::ShowPageOne()
{
    setWindowTitle(QStringLiteral("  Viewing page 1 of %1 in %2").arg(FaxViewer->PageCount()).arg(FaxViewer->FileName()));
}

void TViewForm::ClearViewer()
{
    try {
        FaxViewer->SetFileName(QString());
    } catch (const std::exception&) {
        // Emptying the viewer does not fail; nothing is left to show either way.
    }
    FaxViewer->viewport()->update();
}

void TViewForm::showEvent(QShowEvent* event)
{
    TForm::showEvent(event);
    FaxViewer->setFocus();
    // The command-line file is opened once; later showings display what the
    // browser opened. Opened once the window is up, so that an error box
    // appears over it.
    if (!startFile_.isEmpty()) {
        const QString name = startFile_;
        startFile_.clear();
        QMetaObject::invokeMethod(this, [this, name] { OpenFax(name); }, Qt::QueuedConnection);
    }
}

void TViewForm::FaxViewerPageChange(TKivCustomFaxViewer*)
{
    ApplyFit(); // pages differ in size
    ShowApplied();
    SyncPageStrip();
    ShowTextMatches();
    if (FaxViewer->FileName().isEmpty()) {
        setWindowTitle(QStringLiteral("  No file loaded"));
        return;
    }
    setWindowTitle(QStringLiteral("  Viewing page %1 of %2 in %3")
                       .arg(FaxViewer->CurrentPage())
                       .arg(FaxViewer->PageCount())
                       .arg(FaxViewer->FileName()));
}

void TViewForm::FaxViewerViewerError(TKivCustomFaxViewer*, int errorCode)
{
    if (muteViewerErrors_)
        return; // a thumbnail's page: the strip shows it crossed out
    ShowMessageBox(TMessageKind::Error, QStringLiteral("Viewer error %1: %2")
                                            .arg(errorCode)
                                            .arg(QString::fromLatin1(KivErrorMessage(errorCode).c_str())));
}

void TViewForm::FaxViewerDropFile(TKivCustomFaxViewer*, const QString&)
{
    zoomPercent_ = 100;
    stripFile_.clear();
    SyncPageStrip();
    // A dropped file is shown unscaled; the control's stored factors are
    // brought back to 1 too, so that the next zoom is applied in full.
    ShowUnscaled();
    ApplyFit();
    ShowApplied();
    ShowPageOne();
}

void TViewForm::PrevClick()
{
    if (FaxViewer->CurrentPage() > 1)
        FaxViewer->SetCurrentPage(FaxViewer->CurrentPage() - 1);
}

void TViewForm::PageBoxChange(int page)
{
    if (page >= 1 && page <= FaxViewer->PageCount())
        FaxViewer->SetCurrentPage(page);
    ShowApplied();
    FaxViewer->setFocus();
}

void TViewForm::NextClick()
{
    if (FaxViewer->CurrentPage() < FaxViewer->PageCount())
        FaxViewer->SetCurrentPage(FaxViewer->CurrentPage() + 1);
}

void TViewForm::SetZoom(int percent)
{
    if (percent == zoomPercent_)
        return;
    zoomPercent_ = percent;
    if (percent == 100) {
        FaxViewer->SetScaling(false);
    } else {
        FaxViewer->LockRendering();
        FaxViewer->SetScaling(true);
        FaxViewer->SetHorizMult(percent);
        FaxViewer->SetHorizDiv(100);
        FaxViewer->SetVertMult(percent);
        FaxViewer->SetVertDiv(100);
        FaxViewer->UnlockRendering();
    }
    ShowApplied();
}

void TViewForm::SpeedButton3Click()
{
    const int r = zoomPercent_ % kZoomStep;
    const int zoom = r == 0 ? zoomPercent_ + kZoomStep : zoomPercent_ + (kZoomStep - r);
    if (zoom > kMaxZoom)
        Beep();
    else
        ChooseZoom(zoom, wheelAt_.isNull() ? ViewerCentre() : wheelAt_);
}

void TViewForm::SpeedButton5Click()
{
    const int r = zoomPercent_ % kZoomStep;
    const int zoom = r == 0 ? zoomPercent_ - kZoomStep : zoomPercent_ - (kZoomStep - r);
    if (zoom < kMinZoom)
        Beep();
    else
        ChooseZoom(zoom, wheelAt_.isNull() ? ViewerCentre() : wheelAt_);
}

void TViewForm::PercentComboChange()
{
    const QString text = PercentCombo->currentText().trimmed();
    if (text == QLatin1String(kFitWidthText)) {
        SetFitMode(TFitMode::Width);
    } else if (text == QLatin1String(kFitPageText)) {
        SetFitMode(TFitMode::Page);
    } else if (const std::optional<int> percent = ComboNumber(PercentCombo->currentText())) {
        ChooseZoom(std::clamp(*percent, kMinZoom, kMaxZoom), ViewerCentre());
    }
    // The box shows the zoom applied, also after a text that is not one.
    ShowApplied();
    FaxViewer->setFocus();
}

QPointF TViewForm::ViewerCentre() const
{
    const QWidget* viewport = FaxViewer->viewport();
    return QPointF(viewport->width() / 2.0, viewport->height() / 2.0);
}

void TViewForm::ChooseZoom(int percent, const QPointF& at)
{
    if (fitMode_ != TFitMode::None) {
        fitMode_ = TFitMode::None;
        RememberFitMode();
    }
    QScrollBar* across = FaxViewer->horizontalScrollBar();
    QScrollBar* down = FaxViewer->verticalScrollBar();
    const double before = zoomPercent_;
    const QPointF onPage((across->value() + at.x()) / before, (down->value() + at.y()) / before);
    SetZoom(percent);
    across->setValue(qRound(onPage.x() * zoomPercent_ - at.x()));
    down->setValue(qRound(onPage.y() * zoomPercent_ - at.y()));
    ShowApplied();
}

void TViewForm::SetFitMode(TFitMode mode)
{
    fitMode_ = mode;
    RememberFitMode();
    ApplyFit();
    ShowApplied();
}

void TViewForm::SetThumbnailsShown(bool shown)
{
    PageStrip->setVisible(shown);
    const QSignalBlocker blocker(ThumbnailsButton);
    ThumbnailsButton->setChecked(shown);
    if ((ViewerSetting(kThumbnailsValue) != "hidden") != shown)
        SetViewerSetting(kThumbnailsValue, shown ? "shown" : "hidden");
}

bool TViewForm::ThumbnailsShown() const { return !PageStrip->isHidden(); }

void TViewForm::RememberFitMode() { SetViewerSetting(kFitValue, kFitNames[static_cast<int>(fitMode_)]); }

void TViewForm::RestoreGeometry()
{
    const QStringList numbers = QString::fromStdString(ViewerSetting(kGeometryValue)).split(QLatin1Char(' '));
    QRect wanted(pos(), size());
    if (numbers.size() == 4) {
        bool ok[4];
        const QRect stored(numbers[0].toInt(&ok[0]), numbers[1].toInt(&ok[1]), numbers[2].toInt(&ok[2]),
                           numbers[3].toInt(&ok[3]));
        if (ok[0] && ok[1] && ok[2] && ok[3] && stored.width() > 0 && stored.height() > 0)
            wanted = stored;
    }
    // Never larger than the screen it opens on, and on it.
    const QScreen* screen = QGuiApplication::screenAt(wanted.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect room = screen->availableGeometry();
        wanted.setSize(wanted.size().boundedTo(room.size()));
        wanted.moveLeft(std::clamp(wanted.left(), room.left(), room.right() + 1 - wanted.width()));
        wanted.moveTop(std::clamp(wanted.top(), room.top(), room.bottom() + 1 - wanted.height()));
    }
    resize(wanted.size());
    move(wanted.topLeft());
}

void TViewForm::hideEvent(QHideEvent* event)
{
    TForm::hideEvent(event);
    const QRect place(pos(), size());
    SetViewerSetting(kGeometryValue, QStringLiteral("%1 %2 %3 %4")
                                         .arg(place.left())
                                         .arg(place.top())
                                         .arg(place.width())
                                         .arg(place.height())
                                         .toStdString());
}

void TViewForm::ApplyFit()
{
    if (fitMode_ != TFitMode::None && !FaxViewer->FileName().isEmpty())
        SetZoom(FitPercent());
}

int TViewForm::FitPercent() const
{
    TViewerRect page;
    FaxViewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&page));
    const int width = page.right + 1;
    const int height = page.bottom + 1;
    if (width <= 1 || height <= 1)
        return zoomPercent_;
    const QSize room = FaxViewer->maximumViewportSize();
    int across = room.width();
    int percent = 0;
    if (fitMode_ == TFitMode::Width) {
        // A page taller than the window brings the vertical scroll bar.
        if (int64_t{height} * across > int64_t{room.height()} * width)
            across -= FaxViewer->verticalScrollBar()->sizeHint().width();
        percent = across * 100 / width;
    } else {
        percent = std::min(across * 100 / width, room.height() * 100 / height);
    }
    return std::clamp(percent, 1, kMaxZoom);
}

void TViewForm::RotateComboChange()
{
    const QString text = RotateCombo->currentText();
    for (int quarterTurns = 0; quarterTurns < 4; ++quarterTurns)
        if (text == QLatin1String(kRotateTexts[quarterTurns])) {
            // Turning fails only when memory runs short; the page stays as it was.
            try {
                FaxViewer->SetPageRotation(quarterTurns);
            } catch (const std::exception& e) {
                ShowMessageBox(TMessageKind::Error, ErrorText(e));
            }
            break;
        }
    ShowApplied();
    FaxViewer->setFocus();
}

void TViewForm::SpeedButton6Click() { PrintFax(false); }

void TViewForm::PrintRangeClick() { PrintFax(true); }

bool TViewForm::PrepareFaxPrinter()
{
    const QString name = FaxViewer->FileName();
    if (name.isEmpty())
        return false;
    // Named afresh each time, so that the pages are counted again and the
    // range is the whole file even when the same fax is printed twice.
    FaxPrinter->SetFileName(QString());
    FaxPrinter->SetFileName(name);
    // What was shown has pages; none now means the file is gone or spoilt.
    if (FaxPrinter->PageCount() == 0) {
        ShowMessageBox(TMessageKind::Error, QStringLiteral("Error opening fax file ") + name);
        return false;
    }
    FaxPrinter->SetMultiPage(MultiPageButton->isChecked());
    return true;
}

void TViewForm::PrintFax(bool choosePages)
{
    // A page that cannot be decoded or a printer that refuses the job ends in
    // an error box rather than in an unhandled exception.
    try {
        if (!PrepareFaxPrinter())
            return;
        if (choosePages && !FaxPrinter->RunPrintDialog(this))
            return;
        const QPrinter& printer = FaxPrinter->Printer();
        if (printer.outputFileName().isEmpty() && printer.printerName().isEmpty())
            return (void)ShowMessageBox(
                TMessageKind::Error, QStringLiteral("No printer is set up. Choose a printer, or a PDF file, with Setup."));
        FaxPrinter->PrintPages();
    } catch (const std::exception& e) {
        ShowMessageBox(TMessageKind::Error, ErrorText(e));
    }
}

void TViewForm::SpeedButton7Click()
{
    // The platform's print dialog chooses the printer (or a PDF file) and
    // its paper; the pages printed stay the whole fax.
    QPrintDialog dialog(&FaxPrinter->Printer(), this);
    dialog.setWindowTitle(QStringLiteral("Print Setup"));
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    // Confirming only chooses; printing is the Print button's.
    if (auto* buttons = dialog.findChild<QDialogButtonBox*>())
        if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("OK"));
    dialog.exec();
}

void TViewForm::SpeedButton4Click() { close(); }

void TViewForm::UpdateZoomDescription()
{
    const int shown = FaxViewer->Scaling() ? FaxViewer->HorizMult() * 100 / FaxViewer->HorizDiv() : 100;
    PercentCombo->setAccessibleDescription(QStringLiteral("Zoom %1%").arg(shown));
}

bool TViewForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FaxViewer && event->type() == QEvent::Resize)
        ApplyFit();
    if (watched != FaxViewer->viewport() || event->type() != QEvent::Wheel)
        return TForm::eventFilter(watched, event);
    auto* wheel = static_cast<QWheelEvent*>(event);
    if (!(wheel->modifiers() & Qt::ControlModifier))
        return false;
    // Whole notches zoom one step each, about the pointer; smooth wheels add
    // up to a notch.
    wheelZoomDelta_ += wheel->angleDelta().y();
    wheelAt_ = wheel->position();
    while (wheelZoomDelta_ >= kWheelNotch) {
        wheelZoomDelta_ -= kWheelNotch;
        SpeedButton3Click();
    }
    while (wheelZoomDelta_ <= -kWheelNotch) {
        wheelZoomDelta_ += kWheelNotch;
        SpeedButton5Click();
    }
    wheelAt_ = QPointF();
    return true;
}
