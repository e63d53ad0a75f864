#include "fax/view/fax_printer_status.h"

#include "fax/view/fax_printer.h"
#include "fax/view/fax_printer_status_display.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

const char* const kCtl3DProperty = "Ctl3D";
const char* const kPositionProperty = "Position";

} // namespace

TKivAbstractFaxPrinterStatus::TKivAbstractFaxPrinterStatus(QObject* owner) : QObject(owner)
{
    TKivCustomFaxPrinter::OfferComponent(this);
}

void TKivAbstractFaxPrinterStatus::InitDisplay()
{
    CreateDisplay();
    if (!display_)
        return;
    position_ = static_cast<TPosition>(display_->property(kPositionProperty).toInt());
    ctl3D_ = display_->property(kCtl3DProperty).toBool();
    visible_ = display_->isVisible();
    caption_ = display_->windowTitle();
}

void TKivAbstractFaxPrinterStatus::SetPosition(TPosition position)
{
    position_ = position;
    if (display_)
        display_->setProperty(kPositionProperty, static_cast<int>(position));
}

void TKivAbstractFaxPrinterStatus::SetCtl3D(bool on)
{
    ctl3D_ = on;
    if (display_)
        display_->setProperty(kCtl3DProperty, on);
}

bool TKivAbstractFaxPrinterStatus::Visible() const { return display_ ? display_->isVisible() : visible_; }

void TKivAbstractFaxPrinterStatus::SetVisible(bool visible)
{
    visible_ = visible;
    if (!display_)
        return;
    if (visible)
        ShowDisplay();
    else
        display_->hide();
}

void TKivAbstractFaxPrinterStatus::SetCaption(const QString& caption)
{
    caption_ = caption;
    if (display_)
        display_->setWindowTitle(caption);
}

void TKivAbstractFaxPrinterStatus::ShowDisplay()
{
    if (!display_)
        return;
    if (position_ == poScreenCenter) {
        display_->adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = display_->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            display_->move(frame.topLeft());
        }
    }
    display_->show();
}

TKivFaxPrinterStatus::TKivFaxPrinterStatus(QObject* owner) : TKivAbstractFaxPrinterStatus(owner) { InitDisplay(); }

TKivFaxPrinterStatus::~TKivFaxPrinterStatus() { DestroyDisplay(); }

void TKivFaxPrinterStatus::CreateDisplay()
{
    form_ = std::make_unique<TStandardFaxPrinterStatusDisplay>();
    form_->SetFaxPrinter(FaxPrinter());
    form_->setWindowTitle(Caption());
    SetDisplay(form_.get());
}

void TKivFaxPrinterStatus::DestroyDisplay()
{
    SetDisplay(nullptr);
    form_.reset();
}

void TKivFaxPrinterStatus::UpdateDisplay(bool first, bool last)
{
    if (!form_)
        return;
    if (first) {
        form_->SetFaxPrinter(FaxPrinter());
        ShowDisplay();
    }
    if (last) {
        form_->hide();
        return;
    }
    form_->UpdateValues(FaxPrinter());
}
