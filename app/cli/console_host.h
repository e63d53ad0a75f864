#pragma once
// The host of a download run or an import started from the command line:
// log lines go to a stream, the mailbox settings come from the settings
// store, and the desktop is told of new faxes when asked to.
#include "app/core/run_host.h"
#include "app/platform/fax_notification.h"

#include <QTextStream>
#include <QVariant>

#include <functional>

class TFaxCatalogue;

// Reads one stored setting by name (invalid when none is stored); the first
// read that meets a damaged settings file reports it and sets the flag.
using TSettingReader = std::function<QVariant(const char* name, bool& damageReported)>;

class TConsoleRunHost : public TRunHost {
public:
    // Without a reader, every setting has its start-up text.
    explicit TConsoleRunHost(QTextStream& out, TSettingReader readSetting = {})
        : out_(out), readSetting_(std::move(readSetting))
    {
    }

    void Log(const QString& line) override;
    void SetProgress(const QString&) override {}
    void SetControlsEnabled(bool enabled) override;
    void SetBusy(bool) override {}
    // The stored settings, read afresh; what is not stored has the
    // Configure page's start-up text.
    TMailboxSettings MailboxSettings() const override;
    // The stored fax-mail rules, behind the marker rule.
    TFaxMailRules FaxMailRules() const override;

    // With notify, a run that adds faxes to `catalogue` tells the desktop.
    void NotifyAdditions(TFaxCatalogue& catalogue, bool notify);

private:
    QTextStream& out_;
    TSettingReader readSetting_;
    TFaxNotification notification_;
};
