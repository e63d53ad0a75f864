#pragma once
// TStandardFaxPrinterStatusDisplay: the "Print Status" dialog. It shows the
// fax being printed and the printing progress, and its Abort button stops
// the job of the linked printer.
#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;
class TKivCustomFaxPrinter;

class TStandardFaxPrinterStatusDisplay : public QDialog {
    Q_OBJECT
public:
    explicit TStandardFaxPrinterStatusDisplay(QWidget* parent = nullptr);

    TKivCustomFaxPrinter* FaxPrinter() const { return printer_; }
    void SetFaxPrinter(TKivCustomFaxPrinter* printer) { printer_ = printer; }
    // Shows the printer's file, pages, resolution, width and progress, and
    // the pages that could not be printed.
    void UpdateValues(TKivCustomFaxPrinter* printer);

    QLabel* txtFileName;
    QLabel* txtTotalPages;
    QLabel* txtResolution;
    QLabel* txtWidth;
    QLabel* txtFirstPage;
    QLabel* txtLastPage;
    QLabel* txtStatus;
    QLabel* txtNotPrinted; // the pages of the job that could not be printed
    QPushButton* btnAbort;

private:
    void btnAbortClick();

    QPointer<TKivCustomFaxPrinter> printer_;
};
