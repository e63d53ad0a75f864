#pragma once
// Status displays of the fax printer: the abstract component the printer
// talks to, and TKivFaxPrinterStatus, which shows the standard status
// dialog with its Abort button.
#include "fax/kiv_base_component.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class TKivCustomFaxPrinter;
class TStandardFaxPrinterStatusDisplay;

// Where a form appears when it is shown.
enum TPosition { poDesigned, poDefault, poScreenCenter };

class TKivAbstractFaxPrinterStatus : public QObject, public TKivBaseComponent {
    Q_OBJECT
public:
    // A printer among the owner's components that has no status display yet
    // takes this one. A concrete class creates its display in its own
    // constructor (see InitDisplay) and frees it in its destructor.
    explicit TKivAbstractFaxPrinterStatus(QObject* owner = nullptr);

    // Each is passed on to the display form when there is one.
    TPosition Position() const { return position_; }
    void SetPosition(TPosition position);
    bool Ctl3D() const { return ctl3D_; }
    void SetCtl3D(bool on);
    bool Visible() const;
    void SetVisible(bool visible);
    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption);

    TKivCustomFaxPrinter* FaxPrinter() const { return printer_; }
    void SetFaxPrinter(TKivCustomFaxPrinter* printer) { printer_ = printer; }
    QWidget* Display() const { return display_; }

    virtual void CreateDisplay() = 0;
    virtual void DestroyDisplay() = 0;
    // `first`: link the form to the printer and show it; `last`: hide it.
    // Otherwise, and after showing, the form shows the printer's values.
    virtual void UpdateDisplay(bool first, bool last) = 0;

protected:
    // CreateDisplay, then take position, 3-D look, visibility and caption
    // from the created form.
    void InitDisplay();
    void SetDisplay(QWidget* display) { display_ = display; }
    // Shows the form where Position says.
    void ShowDisplay();

private:
    TPosition position_ = poScreenCenter;
    bool ctl3D_ = true;
    bool visible_ = false;
    QString caption_ = QStringLiteral("Print Status");
    QPointer<TKivCustomFaxPrinter> printer_;
    QPointer<QWidget> display_;
};

class TKivFaxPrinterStatus : public TKivAbstractFaxPrinterStatus {
    Q_OBJECT
public:
    explicit TKivFaxPrinterStatus(QObject* owner = nullptr);
    ~TKivFaxPrinterStatus() override;

    void CreateDisplay() override;
    void DestroyDisplay() override;
    void UpdateDisplay(bool first, bool last) override;
    TStandardFaxPrinterStatusDisplay* Form() const { return form_.get(); }

private:
    std::unique_ptr<TStandardFaxPrinterStatusDisplay> form_;
};
