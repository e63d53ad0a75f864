#pragma once
// One download run's pieces without any window: a run host that records
// what the run tells it, the run state, the catalogue of the current folder,
// a POP3 client, the download and its extraction, wired as the window and
// `pellimar --fetch` wire them.
#include "app/core/download.h"
#include "app/core/extraction.h"
#include "app/core/fax_catalogue.h"
#include "app/core/run_host.h"
#include "mail/pop3_client.h"

#include <QStringList>

class TRecordingRunHost : public TRunHost {
public:
    TMailboxSettings Settings = [] {
        TMailboxSettings settings;
        settings.Host = settings.UserName = QStringLiteral("None Supplied");
        settings.Security = QStringLiteral("None");
        return settings;
    }();
    QStringList LogLines;
    QString Progress;
    bool ControlsEnabled = true;
    bool Busy = false;
    int SettingsReads = 0;
    TFaxMailRules Rules{MarkerRule()};

    void Log(const QString& line) override { LogLines << line; }
    void SetProgress(const QString& text) override { Progress = text; }
    void SetControlsEnabled(bool enabled) override { ControlsEnabled = enabled; }
    void SetBusy(bool busy) override { Busy = busy; }
    TMailboxSettings MailboxSettings() const override
    {
        ++const_cast<TRecordingRunHost*>(this)->SettingsReads;
        return Settings;
    }
    TFaxMailRules FaxMailRules() const override { return Rules; }
};

struct TCoreRun {
    TRecordingRunHost Host;
    TRunState State;
    TFaxCatalogue Catalogue;
    TPop3Client Client;
    TMailboxDownload Download{Host, State, Catalogue, Client};
    TFaxExtraction Extraction{Host, State, Catalogue, Download};

    // Opens the catalogue of the current folder, as the window does at start-up.
    TCoreRun() { Catalogue.Open(); }
};
