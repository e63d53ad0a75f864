#pragma once
// The walk over an IMAP mailbox within a download run: log in, select the
// folder, ask the server for the mails the fax-mail rules could take, fetch
// each into its capture, and remove the fax mails from the folder (moved
// to the keep folder, else marked \Deleted and, with UIDPLUS, expunged one
// by one). A mail is removed only once its capture and fax data are synced
// and named; a capture that exists already is not fetched again, only its
// mail removed. Without UIDPLUS nothing is ever expunged: the mails stay
// marked \Deleted, and the search leaves marked mails out.
#include "app/core/mail_capture.h"
#include "app/core/run_host.h"
#include "mail/imap_client.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

enum class TRunOutcome;

// What the walk leaves for the run to save and extract.
struct TImapWalk {
    QSet<QString> examined;  // captures of every mail the search named
    QSet<QString> gone;      // captures whose mails left the folder (or were marked)
    bool complete = false;   // every mail the search named was looked at
};

// The UID SEARCH criteria for the rules: the marker rule and every further
// rule that IMAP search can express, joined by OR, among the mails not
// marked \Deleted. A rule it cannot express (non-ASCII text) widens the
// search to every such mail.
std::string ImapSearchCriteria(const TFaxMailRules& rules);
// "3,5:7" for {3, 5, 6, 7}.
std::string ImapUidSet(std::vector<std::uint32_t> uids);

// Copies the mailbox settings into the client: Security (IMAPS on 993,
// STARTTLS on 143), host and port, user, password, proxy and time-out.
void ConfigureImapClient(TImapClient& client, const TMailboxSettings& settings, const TSocksProxy& proxy,
                         int timeoutSeconds);

class TImapDownload : public QObject {
public:
    TImapDownload(TRunHost& host, TRunState& state, TMailCapture& capture, TImapClient& client,
                  QObject* parent = nullptr);

    // Starts the walk; OnFinished follows (also when it cannot start).
    void Start(const TMailboxSettings& settings, const TSocksProxy& proxy, int timeoutSeconds,
               const TFaxMailRules& rules);
    std::function<void(const TImapWalk& walk, TRunOutcome outcome)> OnFinished;

private:
    void RequestDone(TImapRequest request, std::uint16_t error);
    void Opened(std::uint16_t error);
    void FetchNext();
    void Fetched(std::uint16_t error);
    void CommitAndMark();
    void Marked(TImapRequest request);
    void Fail(TRunOutcome outcome, const QString& line);
    void End();
    void Finish();
    QString CaptureName(std::uint32_t uid) const;

    TRunHost& host_;
    TRunState& state_;
    TMailCapture& capture_;
    TImapClient& client_;
    TMailboxSettings settings_;
    std::string criteria_;
    std::vector<std::uint32_t> uids_;  // the search result
    std::size_t next_ = 0;
    std::vector<std::uint32_t> marking_, pendingUids_;  // uids of the group being marked / committed next
    QStringList markingNames_, pendingNames_;
    QElapsedTimer sinceCommit_;
    TImapWalk walk_;
    TRunOutcome outcome_{};
    bool ending_ = false;
};
