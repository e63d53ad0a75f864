#pragma once
// TKivFaxPrinterLog: appends one line per print event of its printer to a
// text file ("FAXPRINT.LOG" unless set otherwise).
#include "fax/kiv_base_component.h"

#include <QObject>
#include <QPointer>
#include <QString>

class TKivCustomFaxPrinter;

class TKivCustomFaxPrinterLog : public QObject, public TKivBaseComponent {
    Q_OBJECT
public:
    // A printer among the owner's components that has no log yet takes this one.
    explicit TKivCustomFaxPrinterLog(QObject* owner = nullptr);

    const QString& LogFileName() const { return logFileName_; }
    void SetLogFileName(const QString& name) { logFileName_ = name; }
    TKivCustomFaxPrinter* FaxPrinter() const { return printer_; }
    void SetFaxPrinter(TKivCustomFaxPrinter* printer) { printer_ = printer; }

    // Appends the line for `code` about `fileName` (and for a page not
    // printed, `page` and `reason`), creating the file when it does not
    // exist; nothing when LogFileName is empty. Raises the input/output
    // error when the file cannot be opened or written.
    void UpdateLog(int code, const QString& fileName, int page = 0, const QString& reason = QString());

private:
    QString logFileName_ = QStringLiteral("FAXPRINT.LOG");
    QPointer<TKivCustomFaxPrinter> printer_;
};

class TKivFaxPrinterLog : public TKivCustomFaxPrinterLog {
    Q_OBJECT
public:
    using TKivCustomFaxPrinterLog::TKivCustomFaxPrinterLog;
};
