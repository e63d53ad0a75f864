#pragma once
// TKivFaxPrinter: prints a range of pages of an APF fax file on a QPrinter,
// one page per sheet or, with MultiPage, four per portrait sheet and two
// per landscape sheet, each with an optional header and footer line. It
// reports progress through events, a status display and a print log.
#include "fax/fax_unpacker.h"
#include "fax/kiv_base_component.h"
#include "fax/kiv_errors.h"
#include "fax/view/fax_print_job.h"
#include "fax/view/fax_printer_layout.h"
#include "fax/view/fax_printer_log.h"
#include "fax/view/fax_printer_margin.h"
#include "fax/view/fax_printer_status.h"

#include <QObject>
#include <QPointer>
#include <QPrinter>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class QWidget;

// Progress status values.
constexpr uint8_t kFaxPrintIdle = 0;
constexpr uint8_t kFaxPrintComposing = 1;  // page image obtained; laying out the page
constexpr uint8_t kFaxPrintRendering = 2;  // size computed; the image is being drawn
constexpr uint8_t kFaxPrintSubmitting = 3; // page drawn
constexpr uint8_t kFaxPrintConverting = 4; // the page is being decoded

// Raised when the printer does not take a finished job.
class EFaxPrinterError : public EKIVException {
public:
    using EKIVException::EKIVException;
};

// Raised at the end of a job in which some pages could not be printed; every
// other page was. The message names each page and why.
class EFaxPagesNotPrinted : public EKIVException {
public:
    EFaxPagesNotPrinted(const std::string& message, int printed) : EKIVException(message), printed_(printed) {}
    // How many pages did reach the printer.
    int Printed() const { return printed_; }

private:
    int printed_;
};

// A page of the job that could not be printed, and why.
struct TPageNotPrinted {
    int page = 0;
    QString reason;
};

// "Idle", "Composing", "Rendering", "Submitting", "Converting".
QString FaxPrintStatusText(int status);

class TKivCustomFaxPrinter : public QObject, public TKivBaseComponent {
    Q_OBJECT
public:
    using TNextPageEvent = std::function<void(TKivCustomFaxPrinter* sender, uint16_t cp, uint16_t tp)>;
    using TFaxPrintLogEvent = std::function<void(TKivCustomFaxPrinter* sender, int faxPLCode)>;
    using TFaxPrintStatusEvent = std::function<void(TKivCustomFaxPrinter* sender, int statusCode)>;

    // Takes the first status display and the first log found among the
    // owner's components, depth first.
    explicit TKivCustomFaxPrinter(QObject* owner = nullptr);
    ~TKivCustomFaxPrinter() override;

    // The title of the print job.
    QString Caption() const { return job_.Title(); }
    void SetCaption(const QString& caption) { job_.SetTitle(caption); }

    const QString& FileName() const { return fileName_; }
    // Reads the page count and the first page's flags, and makes the range
    // the whole file.
    void SetFileName(const QString& fileName);
    uint16_t PageCount() const { return pageCount_; }
    uint16_t CurrentPage() const { return currentPage_; }
    uint16_t FirstPageToPrint() const { return firstPage_; }
    void SetFirstPageToPrint(uint16_t page) { firstPage_ = page; }
    uint16_t LastPageToPrint() const { return lastPage_; }
    void SetLastPageToPrint(uint16_t page) { lastPage_ = page; }
    bool FirstPageFine() const { return fine_; }
    bool FirstPageWide() const { return wide_; }
    TPrintScale PrintScale() const { return printScale_; }
    void SetPrintScale(TPrintScale scale) { printScale_ = scale; }
    bool MultiPage() const { return multiPage_; }
    void SetMultiPage(bool on) { multiPage_ = on; }
    uint8_t Status() const { return status_; }

    TKivAbstractFaxPrinterStatus* StatusDisplay() const { return statusDisplay_; }
    void SetStatusDisplay(TKivAbstractFaxPrinterStatus* display);
    TKivCustomFaxPrinterLog* FaxPrinterLog() const { return log_; }
    void SetFaxPrinterLog(TKivCustomFaxPrinterLog* log);

    TKivFaxPrinterMargin& FaxHeader() { return header_; }
    TKivFaxPrinterMargin& FaxFooter() { return footer_; }
    // The printer the pages go to, and the unpacker that decodes them.
    QPrinter& Printer() { return printer_; }
    TKivFaxUnpacker& Unpacker() { return unpacker_; }

    // Lets the user choose printer and pages; true when confirmed.
    bool RunPrintDialog(QWidget* parent = nullptr);
    // Prints the pages from FirstPageToPrint to LastPageToPrint. A page that
    // cannot be decoded is logged and left out, and the job goes on with the
    // next; at its end EFaxPagesNotPrinted names the pages left out. A
    // printer that does not take the job is logged and raised
    // (EFaxPrinterError), and then nothing reaches it.
    void PrintPages();
    // Lays the pages out exactly as PrintPages does, on the printer while a
    // print preview records it (QPrintPreviewDialog's paintRequested): the
    // same sheets, header, footer and sizes. A preview is no print job: no
    // log lines, no status window, no printer or file needed or written.
    // Pages that cannot be decoded are left out and named as in PrintPages.
    void PreviewPages();
    // The pages of the last job that could not be printed.
    const std::vector<TPageNotPrinted>& PagesNotPrinted() const { return notPrinted_; }
    // Stops a running job: nothing of it is printed.
    void AbortPrint();

    // A printer among the component's owner's components that has no status
    // display or log takes the component offered.
    static void OfferComponent(TKivAbstractFaxPrinterStatus* display);
    static void OfferComponent(TKivCustomFaxPrinterLog* log);

    TNextPageEvent OnNextPage;
    TFaxPrintLogEvent OnFaxPrintLog;
    TFaxPrintStatusEvent OnFaxPrintStatus;

protected:
    // Draw the header or footer line of `page` and narrow `area` by it.
    virtual void RenderHeaderLine(TFaxPrintCanvas& canvas, int page, TPrintArea& area);
    virtual void RenderFooterLine(TFaxPrintCanvas& canvas, int page, TPrintArea& area);

private:
    // What a running job prints; changing FileName does not touch it.
    struct TJob {
        QString fileName;
        uint16_t pageCount = 0;
        uint16_t first = 0;
        uint16_t last = 0;
    };

    // Refuses a job that has nowhere to go.
    void CheckDestination() const;
    // False when the job was aborted meanwhile. `index` counts the pages
    // printed before in this job.
    bool PrintPage(int page, int& index);
    void NotePageNotPrinted(int page, const QString& reason);
    void FinishJob();
    // Sets the margin's font (halved with MultiPage) and text; returns its height.
    int PrepareMargin(TFaxPrintCanvas& canvas, TKivFaxPrinterMargin& margin, int page, QString& text);
    void SetProgressStatus(uint8_t status);
    void Log(int code);
    void FireStatus(int status);
    void EndIdle();
    static void Pump();

    QPrinter printer_{QPrinter::HighResolution};
    TFaxPrintJob job_{printer_};
    TKivFaxUnpacker unpacker_;
    int dialogMin_ = 0;
    int dialogMax_ = 0;
    QString fileName_;
    uint16_t pageCount_ = 0;
    uint16_t currentPage_ = 0;
    uint16_t firstPage_ = 0;
    uint16_t lastPage_ = 0;
    bool fine_ = false;
    bool wide_ = false;
    TPrintScale printScale_ = psFitToPage;
    bool multiPage_ = false;
    uint8_t status_ = kFaxPrintIdle;
    QPointer<TKivAbstractFaxPrinterStatus> statusDisplay_;
    QPointer<TKivCustomFaxPrinterLog> log_;
    TKivFaxPrinterMargin header_;
    TKivFaxPrinterMargin footer_;
    TJob running_;
    bool previewing_ = false;
    std::vector<TPageNotPrinted> notPrinted_;
};

class TKivFaxPrinter : public TKivCustomFaxPrinter {
    Q_OBJECT
public:
    using TKivCustomFaxPrinter::TKivCustomFaxPrinter;
};
