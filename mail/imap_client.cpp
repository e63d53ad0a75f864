#include "mail/imap_client.h"

#include "mail/net_socket_resolve.h"
#include "mail/sasl_oauth.h"
#include "mail/tls_net_socket.h"

#include <QByteArray>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <climits>

namespace {

constexpr int kReceiveChunk = 64 * 1024;

// An IMAP quoted string; CR, LF and NUL cannot be sent in one and are dropped.
std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\0')
            continue;
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

bool ParseNumber(const std::string& text, std::uint32_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (n > UINT32_MAX)
        return false;
    value = static_cast<std::uint32_t>(n);
    return true;
}

}  // namespace

TImapClient::TImapClient(QObject* owner) : QObject(owner), socket_(std::make_unique<TNetSocket>())
{
    socket_->OnSessionClosed = [this](QObject*, std::uint16_t error) { SocketClosed(error); };
    socket_->OnSocksError = [this](QObject*, int, const std::string& message) { socksError_ = message; };
    socket_->OnTlsDone = [this](QObject*, std::uint16_t error) { TlsDone(error); };
    parser_.OnResponse = [this](const TImapResponse& response) { HandleResponse(response); };
    parser_.OnLiteralBegin = [this](std::uint64_t size) {
        bodyOpen_ = running_ && request_ == imapFetch;
        bodyWhole_ = false;
        bodySize_ = size;
        if (bodyOpen_ && OnMessageBegin)
            OnMessageBegin(size);
    };
    parser_.OnLiteralData = [this](const char* data, std::size_t length) {
        if (bodyOpen_ && OnMessageData)
            OnMessageData(data, length);
    };
    parser_.OnLiteralEnd = [this] {
        if (!bodyOpen_)
            return;
        bodyOpen_ = false;
        bodyWhole_ = true;
        if (OnMessageEnd)
            OnMessageEnd();
    };
}

TImapClient::~TImapClient()
{
    socket_->OnSessionClosed = nullptr;
    socket_->OnDataAvailable = nullptr;
    socket_->OnSessionConnected = nullptr;
    socket_->OnDnsLookupDone = nullptr;
    socket_->OnSocksError = nullptr;
    socket_->OnTlsDone = nullptr;
}

std::string TImapClient::TlsDescription() const
{
    return socket_->TlsActive() ? socket_->TlsProtocol() + ", " + socket_->TlsCipher() : std::string();
}

bool TImapClient::HasCapability(const std::string& name) const
{
    const std::string wanted = ImapUpper(name);
    return std::find(capabilities_.begin(), capabilities_.end(), wanted) != capabilities_.end();
}

void TImapClient::Display(const std::string& text)
{
    if (OnDisplay)
        OnDisplay(this, text);
}

// ---------------------------------------------------------------- requests

void TImapClient::CheckReady(bool needConnection)
{
    if (running_)
        throw ImapException("IMAP component busy");
    if (needConnection && !connected_)
        throw ImapException("IMAP component not connected");
    if (needConnection && idling_)
        throw ImapException("IMAP component is idling");
}

void TImapClient::Open()
{
    CheckReady(false);
    if (connected_)
        throw ImapException("IMAP component already connected");
    running_ = true;
    request_ = imapOpen;
    errorMessage_.clear();
    byeText_.clear();
    socksError_.clear();
    capabilities_.clear();
    failure_ = 0;
    authenticating_ = false;
    tokenStage_ = 0;
    idling_ = false;
    loggedIn_ = false;
    retiredTag_.clear();
    parser_.SetLimits(limits_);
    parser_.Reset();
    stage_ = Stage::Connecting;
    StartTimer();
    socket_->OnDnsLookupDone = [this](QObject*, std::uint16_t error) { LookupDone(error); };
    try {
        if (socksProxy_.Used()) {
            addresses_ = {host_};
            nextAddress_ = 0;
            ConnectNextAddress();
        } else {
            socket_->DnsLookup(host_);
        }
    } catch (...) {
        running_ = false;
        stage_ = Stage::Idle;
        timer_.Stop();
        socket_->OnDnsLookupDone = nullptr;
        throw;
    }
}

void TImapClient::StartCommand(TImapRequest request, const std::string& command, const std::string& shown)
{
    CheckReady(true);
    running_ = true;
    request_ = request;
    errorMessage_.clear();
    stage_ = Stage::Command;
    SendTagged(command, shown);
}

void TImapClient::SendTagged(const std::string& command, const std::string& shown)
{
    tag_ = "P" + std::to_string(++tagCounter_);
    Display("> " + tag_ + " " + (shown.empty() ? command : shown));
    StartTimer();
    socket_->SendStr(tag_ + " " + command + "\r\n");
}

void TImapClient::Select(const std::string& mailbox)
{
    uidValidity_ = 0;
    exists_ = 0;
    StartCommand(imapSelect, "SELECT " + Quoted(mailbox));
}

void TImapClient::UidSearch(const std::string& criteria)
{
    searchResult_.clear();
    StartCommand(imapSearch, "UID SEARCH " + criteria);
}

void TImapClient::UidFetch(std::uint32_t uid)
{
    fetchUid_ = uid;
    fetchedUid_ = 0;
    fetchedSize_ = -1;
    bodyWhole_ = false;
    bodyOpen_ = false;
    StartCommand(imapFetch, "UID FETCH " + std::to_string(uid) + " (UID BODY.PEEK[])");
}

void TImapClient::UidMove(const std::string& uidSet, const std::string& mailbox)
{
    StartCommand(imapMove, "UID MOVE " + uidSet + " " + Quoted(mailbox));
}

void TImapClient::UidCopy(const std::string& uidSet, const std::string& mailbox)
{
    StartCommand(imapCopy, "UID COPY " + uidSet + " " + Quoted(mailbox));
}

void TImapClient::UidStoreDeleted(const std::string& uidSet)
{
    StartCommand(imapStoreDeleted, "UID STORE " + uidSet + " +FLAGS.SILENT (\\Deleted)");
}

void TImapClient::UidExpunge(const std::string& uidSet)
{
    if (!HasCapability("UIDPLUS"))
        throw ImapException("the server cannot expunge single mails (no UIDPLUS)");
    StartCommand(imapExpunge, "UID EXPUNGE " + uidSet);
}

void TImapClient::Create(const std::string& mailbox) { StartCommand(imapCreate, "CREATE " + Quoted(mailbox)); }

void TImapClient::Noop() { StartCommand(imapNoop, "NOOP"); }

void TImapClient::Logout()
{
    if (!connected_) {
        CheckReady(false);
        running_ = true;
        request_ = imapLogout;
        Finish(0);
        return;
    }
    if (idling_) {
        // DONE first; the logout follows in the same breath.
        idling_ = false;
        socket_->SendStr("DONE\r\n");
        retiredTag_ = tag_;
        tag_.clear();
    }
    StartCommand(imapLogout, "LOGOUT");
}

void TImapClient::Idle()
{
    if (!HasCapability("IDLE"))
        throw ImapException("the server does not offer IDLE");
    StartCommand(imapIdle, "IDLE");
}

void TImapClient::IdleDone()
{
    if (running_ || !idling_)
        throw ImapException("IMAP component is not idling");
    running_ = true;
    request_ = imapIdleDone;
    idling_ = false;
    Display("> DONE");
    StartTimer();
    socket_->SendStr("DONE\r\n");
}

void TImapClient::Abort()
{
    timer_.Stop();
    socket_->CancelDnsLookup();
    if (running_)
        Finish(wsa::Interrupted, "IMAP request aborted");
    connected_ = false;
    idling_ = false;
    socket_->Abort();
}

// ---------------------------------------------------------------- completion

void TImapClient::Finish(std::uint16_t error, const std::string& message)
{
    if (!running_)
        return;
    running_ = false;
    timer_.Stop();
    if (error != 0 && errorMessage_.empty())
        errorMessage_ = message.empty() ? "IMAP error #" + std::to_string(error) : message;
    if (stage_ != Stage::Idle && stage_ != Stage::Command)
        stage_ = connected_ && error == 0 ? Stage::Command : Stage::Idle;
    const TImapRequest request = request_;
    QPointer<TImapClient> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, request, error] {
            if (!self || !self->OnRequestDone)
                return;
            try {
                self->OnRequestDone(self.data(), request, error);
            } catch (const std::exception& e) {
                if (self)
                    self->Display(std::string("OnRequestDone: ") + e.what());
            }
        },
        Qt::QueuedConnection);
}

// Ends the running request and drops the connection, which cannot be
// followed any further.
void TImapClient::Fail(std::uint16_t error, const std::string& message)
{
    if (errorMessage_.empty())
        errorMessage_ = message;
    Display(message);
    failure_ = error;
    Finish(error, message);
    // Reported by the request; no session-closed event on top.
    connected_ = false;
    idling_ = false;
    if (socket_->State() != wsClosed)
        socket_->Abort();
}

// ---------------------------------------------------------------- connecting

void TImapClient::LookupDone(std::uint16_t error)
{
    if (stage_ != Stage::Connecting)
        return;
    if (error != 0)
        return Finish(error, "could not find " + host_ + ": " + SocketErrorText(error) + " (error #" +
                                 std::to_string(error) + ")");
    addresses_ = socket_->LookupAddresses();
    nextAddress_ = 0;
    ConnectNextAddress();
}

void TImapClient::ConnectNextAddress()
{
    try {
        socket_->PrepareTcpConnect(addresses_.at(nextAddress_++), port_, socksProxy_);
        socket_->OnSessionConnected = [this](QObject*, std::uint16_t e) { SocketConnected(e); };
        socket_->OnDataAvailable = [this](QObject*, std::uint16_t) { DataAvailable(); };
        socket_->Connect();
    } catch (const std::runtime_error& e) {
        const int number = socket_->LastError();
        Finish(number > 0 && number <= 0xFFFF ? static_cast<std::uint16_t>(number)
                                              : static_cast<std::uint16_t>(wsa::InvalidArgument),
               e.what());
    }
}

void TImapClient::SocketConnected(std::uint16_t error)
{
    if (stage_ != Stage::Connecting)
        return;
    if (error != 0 && nextAddress_ < addresses_.size()) {
        QPointer<TImapClient> self(this);
        QMetaObject::invokeMethod(
            this, [self] { if (self && self->stage_ == Stage::Connecting && self->running_) self->ConnectNextAddress(); },
            Qt::QueuedConnection);
        return;
    }
    if (error != 0) {
        const std::string text = socksError_.empty() ? SocketErrorText(error) : "SOCKS proxy: " + socksError_;
        Finish(error, text + " (error #" + std::to_string(error) + ")");
        socket_->Close();
        stage_ = Stage::Idle;
        return;
    }
    connected_ = true;
    if (security_ == imapSecurityTls) {
        stage_ = Stage::Handshake;
        timer_.Stop();  // the handshake has its own time limit
        socket_->SetHandshakeTimeout(TReceiveTimeout::Milliseconds(timeout_));
        Display("TLS handshake with " + host_);
        socket_->StartTls(host_);
        return;
    }
    stage_ = Stage::Greeting;
}

void TImapClient::TlsDone(std::uint16_t error)
{
    if (stage_ != Stage::Handshake && stage_ != Stage::StartTls)
        return;
    if (error != 0)
        return Fail(error, socket_->TlsErrorMessage() + " (error #" + std::to_string(error) + ")");
    Display("TLS session: " + TlsDescription());
    if (stage_ == Stage::Handshake) {
        stage_ = Stage::Greeting;
        StartTimer();
        return;
    }
    // What the server said in the clear no longer counts.
    capabilities_.clear();
    stage_ = Stage::Capability;
    SendTagged("CAPABILITY", {});
}

void TImapClient::SocketClosed(std::uint16_t error)
{
    const bool wasConnected = connected_;
    connected_ = false;
    idling_ = false;
    timer_.Stop();
    if (!wasConnected && stage_ == Stage::Connecting)
        return;  // a failed attempt; the next address is being tried
    stage_ = Stage::Idle;
    if (!running_) {
        if (wasConnected && OnSessionClosed)
            OnSessionClosed(error != 0 ? error : static_cast<std::uint16_t>(wsa::ConnectionReset));
        return;
    }
    if (request_ == imapLogout && !byeText_.empty())
        return Finish(0);
    if (!byeText_.empty())
        return Finish(imaperr::Bye, "the server ended the session: " + byeText_);
    const std::uint16_t code = failure_ != 0 ? failure_ : error != 0 ? error : wsa::Interrupted;
    Finish(code, "the connection closed before the request completed");
}

// ---------------------------------------------------------------- receiving

void TImapClient::DataAvailable()
{
    char buffer[kReceiveChunk];
    const int n = socket_->Receive(buffer, sizeof buffer);
    if (n <= 0)
        return;
    timer_.BytesArrived();
    if (!parser_.Feed(buffer, static_cast<std::size_t>(n)) && connected_)
        Fail(imaperr::Protocol, "IMAP protocol error: " + parser_.Error() + "; the connection is dropped");
}

void TImapClient::HandleResponse(const TImapResponse& response)
{
    if (!connected_)
        return;  // the session was dropped while the rest of the bytes were parsed
    if (response.Tag == "*")
        HandleUntagged(response);
    else if (response.Tag == "+")
        HandleContinuation(response);
    else
        HandleTagged(response);
}

void TImapClient::TakeCapabilities(const std::string& text)
{
    capabilities_.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            capabilities_.push_back(ImapUpper(text.substr(start, end - start)));
        start = end + 1;
    }
}

void TImapClient::TakeCode(const std::string& code)
{
    const std::string upper = ImapUpper(code);
    if (upper.rfind("CAPABILITY ", 0) == 0)
        TakeCapabilities(code.substr(11));
    else if (upper.rfind("UIDVALIDITY ", 0) == 0)
        ParseNumber(code.substr(12), uidValidity_);
}

void TImapClient::HandleUntagged(const TImapResponse& response)
{
    if (response.IsStatus()) {
        Display("< " + response.Line);
        TakeCode(response.Code);
        if (response.Status == "BYE") {
            byeText_ = response.Text.empty() ? "BYE" : response.Text;
            if (stage_ == Stage::Greeting)
                Fail(imaperr::Bye, "the server refused the session: " + byeText_);
            return;
        }
        if (stage_ == Stage::Greeting) {
            if (response.Status == "PREAUTH")
                return Fail(imaperr::NoSecureLogin, "the server offers a pre-authenticated session, which is not used");
            if (response.Status != "OK")
                return Fail(imaperr::Protocol, "unexpected greeting: " + response.Line);
            AfterGreeting();
        }
        return;
    }
    const std::string first = response.AtomAt(0), second = response.AtomAt(1);
    if (first == "CAPABILITY") {
        std::string text;
        for (std::size_t i = 1; i < response.Data.size(); ++i)
            text += response.Data[i].text + ' ';
        TakeCapabilities(text);
    } else if (first == "SEARCH") {
        for (std::size_t i = 1; i < response.Data.size(); ++i) {
            std::uint32_t uid = 0;
            if (ParseNumber(response.Data[i].text, uid))
                searchResult_.push_back(uid);
        }
    } else if (second == "EXISTS") {
        ParseNumber(first, exists_);
        if (OnExists)
            OnExists(exists_);
    } else if (second == "EXPUNGE") {
        if (exists_ > 0)
            --exists_;
        if (OnExists)
            OnExists(exists_);
    } else if (second == "FETCH") {
        TakeFetch(response);
    }
}

void TImapClient::TakeFetch(const TImapResponse& response)
{
    if (response.Data.size() < 3 || response.Data[2].kind != TImapValue::List)
        return;
    const TImapValue& items = response.Data[2];
    const bool carriesBody = std::any_of(items.items.begin(), items.items.end(),
                                         [](const TImapValue& v) { return v.kind == TImapValue::StreamedLiteral; });
    if (!carriesBody)
        return;
    // The body that came last belongs to the UID this response names.
    std::uint32_t uid = 0;
    if (const TImapValue* value = ImapItem(items, "UID"))
        ParseNumber(value->text, uid);
    fetchedUid_ = uid;
}

void TImapClient::HandleContinuation(const TImapResponse& response)
{
    if (running_ && tokenStage_ != 0)
        return ContinueTokenSignIn(response);
    if (running_ && authenticating_) {
        authenticating_ = false;
        const QByteArray plain = QByteArray(1, '\0') + QByteArray::fromStdString(userName_) + QByteArray(1, '\0') +
                                 QByteArray::fromStdString(passWord_);
        Display("> (credentials)");
        socket_->SendStr(plain.toBase64().toStdString() + "\r\n");
        return;
    }
    if (running_ && request_ == imapIdle) {
        idling_ = true;
        timer_.Stop();  // an idle session may stay quiet for many minutes
        Display("< + " + std::string("idling"));
        Finish(0);
        return;
    }
    Fail(imaperr::Protocol, "IMAP protocol error: a continuation request nobody asked for");
}

void TImapClient::HandleTagged(const TImapResponse& response)
{
    if (!retiredTag_.empty() && response.Tag == retiredTag_) {
        retiredTag_.clear();
        return;
    }
    if (tag_.empty() || response.Tag != tag_ || (!running_ && !idling_))
        return Fail(imaperr::UnexpectedTag,
                    "IMAP protocol error: a response to a command never sent (" + response.Line + ")");
    Display("< " + response.Line);
    TakeCode(response.Code);
    tag_.clear();
    const bool ok = response.Status == "OK";
    const std::uint16_t refusal = response.Status == "BAD" ? imaperr::Bad : imaperr::Refused;
    switch (stage_) {
    case Stage::Capability:
        if (!ok)
            return Fail(refusal, "the server refused CAPABILITY: " + response.Text);
        return AfterCapabilities();
    case Stage::StartTls:
        if (!ok)
            return Fail(imaperr::StartTlsNotOffered,
                        "the server refused STARTTLS (" + response.Text + "); nothing is sent in the clear");
        // Whatever came in the clear after the reply is not trusted.
        parser_.Reset();
        timer_.Stop();
        socket_->SetHandshakeTimeout(TReceiveTimeout::Milliseconds(timeout_));
        Display("TLS handshake with " + host_);
        socket_->StartTls(host_);
        return;
    case Stage::Login:
        authenticating_ = false;
        tokenStage_ = 0;
        if (!ok)
            return Finish(refusal, "the server refused the login: " + response.Text +
                                       (tokenError_.empty() ? "" : " (the server says: " + tokenError_ + ")"));
        stage_ = Stage::Command;
        if (response.Code.empty() || ImapUpper(response.Code).rfind("CAPABILITY", 0) != 0) {
            // The capabilities may change with the login: ask again.
            stage_ = Stage::Capability;
            loggedIn_ = true;
            SendTagged("CAPABILITY", {});
            return;
        }
        return Finish(0);
    default:
        break;
    }
    if (request_ == imapFetch && ok)
        fetchedSize_ = bodyWhole_ && fetchedUid_ == fetchUid_ ? static_cast<std::int64_t>(bodySize_) : -1;
    if (request_ == imapLogout) {
        Finish(0);
        socket_->Close();
        return;
    }
    Finish(ok ? 0 : refusal, ok ? std::string() : response.Line);
}

void TImapClient::AfterGreeting()
{
    if (!capabilities_.empty())
        return AfterCapabilities();
    stage_ = Stage::Capability;
    SendTagged("CAPABILITY", {});
}

void TImapClient::AfterCapabilities()
{
    if (loggedIn_) {
        loggedIn_ = false;
        stage_ = Stage::Command;
        return Finish(0);
    }
    if (security_ == imapSecurityStartTls && !socket_->TlsActive()) {
        if (!HasCapability("STARTTLS"))
            return Fail(imaperr::StartTlsNotOffered,
                        "the server does not offer STARTTLS; nothing is sent in the clear (error #" +
                            std::to_string(imaperr::StartTlsNotOffered) + ")");
        stage_ = Stage::StartTls;
        SendTagged("STARTTLS", {});
        return;
    }
    LogIn();
}

void TImapClient::LogIn()
{
    if (security_ != imapSecurityNone && !socket_->TlsActive())
        return Fail(imaperr::NoSecureLogin, "login refused: the connection is not secured by TLS");
    stage_ = Stage::Login;
    if (tokenSignIn_)
        return LogInWithToken();
    if (HasCapability("AUTH=PLAIN")) {
        if (HasCapability("SASL-IR")) {
            const QByteArray plain = QByteArray(1, '\0') + QByteArray::fromStdString(userName_) + QByteArray(1, '\0') +
                                     QByteArray::fromStdString(passWord_);
            SendTagged("AUTHENTICATE PLAIN " + plain.toBase64().toStdString(), "AUTHENTICATE PLAIN (credentials)");
        } else {
            authenticating_ = true;
            SendTagged("AUTHENTICATE PLAIN", {});
        }
        return;
    }
    if (HasCapability("LOGINDISABLED"))
        return Fail(imaperr::NoSecureLogin, "the server offers no login on this connection (LOGINDISABLED)");
    SendTagged("LOGIN " + Quoted(userName_) + " " + Quoted(passWord_), "LOGIN " + Quoted(userName_) + " ****");
}

// A bearer token goes with the best OAuth mechanism the server lists, in the
// command itself with SASL-IR, else after the server's empty challenge.
void TImapClient::LogInWithToken()
{
    if (!socket_->TlsActive())
        return Fail(imaperr::NoSecureLogin, "login refused: an OAuth 2 token is only ever sent over TLS");
    std::vector<std::string> mechanisms;
    for (const std::string& capability : capabilities_)
        if (ImapUpper(capability).rfind("AUTH=", 0) == 0)
            mechanisms.push_back(capability.substr(5));
    const TOAuthMechanism mechanism = ChooseOAuthMechanism(mechanisms);
    if (mechanism == TOAuthMechanism::None)
        return Fail(imaperr::Refused, "the server offers no OAuth 2 sign-in (neither AUTH=OAUTHBEARER nor AUTH=XOAUTH2)");
    tokenMechanism_ = static_cast<int>(mechanism);
    tokenError_.clear();
    const std::string command = std::string("AUTHENTICATE ") + OAuthMechanismName(mechanism);
    std::string response = QByteArray::fromStdString(OAuthInitialResponse(mechanism, userName_, host_, port_, passWord_))
                               .toBase64()
                               .toStdString();
    if (HasCapability("SASL-IR")) {
        tokenStage_ = 2;
        SendTagged(command + " " + response, command + " ********");
    } else {
        tokenStage_ = 1;
        tokenPending_ = std::move(response);
        SendTagged(command, {});
    }
}

void TImapClient::ContinueTokenSignIn(const TImapResponse& response)
{
    switch (tokenStage_) {
    case 1:
        tokenStage_ = 2;
        Display("> ********");
        socket_->SendStr(tokenPending_ + "\r\n");
        tokenPending_.assign(tokenPending_.size(), '\0');
        tokenPending_.clear();
        return;
    case 2: {
        // A challenge after the token is the server's error report: it is
        // acknowledged, and the refusal follows (RFC 7628).
        const QByteArray decoded = QByteArray::fromBase64(QByteArray::fromStdString(response.Text));
        tokenError_ = DescribeOAuthError(decoded.toStdString());
        tokenStage_ = 3;
        const std::string ack =
            QByteArray::fromStdString(OAuthErrorAcknowledgement(static_cast<TOAuthMechanism>(tokenMechanism_)))
                .toBase64()
                .toStdString();
        Display("> " + ack);
        socket_->SendStr(ack + "\r\n");
        return;
    }
    default:
        // Challenges without end: the exchange is cancelled.
        Display("> *");
        socket_->SendStr("*\r\n");
        return;
    }
}

// ---------------------------------------------------------------- time-out

void TImapClient::StartTimer() { timer_.Start(timeout_); }

void TImapClient::TimedOut()
{
    if (!running_ || idling_)
        return;
    socket_->OnDnsLookupDone = nullptr;
    socket_->CancelDnsLookup();
    Fail(wsa::TimedOut, "the server did not answer within " + std::to_string(timeout_) + " seconds (error #" +
                            std::to_string(wsa::TimedOut) + ")");
}
