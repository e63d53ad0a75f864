#include "app/core/imap_download.h"

#include "app/core/download.h"
#include "app/core/fax_rules.h"
#include "app/core/mailbox_credentials.h"
#include "app/core/security_choice.h"
#include "app/platform/native_path.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// Captures are committed and their mails removed in groups of this many,
// or when this much time has passed since the last group.
constexpr std::size_t kMarkGroup = 50;
constexpr qint64 kMarkIntervalMs = 30000;

bool IsAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
}

std::string SearchString(const QString& text)
{
    std::string out = "\"";
    for (char c : text.toStdString()) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

} // namespace

std::string ImapSearchCriteria(const TFaxMailRules& rules)
{
    std::vector<std::string> terms;
    for (const TFaxMailRule& rule : rules) {
        if (rule.BuiltIn) {
            terms.push_back("SUBJECT \"{Varnel}\"");
            continue;
        }
        if (!IsAscii(rule.Sender) || !IsAscii(rule.Subject))
            return "UNDELETED";
        QString sender = rule.Sender;
        if (sender.startsWith(QLatin1Char('@')))
            sender.remove(0, 1);
        std::string term;
        if (!sender.isEmpty())
            term = "FROM " + SearchString(sender);
        if (!rule.Subject.isEmpty())
            term += (term.empty() ? "" : " ") + std::string("SUBJECT ") + SearchString(rule.Subject);
        if (term.empty())
            return "UNDELETED"; // a rule that takes every mail
        terms.push_back(!sender.isEmpty() && !rule.Subject.isEmpty() ? "(" + term + ")" : term);
    }
    if (terms.empty())
        return "UNDELETED";
    // OR joins exactly two keys: "OR a OR b c".
    std::string joined = terms.back();
    for (std::size_t i = terms.size() - 1; i-- > 0;)
        joined = "OR " + terms[i] + " " + joined;
    return "UNDELETED " + joined;
}

std::string ImapUidSet(std::vector<std::uint32_t> uids)
{
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    std::string out;
    for (std::size_t i = 0; i < uids.size();) {
        std::size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1)
            ++j;
        if (!out.empty())
            out += ',';
        out += std::to_string(uids[i]);
        if (j > i)
            out += ':' + std::to_string(uids[j]);
        i = j + 1;
    }
    return out;
}

void ConfigureImapClient(TImapClient& client, const TMailboxSettings& settings, const TSocksProxy& proxy,
                         int timeoutSeconds)
{
    const TPop3Security security = SecurityFromChoice(settings.Security);
    client.SetSecurity(security == pop3SecurityTls        ? imapSecurityTls
                       : security == pop3SecurityStartTls ? imapSecurityStartTls
                                                          : imapSecurityNone);
    QString host, port;
    SplitHostPort(settings.Host, host, port, DefaultImapPortFor(security));
    client.SetHost(host.toStdString());
    client.SetPort(port.toStdString());
    client.SetUserName(settings.UserName.toLatin1().toStdString());
    client.SetPassWord(settings.Password.toLatin1().toStdString());
    client.SetTokenSignIn(SignsInWithToken(settings));
    client.SetSocksProxy(proxy);
    client.SetTimeout(timeoutSeconds);
}

TImapDownload::TImapDownload(TRunHost& host, TRunState& state, TMailCapture& capture, TImapClient& client,
                             QObject* parent)
    : QObject(parent), host_(host), state_(state), capture_(capture), client_(client)
{
}

void TImapDownload::Start(const TMailboxSettings& settings, const TSocksProxy& proxy, int timeoutSeconds,
                          const TFaxMailRules& rules)
{
    settings_ = settings;
    criteria_ = ImapSearchCriteria(rules);
    walk_ = {};
    uids_.clear();
    next_ = 0;
    marking_.clear();
    pendingUids_.clear();
    markingNames_.clear();
    pendingNames_.clear();
    outcome_ = TRunOutcome::Completed;
    ending_ = false;
    sinceCommit_.start();

    ConfigureImapClient(client_, settings, proxy, timeoutSeconds);
    client_.OnDisplay = [this](QObject*, const std::string& text) { host_.SetProgress(Latin1(text)); };
    client_.OnRequestDone = [this](QObject*, TImapRequest request, std::uint16_t error) {
        RequestDone(request, error);
    };
    client_.OnMessageBegin = [this](std::uint64_t) { capture_.Open(CaptureName(uids_[next_])); };
    client_.OnMessageData = [this](const char* data, std::size_t length) { capture_.TakeBytes(data, length); };
    client_.OnMessageEnd = nullptr;
    client_.OnExists = nullptr;
    try {
        client_.Open();
    } catch (const std::exception& e) {
        outcome_ = TRunOutcome::NotConnected;
        host_.Log(QStringLiteral("Could not connect: %1. Quitting.").arg(QString::fromLocal8Bit(e.what())));
        Finish();
    }
}

QString TImapDownload::CaptureName(std::uint32_t uid) const
{
    // The UID names a mail only together with the folder's UIDVALIDITY.
    return QStringLiteral("temp\\Msg ")
           + SafeFileName("imap-" + std::to_string(client_.UidValidity()) + "-" + std::to_string(uid))
           + QStringLiteral(".txt");
}

void TImapDownload::RequestDone(TImapRequest request, std::uint16_t error)
{
    try {
        if (request == imapOpen)
            return Opened(error);
        if (request == imapLogout)
            return Finish();
        if (request == imapFetch)
            return Fetched(error);
        if (error != 0 && request != imapCreate)
            return Fail(TRunOutcome::ScanFailed, QStringLiteral("Error ") + Latin1(client_.ErrorMessage()));
        switch (request) {
        case imapSelect:
            if (!settings_.KeepFolder.isEmpty()) {
                // Made when missing; a refusal means it exists already.
                client_.Create(settings_.KeepFolder.toUtf8().toStdString());
                return;
            }
            [[fallthrough]];
        case imapCreate:
            client_.UidSearch(criteria_);
            return;
        case imapSearch:
            uids_ = client_.SearchResult();
            if (uids_.empty())
                host_.Log(QStringLiteral("No message to download."));
            return FetchNext();
        case imapCopy:
            client_.UidStoreDeleted(ImapUidSet(marking_));
            return;
        case imapStoreDeleted:
            if (client_.HasCapability("UIDPLUS")) {
                client_.UidExpunge(ImapUidSet(marking_));
                return;
            }
            return Marked(request);
        case imapMove:
        case imapExpunge:
            return Marked(request);
        default:
            return;
        }
    } catch (const std::exception& e) {
        capture_.Abandon();
        Fail(TRunOutcome::ScanFailed, QStringLiteral("Exception ->Error: ") + QString::fromLocal8Bit(e.what()));
    }
}

void TImapDownload::Opened(std::uint16_t error)
{
    if (error != 0) {
        const QString reason = Latin1(client_.ErrorMessage());
        if (error == wsa::TimedOut) {
            outcome_ = TRunOutcome::ScanFailed;
            host_.Log(QStringLiteral("The mailbox did not answer: ") + reason + QStringLiteral(". Quitting."));
        } else if (error == imaperr::Refused || error == imaperr::Bad) {
            outcome_ = TRunOutcome::NotLoggedIn;
            host_.Log(QStringLiteral("Could not log in to the mailbox: ") + reason + QStringLiteral(". Quitting."));
        } else {
            outcome_ = TRunOutcome::NotConnected;
            host_.Log(QStringLiteral("Could not connect to the mailbox: ") + reason + QStringLiteral(". Quitting."));
        }
        ending_ = true;
        return End();
    }
    host_.Log(QStringLiteral("Connecting to email account"));
    if (const std::string tls = client_.TlsDescription(); !tls.empty())
        host_.Log(QStringLiteral("Connection secured with ") + Latin1(tls));
    host_.Log(QStringLiteral("Connected. Checking for faxes."));
    client_.Select(settings_.Folder.toUtf8().toStdString());
}

void TImapDownload::FetchNext()
{
    while (next_ < uids_.size()) {
        const std::uint32_t uid = uids_[next_];
        const QString name = CaptureName(uid);
        walk_.examined.insert(name);
        const bool earlier = QFileInfo::exists(NativePath(name));
        if (!earlier && !pendingNames_.contains(name)) {
            client_.UidFetch(uid);
            return;
        }
        // Captured completely by an earlier run that did not get to remove
        // the mail: remove it now.
        host_.Log(QStringLiteral("Fax already downloaded. Removing it from the server."));
        if (earlier)
            capture_.AddEarlier(name);
        pendingUids_.push_back(uid);
        pendingNames_ << name;
        ++next_;
    }
    walk_.complete = true;
    End();
}

void TImapDownload::Fetched(std::uint16_t error)
{
    if (error != 0) {
        // The mail stays on the server; whatever of it arrived is dropped.
        capture_.Abandon();
        return Fail(TRunOutcome::ScanFailed, QStringLiteral("Error ") + Latin1(client_.ErrorMessage()));
    }
    const std::uint32_t uid = uids_[next_];
    ++next_;
    if (client_.FetchedSize() < 0) {
        capture_.Abandon();
        host_.Log(QStringLiteral("The mail with UID %1 did not arrive whole (%2); it stays on the server.")
                      .arg(uid)
                      .arg(client_.ErrorMessage().empty() ? QStringLiteral("no body in the answer")
                                                          : Latin1(client_.ErrorMessage())));
        if (outcome_ == TRunOutcome::Completed)
            outcome_ = TRunOutcome::ScanFailed;
        return FetchNext();
    }
    const bool fax = capture_.IsFaxMail();
    QString failure;
    if (!capture_.Complete(failure))
        return Fail(TRunOutcome::ScanFailed, failure);
    if (fax) {
        pendingUids_.push_back(uid);
        pendingNames_ << capture_.Name();
    }
    if (pendingUids_.size() >= kMarkGroup || (!pendingUids_.empty() && sinceCommit_.hasExpired(kMarkIntervalMs)))
        return CommitAndMark();
    FetchNext();
}

void TImapDownload::CommitAndMark()
{
    sinceCommit_.restart();
    QString problem;
    const bool committed = capture_.Commit(state_, problem);
    marking_.swap(pendingUids_);
    markingNames_.swap(pendingNames_);
    pendingUids_.clear();
    pendingNames_.clear();
    if (!committed) {
        host_.Log(problem + QStringLiteral("; no mail is removed from the server."));
        outcome_ = TRunOutcome::ScanFailed;
        marking_.clear();
        ending_ = true;
    }
    if (marking_.empty() || !client_.Connected())
        return ending_ ? End() : FetchNext();
    const std::string set = ImapUidSet(marking_);
    if (settings_.KeepFolder.isEmpty())
        client_.UidStoreDeleted(set);
    else if (client_.HasCapability("MOVE"))
        client_.UidMove(set, settings_.KeepFolder.toUtf8().toStdString());
    else
        client_.UidCopy(set, settings_.KeepFolder.toUtf8().toStdString());
}

void TImapDownload::Marked(TImapRequest)
{
    for (const QString& name : std::as_const(markingNames_))
        walk_.gone.insert(name);
    marking_.clear();
    markingNames_.clear();
    if (ending_)
        return End();
    FetchNext();
}

void TImapDownload::Fail(TRunOutcome outcome, const QString& line)
{
    host_.Log(line);
    if (outcome_ == TRunOutcome::Completed)
        outcome_ = outcome;
    ending_ = true;
    marking_.clear();
    markingNames_.clear();
    End();
}

// Commits what is pending and removes its mails (while the session lasts),
// then logs out.
void TImapDownload::End()
{
    ending_ = true;
    if (!pendingUids_.empty() || !capture_.Pending().isEmpty()) {
        if (client_.Connected() && !client_.Busy())
            return CommitAndMark();
        QString problem;
        if (!capture_.Commit(state_, problem))
            host_.Log(problem);
        pendingUids_.clear();
        pendingNames_.clear();
    }
    if (client_.Connected() && !client_.Busy()) {
        client_.Logout();
        return;
    }
    Finish();
}

void TImapDownload::Finish()
{
    client_.OnMessageBegin = nullptr;
    client_.OnMessageData = nullptr;
    if (client_.Connected())
        client_.Abort();
    if (OnFinished)
        OnFinished(walk_, outcome_);
}
