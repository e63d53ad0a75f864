#pragma once
// The captures of one download run, whatever the mailbox protocol: each
// retrieved mail is written line by line under a temporary name while the
// fax-mail rules decide whether it is a fax mail; a fax mail that arrived
// completely waits, with its fax data, until the run commits it (synced,
// then named); anything else is dropped again.
#include "app/core/fax_mail_rules.h"
#include "app/core/run_host.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>

// The lists of temp\ a run saves and its extraction reads.
inline const QString kCaptureListFile = QStringLiteral("temp\\temp.lst");
inline const QString kFaxDataListFile = QStringLiteral("temp\\faxdata.lst");

class TMailCapture {
public:
    static constexpr std::size_t MaxLineLength = 1024 * 1024;

    explicit TMailCapture(TRunHost& host) : host_(host) {}

    // Starts a run with these rules; nothing is pending.
    void StartRun(const TFaxMailRules& rules);
    // Removes what a run that was cut short left under temporary names.
    void RemoveIncomplete();

    // Starts writing the mail whose capture is name ("temp\Msg ....txt").
    void Open(const QString& name);
    // One line of the mail, without its line end.
    void TakeLine(const std::string& line);
    // Raw bytes of the mail (CR LF lines), cut into lines here.
    void TakeBytes(const char* data, std::size_t length);
    // Whether a rule has taken the mail so far.
    bool IsFaxMail() const { return capturing_; }
    // The mail arrived whole: a fax mail is kept for the commit (false,
    // with the reason, when it could not be written), anything else dropped.
    bool Complete(QString& error);
    // The mail did not arrive whole: whatever was written is dropped.
    void Abandon();

    // A capture an earlier run completed, whose mail is removed again now:
    // it is synced with the next commit.
    void AddEarlier(const QString& name);
    // Captures complete but not committed yet.
    const QStringList& Pending() const { return completed_; }
    // Syncs every pending capture with its fax data, then names them; the
    // named ones are appended to the run state's lists.
    bool Commit(TRunState& state, QString& error);

    const QString& Name() const { return name_; }

private:
    void Discard();
    bool MatchFurtherRules();
    void TakeHeaderFaxData();
    void Write(const std::string& line);
    bool NameCompleted(TRunState& state, QString& error);

    TRunHost& host_;
    TFaxMailRules rules_;
    QString name_;
    QFile file_;
    QString partError_;  // set when the current mail cannot be written
    std::optional<QString> sender_, faxDate_;
    TMailHeaderReader header_;
    bool inHeader_ = false;
    bool ruleMatched_ = false;  // a further rule (not the marker) took it
    bool capturing_ = false;
    std::string pendingLine_;   // TakeBytes: the line not complete yet
    QStringList completed_, completedFaxData_, earlier_;
};
