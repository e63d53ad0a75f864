#include "app/core/download.h"

#include "app/core/fax_catalogue.h"
#include "app/core/fax_mail_rules.h"
#include "app/core/fax_rules.h"
#include "app/core/list_file.h"
#include "app/core/security_choice.h"
#include "app/platform/durable_file.h"
#include "app/platform/native_path.h"
#include "mail/pop3_client.h"
#include "mail/socks_proxy.h"

#include <QDir>
#include <QFileInfo>

#include <exception>

namespace {

constexpr int kOpenRequest = 15; // the high-level connect + USER + PASS request
constexpr uint16_t kHostNotFound = 11001;
constexpr uint16_t kTimedOut = 10060; // also the POP3 client's idle time-out
constexpr uint16_t kFirstSocketError = 10000; // below it: the server's own refusal (500)

const QString& kListFile = kCaptureListFile;
const QString& kFaxDataFile = kFaxDataListFile;

} // namespace

TMailboxDownload::TMailboxDownload(TRunHost& host, TRunState& state, TFaxCatalogue& catalogue, TPop3Client& client,
                                   QObject* parent)
    : QObject(parent), host_(host), state_(state), catalogue_(catalogue), client_(client), capture_(host),
      imap_(host, state, capture_, imapClient_)
{
    imap_.OnFinished = [this](const TImapWalk& walk, TRunOutcome outcome) { ImapWalkDone(walk, outcome); };
    client_.SetPort("pop3");
    client_.SetMsgNum(0);
    client_.SetMsgLines(0);
    InstallMainHandlers();
}

void TMailboxDownload::InstallMainHandlers()
{
    client_.OnRequestDone = [this](auto*, auto rqType, auto error) {
        Pop3ClientRequestDone(static_cast<int>(rqType), static_cast<uint16_t>(error));
    };
    client_.OnMessageBegin = [this](auto*) { Pop3ClientMessageBegin(); };
    client_.OnMessageEnd = [this](auto*) { Pop3ClientMessageEnd(); };
    client_.OnMessageLine = [this](auto*) { Pop3ClientMessageLine(); };
}

void TMailboxDownload::InstallScanHandlers()
{
    client_.OnRequestDone = [this](auto*, auto, auto error) { ScanRequestDone(static_cast<uint16_t>(error)); };
    client_.OnMessageBegin = nullptr;
    client_.OnMessageEnd = nullptr;
    client_.OnMessageLine = [this](auto*) { ScanMessageLine(); };
}

void TMailboxDownload::btnDownloadClick()
{
    if (running_)
        return;
    // Without a catalogue to record them in, no mail may leave the server;
    // nor while an import is writing it.
    QString refusal = catalogue_.Problem();
    if (refusal.isEmpty() && catalogue_.Busy())
        refusal = QStringLiteral("the catalogue is busy with an import. Try again when it has finished.");
    if (!refusal.isEmpty())
        return Refuse(TRunOutcome::NoCatalogue, QStringLiteral("Download refused: ") + refusal);
    // A Security value that names no choice is never taken for "None".
    const TMailboxSettings settings = host_.MailboxSettings();
    if (!settings.SecurityProblem.isEmpty())
        return Refuse(TRunOutcome::NotConnected,
                      QStringLiteral("Download refused: ") + settings.SecurityProblem + QLatin1Char('.'));
    // One download at a time in a working folder, whichever Pellimar runs
    // it: the captures in temp\ and their lists belong to the run that
    // holds the lock.
    if (!downloadLock_.TryLock())
        return Refuse(TRunOutcome::FolderBusy,
                      downloadLock_.TakenByOther()
                          ? QStringLiteral("Another Pellimar is downloading into this folder; this download does not "
                                           "start. Try again when it has finished.")
                          : QStringLiteral("Download refused: ") + downloadLock_.Error());
    running_ = true;
    const TFaxMailRules rules = host_.FaxMailRules();
    capture_.StartRun(rules);
    catalogueBusy_.emplace(catalogue_);
    outcome_ = TRunOutcome::Completed;
    deleted_.clear();
    examined_.clear();
    sinceCommit_.start();
    scanComplete_ = false;
    quitSent_ = false;
    host_.SetControlsEnabled(false);
    host_.SetBusy(true);
    capture_.RemoveIncomplete();
    if (!settings.SecuritySaved && SecurityFromChoice(settings.Security) == pop3SecurityNone)
        host_.Log(QStringLiteral("Warning: this download is not encrypted (Security \"None\"); choose TLS on the "
                                 "Configure page and save it."));
    requestFailure_.clear();
    // A token is a key to the whole account: never in the clear.
    if (SignsInWithToken(settings) && SecurityFromChoice(settings.Security) == pop3SecurityNone) {
        outcome_ = TRunOutcome::NotLoggedIn;
        host_.Log(QStringLiteral("An OAuth 2 token is only ever sent over TLS: choose TLS or STARTTLS for Security on "
                                 "the Configure page. Quitting."));
        FinishRun();
        return;
    }
    credentials_.Fetch(settings, [this, rules](const TCredentials& credentials) { OpenMailbox(credentials, rules); });
}

void TMailboxDownload::OpenMailbox(const TCredentials& credentials, const TFaxMailRules& rules)
{
    if (!credentials.Ok) {
        // Nothing was sent to the server.
        outcome_ = TRunOutcome::NotLoggedIn;
        host_.Log(credentials.Failure);
        FinishRun();
        return;
    }
    secret_ = credentials.Secret;
    TSocksProxy proxy;
    const bool proxyUsable = ChooseProxy(proxy);
    if (proxyUsable && host_.MailboxSettings().IsImap()) {
        TMailboxSettings settings = host_.MailboxSettings();
        settings.Password = QString::fromLatin1(secret_);
        return imap_.Start(settings, proxy, client_.Timeout(), rules);
    }
    client_.SetSocksProxy(proxy);
    if (!proxyUsable || !RunRequest(QStringLiteral("Open"), [this] { client_.Open(); })) {
        outcome_ = TRunOutcome::NotConnected;
        host_.Log(requestFailure_.isEmpty() ? QStringLiteral("Could not connect. Quitting.")
                                            : QStringLiteral("Could not connect: %1. Quitting.").arg(requestFailure_));
        FinishRun();
    }
}

void TMailboxDownload::Refuse(TRunOutcome outcome, const QString& line)
{
    host_.Log(line);
    outcome_ = outcome;
    if (OnRunFinished)
        OnRunFinished(outcome_);
}

bool TMailboxDownload::ChooseProxy(TSocksProxy& proxy)
{
    QString host, port;
    SplitHostPort(host_.MailboxSettings().Host, host, port);
    const TProxySetting setting = ProxyFromEnvironment(host.toStdString());
    const QString variable = QString::fromStdString(setting.variable);
    proxy = setting.kind == TProxySetting::Socks ? setting.proxy : TSocksProxy{};
    switch (setting.kind) {
    case TProxySetting::Direct:
        return true;
    case TProxySetting::Socks: {
        // Never the password.
        const QString user = setting.proxy.Usercode.empty()
                                 ? QString()
                                 : QStringLiteral(" as user ") + Latin1(setting.proxy.Usercode);
        host_.Log(QStringLiteral("Connecting through the SOCKS 5 proxy %1 port %2%3 (from %4).")
                      .arg(Latin1(setting.proxy.Server), Latin1(setting.proxy.Port), user, variable));
        return true;
    }
    case TProxySetting::NotSocks:
        host_.Log(QStringLiteral("%1 names no SOCKS 5 proxy (socks5:// or socks5h://); connecting directly.")
                      .arg(variable));
        return true;
    case TProxySetting::Invalid:
        host_.Log(QStringLiteral("Could not use the proxy in %1: %2.").arg(variable, Latin1(setting.problem)));
        return false;
    }
    return true;
}

bool TMailboxDownload::RunRequest(const QString& label, const std::function<void()>& request)
{
    const TMailboxSettings settings = host_.MailboxSettings();
    QString host, port;
    const TPop3Security security = SecurityFromChoice(settings.Security);
    client_.SetSecurity(security);
    SplitHostPort(settings.Host, host, port, DefaultPortFor(security));
    client_.SetHost(host.toStdString());
    client_.SetPort(port.toStdString());
    client_.SetUserName(settings.UserName.toLatin1().toStdString());
    client_.SetPassWord(secret_);
    client_.SetSignIn(SignsInWithToken(settings) ? pop3SignInOAuth : pop3SignInPassword);
    // A deletion keeps the scan's handlers and message number.
    if (label != QLatin1String("Delete")) {
        client_.SetMsgNum(0);
        client_.SetMsgLines(0);
        InstallMainHandlers();
        host_.SetProgress(label + QStringLiteral(" started"));
    }
    try {
        request();
    } catch (const std::exception& e) {
        requestFailure_ = QString::fromLocal8Bit(e.what());
        host_.SetProgress(label + QStringLiteral(" failed (") + requestFailure_ + QLatin1Char(')'));
        return false;
    }
    host_.SetProgress(label + QStringLiteral(" ok"));
    return true;
}

void TMailboxDownload::Pop3ClientRequestDone(int rqType, uint16_t error)
{
    if (rqType == kOpenRequest && error != 0) {
        // Not reachable, or reachable but the login was refused: either way
        // nothing can be fetched; log out cleanly and end the run.
        host_.SetBusy(false);
        if (error == kHostNotFound) {
            outcome_ = TRunOutcome::NotConnected;
            host_.Log(QStringLiteral("Could not connect. Quitting."));
        } else if (error == kTimedOut) {
            // The server stopped answering: the run ends early, as when the connection breaks.
            outcome_ = TRunOutcome::ScanFailed;
            host_.Log(QStringLiteral("The mailbox did not answer: ") + Latin1(client_.ErrorMessage())
                      + QStringLiteral(". Quitting."));
        } else if (error >= kFirstSocketError) {
            outcome_ = TRunOutcome::NotConnected;
            host_.Log(QStringLiteral("Could not connect to the mailbox: ") + Latin1(client_.ErrorMessage())
                      + QStringLiteral(". Quitting."));
        } else {
            outcome_ = TRunOutcome::NotLoggedIn;
            host_.Log(QStringLiteral("Could not log in to the mailbox: ") + Latin1(client_.ErrorMessage())
                      + QStringLiteral(". Quitting."));
        }
        SendQuit();
        return;
    }
    if (rqType == kOpenRequest) {
        host_.Log(QStringLiteral("Connecting to email account"));
        if (const std::string tls = client_.TlsDescription(); !tls.empty())
            host_.Log(QStringLiteral("Connection secured with ") + Latin1(tls));
        host_.Log(QStringLiteral("Connected. Checking for faxes."));
        StartMailboxScan();
        return;
    }
    // The logout completed. The server removed the mails marked for
    // deletion only if it accepted QUIT.
    const bool deletionsDone = quitSent_ && error == 0;
    if (quitSent_ && error != 0 && !deleted_.isEmpty()) {
        host_.Log(QStringLiteral("Error: the server did not confirm the logout (") + Latin1(client_.ErrorMessage())
                  + QStringLiteral("); the faxes of this run stay in temp\\ for the next download."));
        if (outcome_ == TRunOutcome::Completed)
            outcome_ = TRunOutcome::ScanFailed;
    }
    quitSent_ = false;
    SaveListsAndExtract(deletionsDone);
}

void TMailboxDownload::ImapWalkDone(const TImapWalk& walk, TRunOutcome outcome)
{
    examined_ = walk.examined;
    deleted_ = walk.gone;
    scanComplete_ = walk.complete;
    if (outcome_ == TRunOutcome::Completed)
        outcome_ = outcome;
    SaveListsAndExtract(true);
}

void TMailboxDownload::SaveListsAndExtract(bool deletionsDone)
{
    // Extracted are only captures whose mail is gone from the server (else a
    // later run would fetch it again): those listed by an earlier run, those
    // deleted in this session once QUIT was accepted, and captures whose
    // mail the whole walk did not meet. Any other capture stays in temp\,
    // and the next run, finding it, deletes its mail and then extracts it.
    QStringList captures = ReadListFile(kListFile);
    const QStringList files = QDir(QStringLiteral("temp")).entryList({QStringLiteral("Msg *.txt")}, QDir::Files,
                                                                    QDir::Name);
    for (const QString& name : files) {
        const QString path = QStringLiteral("temp\\") + name;
        const bool gone = (deletionsDone && deleted_.contains(path)) || (scanComplete_ && !examined_.contains(path));
        if (gone && !captures.contains(path))
            captures << path;
    }
    state_.MessageList.clear();
    state_.FaxDataList.clear();
    if (captures.isEmpty()) {
        // After a failed connection or login nothing was looked for.
        if (outcome_ != TRunOutcome::NotConnected && outcome_ != TRunOutcome::NotLoggedIn)
            host_.Log(QStringLiteral("No new faxes detected!"));
        FinishRun();
        return;
    }
    QString problem;
    const bool noFaxData = !QFileInfo::exists(NativePath(kFaxDataFile)); // no capture carried any
    if (!WriteListFile(kListFile, captures, problem) || (noFaxData && !WriteListFile(kFaxDataFile, {}, problem))) {
        host_.Log(QStringLiteral("Error: could not save the lists in temp\\: ") + problem);
        if (outcome_ == TRunOutcome::Completed)
            outcome_ = TRunOutcome::ScanFailed;
    }
    state_.ListFile = kListFile;
    FaxDataFile = kFaxDataFile;
    if (OnListsSaved)
        OnListsSaved();
    else
        FinishRun();
}

void TMailboxDownload::StartMailboxScan()
{
    TempDir = QStringLiteral("temp\\");
    ScanState = 0;
    InstallScanHandlers();
    try {
        client_.Stat();
    } catch (const std::exception& e) {
        host_.Log(QStringLiteral("Exception ->Error: ") + QString::fromLocal8Bit(e.what()));
        outcome_ = TRunOutcome::ScanFailed;
        EndScan();
    }
}

void TMailboxDownload::ScanRequestDone(uint16_t error)
{
    if (error != 0) {
        // A retrieval or deletion that did not complete: its mail stays on
        // the server, and a capture being written is dropped.
        capture_.Abandon();
        deleting_ = false;
        host_.Log(QStringLiteral("Error ") + Latin1(client_.ErrorMessage()));
        outcome_ = TRunOutcome::ScanFailed;
        EndScan();
        return;
    }
    try {
        switch (ScanState) {
        case 0:
            if (client_.MsgCount() >= 1) {
                client_.SetMsgNum(1);
                ScanState = 1;
                client_.Uidl();
            } else {
                host_.Log(QStringLiteral("No message to download."));
                scanComplete_ = true;
                EndScan();
            }
            break;
        case 1:
            CaptureFileName = TempDir + QStringLiteral("Msg ") + SafeFileName(client_.MsgUidl()) + QStringLiteral(".txt");
            examined_.insert(CaptureFileName);
            ScanState = 2;
            if (const bool earlier = QFileInfo::exists(NativePath(CaptureFileName));
                earlier || capture_.Pending().contains(CaptureFileName)) {
                // Captured completely by an earlier run whose logout never
                // happened, so the mail is still here: delete it now. (A
                // unique id the server repeats counts as captured, too.)
                host_.Log(QStringLiteral("Fax already downloaded. Deleting it from the server."));
                if (earlier)
                    capture_.AddEarlier(CaptureFileName);
                DeleteMessage();
            } else {
                capture_.Open(CaptureFileName);
                client_.Retr();
            }
            break;
        case 2:
            if (deleting_) {
                deleting_ = false;
                deleted_.insert(CaptureFileName);
                Advance();
            } else if (capture_.IsFaxMail()) {
                QString failure;
                if (!capture_.Complete(failure)) {
                    host_.Log(failure);
                    outcome_ = TRunOutcome::ScanFailed;
                    EndScan();
                    break;
                }
                if (!CommitGroupIfDue())
                    break;
                DeleteMessage();
            } else {
                QString ignored;
                capture_.Complete(ignored); // not a fax mail: dropped
                Advance();
            }
            break;
        default:
            host_.Log(QStringLiteral("Invalid state"));
            break;
        }
    } catch (const std::exception& e) {
        host_.Log(QStringLiteral("Exception ->Error: ") + QString::fromLocal8Bit(e.what()));
        capture_.Abandon();
        deleting_ = false;
        outcome_ = TRunOutcome::ScanFailed;
        EndScan();
    }
}

void TMailboxDownload::DeleteMessage()
{
    deleting_ = true;
    if (!RunRequest(QStringLiteral("Delete"), [this] { client_.Dele(); })) {
        deleting_ = false;
        outcome_ = TRunOutcome::ScanFailed;
        EndScan();
    }
}

void TMailboxDownload::Advance()
{
    if (client_.MsgNum() < client_.MsgCount()) {
        client_.SetMsgNum(client_.MsgNum() + 1);
        ScanState = 1;
        client_.Uidl();
    } else {
        scanComplete_ = true;
        EndScan();
    }
}

void TMailboxDownload::EndScan()
{
    client_.OnRequestDone = [this](auto*, auto rqType, auto error) {
        Pop3ClientRequestDone(static_cast<int>(rqType), static_cast<uint16_t>(error));
    };
    SendQuit();
}

void TMailboxDownload::SendQuit()
{
    // The server removes the mails marked with DELE only once it accepts
    // QUIT; a session that ends any other way deletes nothing. So DELE may
    // follow a capture at once, as long as every capture whose mail was
    // marked is complete, under its final name and synced to disk, with its
    // fax data, before QUIT is sent: all of them are committed here in one
    // go. When that fails, the connection is dropped without QUIT and every
    // mail stays on the server.
    QString problem;
    if (!CommitCaptures(problem)) {
        DropWithoutQuit(problem);
        return;
    }
    quitSent_ = client_.Connected();
    if (!RunRequest(QStringLiteral("Quit"), [this] { client_.Quit(); })) {
        quitSent_ = false;
        Pop3ClientRequestDone(-1, 0);
    }
}

void TMailboxDownload::DropWithoutQuit(const QString& problem)
{
    host_.Log(problem + QStringLiteral("; no mail is deleted from the server."));
    outcome_ = TRunOutcome::ScanFailed;
    client_.Abort();
    quitSent_ = false;
    Pop3ClientRequestDone(-1, 0);
}

bool TMailboxDownload::CommitGroupIfDue()
{
    // Captures are also committed in groups while the walk goes on, so that
    // a run cut short (a dropped line, a crash) keeps what it fetched: the
    // next run finds them under their final names and only deletes their
    // mails again, instead of fetching everything anew.
    constexpr qsizetype kCommitGroup = 100;
    constexpr qint64 kCommitIntervalMs = 30000;
    if (capture_.Pending().size() < kCommitGroup && !sinceCommit_.hasExpired(kCommitIntervalMs))
        return true;
    QString problem;
    const bool ok = CommitCaptures(problem);
    sinceCommit_.restart();
    if (!ok) // earlier captures of this session may be gone with it: no QUIT
        DropWithoutQuit(problem);
    return ok;
}

bool TMailboxDownload::CommitCaptures(QString& error) { return capture_.Commit(state_, error); }

void TMailboxDownload::ScanMessageLine() { capture_.TakeLine(client_.LastResponse()); }

void TMailboxDownload::Pop3ClientMessageBegin()
{
    host_.Log(QStringLiteral("*** Message %1 begin ***").arg(client_.MsgNum()));
}

void TMailboxDownload::Pop3ClientMessageEnd()
{
    host_.Log(QStringLiteral("*** Message %1 end ***").arg(client_.MsgNum()));
}

void TMailboxDownload::Pop3ClientMessageLine() { host_.Log(Latin1(client_.LastResponse())); }

void TMailboxDownload::NoteExtractionFailed()
{
    if (outcome_ == TRunOutcome::Completed)
        outcome_ = TRunOutcome::ExtractionFailed;
}

void TMailboxDownload::FinishRun()
{
    credentials_.Cancel();
    secret_.assign(secret_.size(), '\0');
    secret_.clear();
    client_.SetPassWord(std::string());
    host_.SetBusy(false);
    host_.SetControlsEnabled(true);
    running_ = false;
    catalogueBusy_.reset();
    downloadLock_.Unlock();
    if (OnRunFinished)
        OnRunFinished(outcome_);
}
