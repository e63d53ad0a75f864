#pragma once
// The host of a download run or an import started from the command line:
// log lines go to a stream, the mailbox settings come from the settings
// store, and the desktop is told of new faxes when asked to.
#include "app/core/run_host.h"
#include "app/platform/fax_notification.h"

#include <QTextStream>

class TFaxCatalogue;

class TConsoleRunHost : public TRunHost {
public:
    explicit TConsoleRunHost(QTextStream& out) : out_(out) {}

    void Log(const QString& line) override;
    void SetProgress(const QString&) override {}
    void SetControlsEnabled(bool enabled) override;
    void SetBusy(bool) override {}
    // The stored settings, read afresh; what is not stored has the
    // Configure page's start-up text.
    TMailboxSettings MailboxSettings() const override;

    // With notify, a run that adds faxes to `catalogue` tells the desktop.
    void NotifyAdditions(TFaxCatalogue& catalogue, bool notify);

private:
    QTextStream& out_;
    TFaxNotification notification_;
};
