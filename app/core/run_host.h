#pragma once
// What a download run and its extraction need from whoever started them: a
// place for log and progress lines, a way to lock the controls and show the
// run is busy, and the mailbox settings as they stand at each request. The
// main window is one host; a command-line fetch is another.
#include "app/core/fax_mail_rules.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// The mailbox settings as the Configure page holds them.
struct TMailboxSettings {
    QString Host;
    QString UserName;
    QString Password;
    QString Security; // one of SecurityChoices()
    // Why the stored Security value cannot be used (see ReadSecuritySetting);
    // a download does not start while it is set.
    QString SecurityProblem;
    // False while Security is the default because none was ever saved.
    bool SecuritySaved = true;
    // One of SignInMethods(); empty means the default, "Password".
    QString SignInMethod{};
    // When set, its output is the password (or token) instead of Password.
    QString PasswordCommand{};
    // True when the settings keep the password in the desktop keyring; Password is then empty.
    bool PasswordInKeyring = false;
    // "POP3" or "IMAP"; the IMAP folder to fetch from, and the folder the
    // fax mails are moved to (empty: they are removed).
    QString MailboxType = QStringLiteral("POP3");
    QString Folder = QStringLiteral("INBOX");
    QString KeepFolder;
    bool IsImap() const { return MailboxType.compare(QLatin1String("IMAP"), Qt::CaseInsensitive) == 0; }
};

class TRunHost {
public:
    virtual ~TRunHost() = default;

    // Appends one line to the status log.
    virtual void Log(const QString& line) = 0;
    // Overwrites the progress line.
    virtual void SetProgress(const QString& text) = 0;
    // Locks (false) or unlocks (true) whatever could start another run.
    virtual void SetControlsEnabled(bool enabled) = 0;
    // Starts or stops the busy animation.
    virtual void SetBusy(bool busy) = 0;
    // Read afresh for every request, so that a setting changed during a run
    // takes effect at its next request.
    virtual TMailboxSettings MailboxSettings() const = 0;
    // The fax-mail rules, read once when a run starts; the marker rule
    // always comes first. Unless a host has others, that rule alone.
    virtual TFaxMailRules FaxMailRules() const { return {MarkerRule()}; }
};

// Working state that a download run hands to its extraction: the captures
// of the run, their fax data, and what the extraction is doing.
struct TRunState {
    QStringList MessageList; // capture paths, in capture order
    QStringList FaxDataList; // capture path, sender ID, fax date, per fax mail
    int32_t FaxCount = 0;    // faxes catalogued since the state was created; never reset
    bool AttachmentPending = false; // a header line of the current part named a file
    bool AttachmentOpen = false;    // the current attachment file is open
    QString ListFile;               // the saved message list; empty until a run saves it
};
