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

// The text after the first "marker=" (any case), or nothing when absent.
std::string ValueAfter(const std::string& line, const std::string& marker)
{
    const size_t at = Upper(line).find(Upper(marker));
    return at == std::string::npos ? std::string() : line.substr(at + marker.size());
}

const QString kListFile = QStringLiteral("temp\\temp.lst");
const QString kFaxDataFile = QStringLiteral("temp\\faxdata.lst");
const QString kPartSuffix = QStringLiteral(".part");
// Written into the header of a capture that a further fax-mail rule took,
// so that its extraction, in this run or a later one, catalogues only the
// attachments that are fax documents.
const std::string kRuleField = "X-Pellimar-Fax-Rule: ";

} // namespace

TMailboxDownload::TMailboxDownload(TRunHost& host, TRunState& state, TFaxCatalogue& catalogue, TPop3Client& client,
                                   QObject* parent)
    : QObject(parent), host_(host), state_(state), catalogue_(catalogue), client_(client)
{
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
    rules_ = host_.FaxMailRules();
    catalogueBusy_.emplace(catalogue_);
    outcome_ = TRunOutcome::Completed;
    deleted_.clear();
    examined_.clear();
    completed_.clear();
    completedFaxData_.clear();
    earlierCaptures_.clear();
    sinceCommit_.start();
    scanComplete_ = false;
    quitSent_ = false;
    host_.SetControlsEnabled(false);
    host_.SetBusy(true);
    RemoveIncompleteCaptures();
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
    credentials_.Fetch(settings, [this](const TCredentials& credentials) { OpenMailbox(credentials); });
}

void TMailboxDownload::OpenMailbox(const TCredentials& credentials)
{
    if (!credentials.Ok) {
        // Nothing was sent to the server.
        outcome_ = TRunOutcome::NotLoggedIn;
        host_.Log(credentials.Failure);
        FinishRun();
        return;
    }
    secret_ = credentials.Secret;
    if (!ChooseProxy() || !RunRequest(QStringLiteral("Open"), [this] { client_.Open(); })) {
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

void TMailboxDownload::RemoveIncompleteCaptures()
{
    // A capture still under its temporary name was cut short (the program
    // was killed while writing it): its mail was not deleted, so it is
    // simply fetched again.
    const QStringList parts = QDir(QStringLiteral("temp")).entryList({QStringLiteral("Msg *.txt") + kPartSuffix},
                                                                    QDir::Files, QDir::Name);
    for (const QString& name : parts) {
        QFile::remove(QStringLiteral("temp/") + name);
        host_.Log(QStringLiteral("Removed the incomplete capture temp\\") + name
                  + QStringLiteral("; its mail is fetched again."));
    }
    // A list or ledger is saved under a temporary name beside it and renamed
    // over it when complete; a run killed in between leaves that copy, while
    // the list itself is whole. Only the run holding the folder's lock gets
    // here, so no such copy is still being written.
    const QStringList copies = QDir(QStringLiteral("temp")).entryList(
        {QStringLiteral("temp.lst.*"), QStringLiteral("faxdata.lst.*"), QStringLiteral("Msg *.txt.faxes.*")}, QDir::Files);
    for (const QString& name : copies)
        QFile::remove(QStringLiteral("temp/") + name);
}

bool TMailboxDownload::ChooseProxy()
{
    QString host, port;
    SplitHostPort(host_.MailboxSettings().Host, host, port);
    const TProxySetting setting = ProxyFromEnvironment(host.toStdString());
    const QString variable = QString::fromStdString(setting.variable);
    client_.SetSocksProxy(setting.kind == TProxySetting::Socks ? setting.proxy : TSocksProxy{});
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
    Capturing = false;
    partError_.clear();
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
        AbandonCapture();
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
                earlier || completed_.contains(CaptureFileName)) {
                // Captured completely by an earlier run whose logout never
                // happened, so the mail is still here: delete it now. (A
                // unique id the server repeats counts as captured, too.)
                host_.Log(QStringLiteral("Fax already downloaded. Deleting it from the server."));
                if (earlier)
                    earlierCaptures_ << NativePath(CaptureFileName);
                DeleteMessage();
            } else {
                OpenPart();
                client_.Retr();
            }
            break;
        case 2:
            if (deleting_) {
                deleting_ = false;
                deleted_.insert(CaptureFileName);
                Advance();
            } else if (Capturing) {
                if (ruleMatched_)
                    TakeHeaderFaxData();
                QString failure;
                if (!CompleteCapture(failure)) {
                    host_.Log(failure);
                    outcome_ = TRunOutcome::ScanFailed;
                    EndScan();
                    break;
                }
                if (!CommitGroupIfDue())
                    break;
                DeleteMessage();
            } else {
                DiscardPart(); // not a fax mail
                Advance();
            }
            break;
        default:
            host_.Log(QStringLiteral("Invalid state"));
            break;
        }
    } catch (const std::exception& e) {
        host_.Log(QStringLiteral("Exception ->Error: ") + QString::fromLocal8Bit(e.what()));
        AbandonCapture();
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
    if (completed_.size() < kCommitGroup && !sinceCommit_.hasExpired(kCommitIntervalMs))
        return true;
    QString problem;
    const bool ok = CommitCaptures(problem);
    sinceCommit_.restart();
    if (!ok) // earlier captures of this session may be gone with it: no QUIT
        DropWithoutQuit(problem);
    return ok;
}

bool TMailboxDownload::CommitCaptures(QString& error)
{
    // The captures' data and their fax data reach the disk before any of
    // them takes its final name: a capture under its final name is
    // complete and has its data.
    QStringList files = earlierCaptures_;
    for (const QString& capture : std::as_const(completed_))
        files << NativePath(capture + kPartSuffix);
    QString failed;
    bool ok = SyncFiles(files, failed);
    if (!ok)
        error = QStringLiteral("Error: could not write the capture file ") + failed;
    if (ok && !completedFaxData_.isEmpty()) {
        QString problem;
        ok = WriteListFile(kFaxDataFile, ReadListFile(kFaxDataFile) + completedFaxData_, problem);
        if (!ok)
            error = QStringLiteral("Error: could not save ") + kFaxDataFile + QStringLiteral(": ") + problem;
    }
    ok = ok && NameCompletedCaptures(error);
    for (const QString& capture : std::as_const(completed_))
        QFile::remove(NativePath(capture + kPartSuffix)); // left only by a failure
    completed_.clear();
    completedFaxData_.clear();
    earlierCaptures_.clear();
    return ok;
}

bool TMailboxDownload::NameCompletedCaptures(QString& error)
{
    bool ok = true;
    for (const QString& capture : std::as_const(completed_)) {
        QString problem;
        if (!RenameReplacing(NativePath(capture + kPartSuffix), NativePath(capture), problem)) {
            error = QStringLiteral("Error: could not name the capture file ") + capture + QStringLiteral(": ")
                    + problem;
            ok = false;
            break;
        }
        state_.MessageList.append(capture);
    }
    if (!completed_.isEmpty())
        SyncFolderOf(NativePath(completed_.first()));
    state_.FaxDataList.append(completedFaxData_);
    return ok;
}

void TMailboxDownload::OpenPart()
{
    // Every retrieved mail is written under a temporary name; only a fax
    // mail that arrived completely gets its capture name. A mail that is no
    // fax mail is dropped again, so a failure to write it does not matter.
    Capturing = false;
    partError_.clear();
    sender_.reset();
    faxDate_.reset();
    header_.Clear();
    inMailHeader_ = true;
    ruleMatched_ = false;
    CaptureFile.setFileName(NativePath(CaptureFileName + kPartSuffix));
    if (!CaptureFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        partError_ = QStringLiteral("Error: could not create the capture file ") + CaptureFileName
                     + QStringLiteral(": ") + CaptureFile.errorString();
}

void TMailboxDownload::WritePartLine(const std::string& line)
{
    if (!partError_.isEmpty() || !CaptureFile.isOpen())
        return;
    std::string bytes = line;
    bytes += "\r\n";
    if (CaptureFile.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        partError_ = QStringLiteral("Error: could not write the capture file ") + CaptureFileName
                     + QStringLiteral(": ") + CaptureFile.errorString();
}

bool TMailboxDownload::CompleteCapture(QString& error)
{
    // The capture stays under its temporary name until QUIT (CommitCaptures).
    Capturing = false;
    bool ok = partError_.isEmpty() && CaptureFile.flush();
    CaptureFile.close();
    ok = ok && CaptureFile.error() == QFileDevice::NoError;
    error = partError_.isEmpty() ? QStringLiteral("Error: could not write the capture file ") + CaptureFileName
                                 : partError_;
    partError_.clear();
    if (!ok) {
        QFile::remove(NativePath(CaptureFileName + kPartSuffix));
        return false;
    }
    completed_ << CaptureFileName;
    if (sender_ || faxDate_) // one group of three; a missing value is an empty line
        completedFaxData_ << CaptureFileName << sender_.value_or(QString()) << faxDate_.value_or(QString());
    return true;
}

void TMailboxDownload::DiscardPart()
{
    if (CaptureFile.isOpen())
        CaptureFile.close();
    QFile::remove(NativePath(CaptureFileName + kPartSuffix));
    partError_.clear();
}

void TMailboxDownload::AbandonCapture()
{
    Capturing = false;
    if (CaptureFile.isOpen() || !partError_.isEmpty())
        DiscardPart();
}

void TMailboxDownload::ScanMessageLine()
{
    const std::string line = client_.LastResponse();
    const bool headerEnds = inMailHeader_ && line.empty();
    if (inMailHeader_ && !headerEnds)
        header_.AddLine(line);
    inMailHeader_ = inMailHeader_ && !headerEnds;
    if (!Capturing && ContainsText(line, "subject:") && ContainsText(line, "{Varnel}")) {
        host_.Log(QStringLiteral("Fax Detected. Preparing to download."));
        Capturing = true;
    } else if (!Capturing && headerEnds && MatchFurtherRules()) {
        Capturing = true;
    } else if (Capturing && ContainsText(line, "{FaxSender}")) {
        // Fax data lines go to the fax data list, not into the capture; the
        // first value of each kind in the mail counts.
        std::string sender = ValueAfter(line, "{FaxSender}=");
        if (!sender.empty())
            sender.pop_back(); // the line's last character is not part of the value
        if (!sender_)
            sender_ = Latin1(sender);
        return;
    } else if (Capturing && ContainsText(line, "{FaxDate}")) {
        if (!faxDate_)
            faxDate_ = Latin1(ValueAfter(line, "{FaxDate}="));
        return;
    }
    WritePartLine(line); // the whole mail, header lines included
}

bool TMailboxDownload::MatchFurtherRules()
{
    const int rule = MatchingFaxMailRule(rules_, header_.Fields());
    if (rule < 0)
        return false;
    const QString description = DescribeFaxMailRule(rules_[rule]);
    host_.Log(QStringLiteral("Fax Detected (rule: %1). Preparing to download.").arg(description));
    ruleMatched_ = true;
    WritePartLine(kRuleField + description.toUtf8().toStdString());
    return true;
}

void TMailboxDownload::TakeHeaderFaxData()
{
    // Fax data lines, when the mail has them, win over what its header says.
    const TMailHeader header = header_.Fields();
    if (!sender_)
        sender_ = SenderIdFromHeader(header);
    if (!faxDate_)
        faxDate_ = FaxDateFromHeader(header.Date, QTimeZone::systemTimeZone());
}

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
