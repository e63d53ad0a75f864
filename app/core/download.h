#pragma once
// One pass over the POP3 mailbox: log in, walk the messages, capture the fax
// mails of the forwarding server into "temp\" and delete them from the
// server, log out, and save the lists of what was captured for extraction.
// Every step runs in the request-done event of the POP3 client.
#include "app/core/fax_catalogue.h"
#include "app/core/fax_mail_rules.h"
#include "app/core/imap_download.h"
#include "app/core/mail_capture.h"
#include "app/core/mailbox_credentials.h"
#include "app/core/run_host.h"
#include "app/platform/folder_lock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TPop3Client;

// How a run ended, for callers that report it (headless runs use it as the exit status).
enum class TRunOutcome {
    Completed = 0,    // the mailbox was walked to its end (faxes or not)
    NotConnected = 2, // the server could not be reached
    NotLoggedIn = 3,  // the server refused the login
    ScanFailed = 4,   // the walk stopped early; what was captured completely is kept
    NoCatalogue = 5,  // refused: the catalogue cannot record faxes
    ExtractionFailed = 6, // some captures could not be extracted (they are kept)
    FolderBusy = 7,       // refused: another Pellimar is downloading into the same folder
};

class TMailboxDownload : public QObject {
    Q_OBJECT
public:
    TMailboxDownload(TRunHost& host, TRunState& state, TFaxCatalogue& catalogue, TPop3Client& client,
                     QObject* parent = nullptr);

    void btnDownloadClick();
    // Issues one request with the Configure fields copied into the client;
    // false when the request could not start (the error is shown on the progress line).
    bool RunRequest(const QString& label, const std::function<void()>& request);
    void Pop3ClientRequestDone(int rqType, uint16_t error);
    void StartMailboxScan();
    void ScanRequestDone(uint16_t error);
    void ScanMessageLine();
    void Pop3ClientMessageBegin();
    void Pop3ClientMessageEnd();
    void Pop3ClientMessageLine();
    void InstallMainHandlers();

    // Ends a run: animation off, controls enabled, OnRunFinished told.
    void FinishRun();
    // The extraction reports that a capture could not be extracted; the run
    // then ends with ExtractionFailed unless it failed earlier.
    void NoteExtractionFailed();

    // Runs after the lists were saved (the extraction); it must end with
    // FinishRun. Unassigned, the run ends right there.
    std::function<void()> OnListsSaved;
    std::function<void(TRunOutcome)> OnRunFinished;

    TRunOutcome Outcome() const { return outcome_; }
    bool Running() const { return running_; }

    // Scan state, as the request-done handler sees it.
    int32_t ScanState = 0;
    QString TempDir;
    QString CaptureFileName;
    QString FaxDataFile;

private:
    // Ends a run that could not start, with one log line.
    void Refuse(TRunOutcome outcome, const QString& line);
    void InstallScanHandlers();
    // Takes the proxy the environment names for the mailbox host; false
    // (after a log line) when it names one that cannot be used.
    bool ChooseProxy(TSocksProxy& proxy);
    // Connects and signs in with the secret the credentials found.
    void OpenMailbox(const TCredentials& credentials, const TFaxMailRules& rules);
    void ImapWalkDone(const TImapWalk& walk, TRunOutcome outcome);
    void SaveListsAndExtract(bool deletionsDone);
    void EndScan();
    void SendQuit();
    void Advance();
    void DeleteMessage();
    bool CommitCaptures(QString& error);
    bool CommitGroupIfDue();
    void DropWithoutQuit(const QString& problem);

    TRunHost& host_;
    TRunState& state_;
    TFaxCatalogue& catalogue_;
    // Held from the start of a run to its end, so that no import writes the
    // catalogue while the run may.
    std::optional<TFaxCatalogue::TBusyScope> catalogueBusy_;
    // "download.lock" of the working folder, held from the start of a run to its end.
    TFolderLock downloadLock_{QStringLiteral("download.lock")};
    TPop3Client& client_;
    TMailboxCredentials credentials_;
    std::string secret_;  // the password or token of the running run
    // The message being retrieved and the captures waiting for the commit.
    TMailCapture capture_;
    // An IMAP mailbox is walked by its own client; the run around it is the same.
    TImapClient imapClient_;
    TImapDownload imap_;
    bool deleting_ = false; // a DELE is outstanding
    // Capture paths of this session: of every message looked at, and of the
    // messages the server acknowledged a DELE for.
    QSet<QString> examined_, deleted_;
    QString requestFailure_; // why the last request could not be sent
    // Time since the captures were last committed (CommitGroupIfDue).
    QElapsedTimer sinceCommit_;
    bool scanComplete_ = false; // every message of the mailbox was looked at
    bool quitSent_ = false;     // QUIT went to a connected server
    TRunOutcome outcome_ = TRunOutcome::Completed;
    bool running_ = false;
};
