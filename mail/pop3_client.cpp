#include "mail/pop3_client.h"

#include "mail/net_socket_resolve.h"
#include "mail/sasl_oauth.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <span>

namespace {

constexpr std::size_t kInitialBuffer = 4096;

// Bits of the high-level step set.
enum Step : int {
    stConnect = 1, stUser = 2, stPass = 3, stRPop = 4, stQuit = 5, stAPop = 6, stStat = 7, stList = 8,
    stUidl = 9, stRetr = 10, stTop = 11, stDele = 12, stNoop = 13, stRSet = 14, stLast = 15, stAuth = 16
};
constexpr Step kStepOrder[] = {stConnect, stUser, stPass, stAuth, stRPop, stDele, stNoop, stList, stRSet,
                               stAPop,    stRetr, stTop,  stStat, stUidl, stLast, stQuit};

constexpr std::uint32_t Bit(int step)
{
    return 1u << step;
}


bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Decimal read: skips leading blanks, stops at the first non-digit.
int ReadDecimal(const std::string& s, std::size_t& i)
{
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    unsigned value = 0;
    while (i < s.size() && IsDigit(s[i]))
        value = value * 10u + static_cast<unsigned>(s[i++] - '0');
    return static_cast<int>(value);
}

void ParseTwoNumbers(const std::string& s, int& first, int& second)
{
    std::size_t i = 0;
    while (i < s.size() && !IsDigit(s[i]))
        ++i;
    first = ReadDecimal(s, i);
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    if (i >= s.size()) {
        first = second = 0;
        return;
    }
    second = ReadDecimal(s, i);
}

void ParseNumberAndId(const std::string& s, int& number, std::string& id)
{
    number = 0;
    id.clear();
    std::size_t i = 0;
    while (i < s.size() && !IsDigit(s[i]))
        ++i;
    if (i >= s.size())
        return;
    number = ReadDecimal(s, i);
    while (i < s.size() && s[i] == ' ')
        ++i;
    while (i < s.size() && s[i] >= '!' && s[i] <= '~')
        id += s[i++];
}

std::string WinsockReply(std::uint16_t error)
{
    return "-ERR " + SocketErrorText(error) + " (Winsock error #" + std::to_string(error) + ")";
}

// What the log shows of a command: never a password.
std::string ShownCommand(const std::string& command)
{
    for (const char* secret : {"PASS ", "RPOP "})
        if (command.rfind(secret, 0) == 0)
            return std::string(secret) + "********";
    return command;
}

// The mechanism names of the CAPA line "SASL ...".
std::vector<std::string> SaslMechanisms(const std::vector<std::string>& capabilities)
{
    std::vector<std::string> names;
    for (const std::string& line : capabilities) {
        std::string word = line.substr(0, line.find(' '));
        for (char& c : word)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (word != "SASL")
            continue;
        std::size_t i = 4;
        while (i < line.size()) {
            while (i < line.size() && IsBlank(line[i]))
                ++i;
            const std::size_t start = i;
            while (i < line.size() && !IsBlank(line[i]))
                ++i;
            if (i > start)
                names.push_back(line.substr(start, i - start));
        }
    }
    return names;
}

std::string Base64(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

}  // namespace

TCustomPop3Client::TCustomPop3Client(QObject* owner)
    : QObject(owner), socket_(std::make_unique<TNetSocket>()), received_(kInitialBuffer, MaxLineLength)
{
    socket_->OnSessionClosed = [this](QObject*, std::uint16_t error) { SocketClosed(error); };
    socket_->OnSocksError = [this](QObject*, int, const std::string& message) { socksError_ = message; };
    socket_->OnTlsDone = [this](QObject*, std::uint16_t error) { TlsDone(error); };
}

TCustomPop3Client::~TCustomPop3Client()
{
    // The socket's close must not call back into a half-destroyed client.
    socket_->OnSessionClosed = nullptr;
    socket_->OnDataAvailable = nullptr;
    socket_->OnSessionConnected = nullptr;
    socket_->OnDnsLookupDone = nullptr;
    socket_->OnSocksError = nullptr;
    socket_->OnTlsDone = nullptr;
}

std::string TCustomPop3Client::TlsDescription() const
{
    if (!socket_->TlsActive())
        return {};
    return socket_->TlsProtocol() + ", " + socket_->TlsCipher();
}

// ---------------------------------------------------------------- notifications

void TCustomPop3Client::SetState(TPop3ClientState value)
{
    if (value == state_)
        return;
    state_ = value;
    NotifyStateChange();
}

void TCustomPop3Client::Display(const std::string& text)
{
    if (OnDisplay)
        OnDisplay(this, text);
}

void TCustomPop3Client::NotifySessionConnected(std::uint16_t error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, error);
}

void TCustomPop3Client::NotifyResponse(const std::string& line)
{
    if (OnResponse)
        OnResponse(this, line);
}

void TCustomPop3Client::NotifyStateChange()
{
    if (OnStateChange)
        OnStateChange(this);
}

void TCustomPop3Client::NotifyRequestDone(std::uint16_t error)
{
    if (requestDoneSent_)
        return;
    requestDoneSent_ = true;
    idleTimer_.Stop();
    if (runnerInstalled_) {
        if (state_ != pop3Aborting)
            SetState(pop3ReadyForNext);
        RunSteps();
        return;
    }
    SetState(pop3Ready);
    highLevel_ = false;
    // Reported from the event loop, after the code that completed the
    // request has returned. The request type is taken now, so that a request
    // started before the event arrives cannot relabel it.
    const TPop3Request request = requestType_;
    QPointer<TCustomPop3Client> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, request, error] {
            if (!self || !self->OnRequestDone)
                return;
            try {
                self->OnRequestDone(self.data(), request, error);
            } catch (const std::exception& e) {
                // Nothing above the event loop could handle it.
                if (self)
                    self->Display(std::string("OnRequestDone: ") + e.what());
            }
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------- starting requests

void TCustomPop3Client::CheckProtocolState(bool allowed, const std::string& text)
{
    if (allowed)
        return;
    errorMessage_ = text;
    Display(text);
    throw Pop3Exception(text);
}

void TCustomPop3Client::CheckReadyAndConnected()
{
    if (state_ != pop3Ready && state_ != pop3ReadyForNext)
        throw Pop3Exception("POP3 component not ready");
    if (!connected_)
        throw Pop3Exception("POP3 component not connected");
}

// With TLS asked for, credentials never travel outside it.
void TCustomPop3Client::CheckSecured(const char* command)
{
    if (security_ == pop3SecurityNone || socket_->TlsActive())
        return;
    const std::string text = std::string("-ERR ") + command + " refused: the connection is not secured by TLS";
    errorMessage_ = text;
    Display(text);
    throw Pop3Exception(text);
}

void TCustomPop3Client::ExpectReply(TPop3ProtocolState nextState, Continuation continuation, MultiKind kind)
{
    replyHandler_ = Reply::SingleLine;
    nextState_ = nextState;
    continuation_ = continuation;
    multiKind_ = kind;
    SetState(pop3WaitingReply);
    StartIdleTimer();
}

void TCustomPop3Client::StartRequest(TPop3Request request, const std::string& command, TPop3ProtocolState nextState,
                                     Continuation continuation, MultiKind kind)
{
    CheckReadyAndConnected();
    if (!highLevel_)
        requestType_ = request;
    requestDoneSent_ = false;
    ExpectReply(nextState, continuation, kind);
    Display("> " + ShownCommand(command));
    QCoreApplication::processEvents();
    // The connection may have closed meanwhile; that close already reported
    // the request.
    if (!connected_ || socket_->State() != wsConnected)
        return;
    socket_->SendStr(command + "\r\n");
}

void TCustomPop3Client::User()
{
    CheckProtocolState(protocolState_ == pop3Disconnected || protocolState_ == pop3WaitingUser,
                       "-ERR USER command invalid now");
    CheckSecured("USER");
    StartRequest(pop3User, "USER " + TrimSocketText(userName_), pop3WaitingPass, Continuation::None);
}

void TCustomPop3Client::Pass()
{
    CheckProtocolState(protocolState_ <= pop3WaitingPass, "-ERR PASS command invalid now");
    CheckSecured("PASS");
    StartRequest(pop3Pass, "PASS " + TrimSocketText(passWord_), pop3Transaction, Continuation::None);
}

void TCustomPop3Client::RPop()
{
    CheckProtocolState(protocolState_ <= pop3WaitingPass, "-ERR RPOP command invalid now");
    CheckSecured("RPOP");
    StartRequest(pop3RPop, "RPOP " + TrimSocketText(passWord_), pop3Transaction, Continuation::None);
}

void TCustomPop3Client::APop()
{
    CheckProtocolState(protocolState_ == pop3WaitingUser, "-ERR APOP command invalid now");
    CheckProtocolState(!timestamp_.empty(), "-ERR Server do not support APOP (no timestamp)");
    CheckSecured("APOP");
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(timestamp_ + passWord_),
                                                       QCryptographicHash::Md5)
                                  .toHex()
                                  .toUpper();
    StartRequest(pop3APop, "APOP " + TrimSocketText(userName_) + " " + digest.toStdString(), pop3Transaction,
                 Continuation::None);
}

void TCustomPop3Client::Quit()
{
    if (!connected_) {
        if (state_ != pop3Ready && state_ != pop3ReadyForNext)
            throw Pop3Exception("POP3 component not ready");
        requestType_ = pop3Quit;
        requestDoneSent_ = false;
        NotifyRequestDone(0);
        return;
    }
    StartRequest(pop3Quit, "QUIT", pop3Disconnected, Continuation::None);
}

void TCustomPop3Client::Stat()
{
    CheckProtocolState(protocolState_ == pop3Transaction, "-ERR STAT command invalid now");
    StartRequest(pop3Stat, "STAT", pop3Transaction, Continuation::Stat);
}

void TCustomPop3Client::List()
{
    CheckProtocolState(protocolState_ == pop3Transaction, "-ERR LIST command invalid now");
    if (msgNum_ > 0)
        StartRequest(pop3List, "LIST " + std::to_string(msgNum_), pop3Transaction, Continuation::NumberAndSize);
    else
        StartRequest(pop3List, "LIST", pop3Transaction, Continuation::MultiLine, MultiKind::List);
}

void TCustomPop3Client::Retr()
{
    CheckProtocolState(protocolState_ == pop3Transaction, "-ERR RETR command invalid now");
    StartRequest(pop3Retr, "RETR " + std::to_string(msgNum_), pop3Transaction, Continuation::MultiLine);
}

void TCustomPop3Client::Top()
{
    if (msgLines_ < 0)
        throw Pop3Exception("Invalid MsgLines for TOP command");
    CheckProtocolState(protocolState_ == pop3Transaction, "-ERR TOP command invalid now");
    StartRequest(pop3Top, "TOP " + std::to_string(msgNum_) + " " + std::to_string(msgLines_), pop3Transaction,
                 Continuation::MultiLine);
}

void TCustomPop3Client::Dele()
{
    CheckProtocolState(protocolState_ == pop3Transaction, "-ERR DELE command invalid now");
    StartRequest(pop3Dele, "DELE " + std::to_string(msgNum_), pop3Transaction, Continuation::None);
}

void TCustomPop3Client::Noop()
{
    CheckProtocolState(protocolState_ == pop3Transaction, "-ERR NOOP command invalid now");
    StartRequest(pop3Noop, "NOOP", pop3Transaction, Continuation::None);
}

void TCustomPop3Client::Last()
{
    CheckProtocolState(protocolState_ == pop3Transaction, "-ERR LAST command invalid now");
    StartRequest(pop3Last, "LAST", pop3Transaction, Continuation::NumberAndSize);
}

void TCustomPop3Client::RSet()
{
    CheckProtocolState(protocolState_ == pop3Transaction, "-ERR RSET command invalid now");
    StartRequest(pop3RSet, "RSET", pop3Transaction, Continuation::None);
}

void TCustomPop3Client::Uidl()
{
    CheckProtocolState(protocolState_ == pop3Transaction, "-ERR UIDL command invalid now");
    if (msgNum_ > 0)
        StartRequest(pop3Uidl, "UIDL " + std::to_string(msgNum_), pop3Transaction, Continuation::NumberAndUidl);
    else
        StartRequest(pop3Uidl, "UIDL", pop3Transaction, Continuation::MultiLine, MultiKind::Uidl);
}

void TCustomPop3Client::Capa()
{
    CheckProtocolState(protocolState_ != pop3Disconnected, "-ERR CAPA command invalid now");
    StartRequest(pop3Capa, "CAPA", protocolState_, Continuation::MultiLine, MultiKind::Capa);
}

void TCustomPop3Client::Auth()
{
    CheckProtocolState(protocolState_ == pop3WaitingUser, "-ERR AUTH command invalid now");
    if (!socket_->TlsActive()) {
        const std::string text = "-ERR AUTH refused: an OAuth 2 token is only ever sent over TLS";
        errorMessage_ = text;
        Display(text);
        throw Pop3Exception(text);
    }
    saslError_.clear();
    saslStage_ = SaslStage::Capa;
    StartRequest(pop3Auth, "CAPA", pop3WaitingUser, Continuation::MultiLine, MultiKind::Capa);
}

// The capabilities are in: AUTH with the best OAuth mechanism listed.
void TCustomPop3Client::SendAuth()
{
    const auto mechanism = ChooseOAuthMechanism(SaslMechanisms(capabilities_));
    if (mechanism == TOAuthMechanism::None) {
        saslStage_ = SaslStage::None;
        statusCode_ = 500;
        errorCode_ = 500;
        errorMessage_ = "-ERR the server offers no OAuth 2 sign-in (neither OAUTHBEARER nor XOAUTH2 in its SASL list)";
        Display(errorMessage_);
        NotifyRequestDone(500);
        return;
    }
    oauthMechanism_ = static_cast<int>(mechanism);
    const std::string command = std::string("AUTH ") + OAuthMechanismName(mechanism);
    std::string response = Base64(OAuthInitialResponse(mechanism, userName_, host_, port_, passWord_));
    replyHandler_ = Reply::Sasl;
    nextState_ = pop3Transaction;
    SetState(pop3WaitingReply);
    StartIdleTimer();
    // The whole command may be 255 octets (RFC 5034); a longer token goes
    // after the server's empty challenge.
    if (command.size() + 1 + response.size() + 2 <= 255) {
        saslStage_ = SaslStage::Sent;
        SendSasl(command + " " + response, command + " ********");
    } else {
        saslStage_ = SaslStage::AwaitChallenge;
        saslPending_ = std::move(response);
        SendSasl(command, command);
    }
}

void TCustomPop3Client::SendSasl(const std::string& line, const std::string& shown)
{
    Display("> " + shown);
    if (connected_ && socket_->State() == wsConnected)
        socket_->SendStr(line + "\r\n");
}

void TCustomPop3Client::HandleSaslReply()
{
    Display("< " + lastResponse_);
    const auto mechanism = static_cast<TOAuthMechanism>(oauthMechanism_);
    if (lastResponse_.rfind("+OK", 0) == 0) {
        saslStage_ = SaslStage::None;
        replyHandler_ = Reply::None;
        statusCode_ = 0;
        errorCode_ = 0;
        protocolState_ = pop3Transaction;
        NotifyRequestDone(0);
        return;
    }
    if (!lastResponse_.empty() && lastResponse_[0] == '+') {
        StartIdleTimer();
        switch (saslStage_) {
        case SaslStage::AwaitChallenge:
            saslStage_ = SaslStage::Sent;
            SendSasl(saslPending_, "********");
            saslPending_.assign(saslPending_.size(), '\0');
            saslPending_.clear();
            return;
        case SaslStage::Sent: {
            // A challenge after the token is the server's error report
            // (RFC 7628): acknowledged, then the refusal follows.
            const std::size_t start = std::min(lastResponse_.find_first_not_of("+ "), lastResponse_.size());
            const QByteArray decoded = QByteArray::fromBase64(QByteArray::fromStdString(lastResponse_.substr(start)));
            saslError_ = DescribeOAuthError(decoded.toStdString());
            saslStage_ = SaslStage::Acknowledged;
            const std::string ack = Base64(OAuthErrorAcknowledgement(mechanism));
            SendSasl(ack, ack);
            return;
        }
        default:
            // Challenges without end: cancel the exchange (RFC 5034).
            SendSasl("*", "*");
            return;
        }
    }
    saslStage_ = SaslStage::None;
    replyHandler_ = Reply::None;
    statusCode_ = 500;
    errorCode_ = 500;
    if (errorMessage_.empty())
        errorMessage_ = lastResponse_ + (saslError_.empty() ? "" : " (the server says: " + saslError_ + ")");
    NotifyRequestDone(500);
}

// ---------------------------------------------------------------- connecting

void TCustomPop3Client::Connect()
{
    if (state_ != pop3Ready && state_ != pop3ReadyForNext)
        throw Pop3Exception("POP3 component not ready");
    if (connected_)
        throw Pop3Exception("POP3 component already connected");
    if (!highLevel_)
        requestType_ = pop3Connect;
    requestDoneSent_ = false;
    received_.Clear();
    errorCode_ = 0;
    socksError_.clear();
    negotiating_ = false;
    saslStage_ = SaslStage::None;
    SetState(pop3LookingUpHost);
    StartIdleTimer();
    socket_->OnDataSent = nullptr;
    socket_->OnDnsLookupDone = [this](QObject*, std::uint16_t error) { DnsLookupDone(error); };
    const bool outer = !inRequestCall_;
    inRequestCall_ = true;
    try {
        if (socksProxy_.Used()) {
            addresses_ = {host_};
            nextAddress_ = 0;
            ConnectNextAddress();
        } else {
            socket_->DnsLookup(host_);
        }
    } catch (...) {
        // Nothing was started: the client is ready again.
        if (outer)
            inRequestCall_ = false;
        socket_->OnDnsLookupDone = nullptr;
        if (state_ == pop3LookingUpHost || state_ == pop3Connecting)
            SetState(pop3Ready);
        throw;
    }
    if (outer)
        inRequestCall_ = false;
}

void TCustomPop3Client::SetConnectError(std::uint16_t error)
{
    // A refusal by the proxy is told in the proxy's words.
    lastResponse_ = socksError_.empty() ? WinsockReply(error)
                                        : "-ERR SOCKS proxy: " + socksError_ + " (error #" + std::to_string(error) + ")";
    statusCode_ = 500;
    errorCode_ = error;
    if (errorMessage_.empty())
        errorMessage_ = lastResponse_;
}

void TCustomPop3Client::DnsLookupDone(std::uint16_t error)
{
    if (state_ != pop3LookingUpHost && state_ != pop3Aborting)
        return;
    if (error != 0) {
        SetConnectError(error);
        NotifyRequestDone(error);
        return;
    }
    addresses_ = socket_->LookupAddresses();
    nextAddress_ = 0;
    ConnectNextAddress();
}

void TCustomPop3Client::ConnectNextAddress()
{
    try {
        socket_->PrepareTcpConnect(addresses_.at(nextAddress_++), port_, socksProxy_);
        socket_->OnSessionConnected = [this](QObject*, std::uint16_t e) { SocketConnected(e); };
        socket_->OnDataAvailable = [this](QObject*, std::uint16_t) { DataAvailable(); };
        SetState(pop3Connecting);
        socket_->Connect();
    } catch (const std::runtime_error& e) {
        if (inRequestCall_)
            throw;  // the lookup finished at once: the caller of Connect sees it
        // Finished from the event loop: nobody could catch it, so the
        // request ends with the error instead, by its number when it has one.
        const int number = socket_->LastError();
        const std::uint16_t error = number > 0 && number <= 0xFFFF ? static_cast<std::uint16_t>(number)
                                                                    : static_cast<std::uint16_t>(wsa::InvalidArgument);
        errorCode_ = error;
        statusCode_ = 500;
        lastResponse_ = std::string("-ERR ") + e.what();
        if (errorMessage_.empty())
            errorMessage_ = lastResponse_;
        NotifyRequestDone(error);
    }
}

void TCustomPop3Client::SocketConnected(std::uint16_t error)
{
    if (error != 0 && state_ == pop3Connecting && nextAddress_ < addresses_.size()) {
        // Another address of the host is left: try it once the socket has
        // closed this attempt.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (state_ == pop3Connecting && !requestDoneSent_)
                    ConnectNextAddress();
            },
            Qt::QueuedConnection);
        return;
    }
    if (error != 0) {
        SetConnectError(error);
        connected_ = false;
        NotifyRequestDone(error);
        socket_->Close();
        if (!highLevel_)
            SetState(pop3Ready);
        return;
    }
    connected_ = true;
    if (security_ == pop3SecurityTls) {
        BeginTls();
        return;
    }
    SetState(pop3WaitingGreeting);
}

// ---------------------------------------------------------------- TLS

// A command of the connect itself (CAPA, STLS): the connect request stays
// the one that is reported.
void TCustomPop3Client::SendNegotiation(const std::string& command, Continuation continuation, MultiKind kind)
{
    ExpectReply(protocolState_, continuation, kind);
    Display("> " + command);
    socket_->SendStr(command + "\r\n");
}

void TCustomPop3Client::AfterCapabilities()
{
    const bool offered = std::any_of(capabilities_.begin(), capabilities_.end(), [](const std::string& line) {
        std::string word = line.substr(0, line.find(' '));
        for (char& c : word)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return word == "STLS";
    });
    if (!offered) {
        FailNegotiation(tlserr::StlsNotOffered, "-ERR " + TlsErrorText(tlserr::StlsNotOffered) +
                                                    "; nothing is sent in the clear (error #" +
                                                    std::to_string(tlserr::StlsNotOffered) + ")");
        return;
    }
    SendNegotiation("STLS", Continuation::StartTls, MultiKind::Message);
}

// Ends the connect with error and drops the connection, which is not fit
// for credentials.
void TCustomPop3Client::FailNegotiation(std::uint16_t error, const std::string& reply)
{
    negotiating_ = false;
    lastResponse_ = reply;
    statusCode_ = 500;
    errorCode_ = error;
    if (errorMessage_.empty())
        errorMessage_ = reply;
    Display(reply);
    received_.Clear();
    NotifyRequestDone(error);
    if (socket_->State() != wsClosed)
        socket_->Close();
}

void TCustomPop3Client::BeginTls()
{
    SetState(pop3TlsHandshake);
    // The handshake has its own time limit, the client's.
    idleTimer_.Stop();
    // Whatever came in the clear after the STLS reply is not trusted.
    received_.Clear();
    socket_->SetHandshakeTimeout(TReceiveTimeout::Milliseconds(timeout_));
    Display("TLS handshake with " + host_);
    socket_->StartTls(host_);
}

void TCustomPop3Client::TlsDone(std::uint16_t error)
{
    if (state_ != pop3TlsHandshake)
        return;
    if (error != 0) {
        // The socket closes the connection right after this.
        FailNegotiation(error, "-ERR " + socket_->TlsErrorMessage() + " (error #" + std::to_string(error) + ")");
        return;
    }
    Display("TLS session: " + TlsDescription());
    if (!negotiating_) {
        // POP3S: the greeting comes over TLS.
        SetState(pop3WaitingGreeting);
        StartIdleTimer();
        return;
    }
    negotiating_ = false;
    capabilities_.clear();
    SetState(pop3Connected);
    NotifyRequestDone(0);
}

void TCustomPop3Client::SocketClosed(std::uint16_t error)
{
    const bool wasConnected = connected_;
    connected_ = false;
    if (OnSessionClosed)
        OnSessionClosed(this, error);
    if (!wasConnected && state_ == pop3Connecting)
        return;  // a failed attempt; the next address is being tried
    if (!requestDoneSent_ && state_ != pop3Aborting && errorCode_ == 0 && wasConnected) {
        // The connection went away under a running request: a high-level
        // request must end here too rather than start its next step.
        errorCode_ = wsa::Interrupted;
        if (errorMessage_.empty())
            errorMessage_ = "-ERR Connection closed before the request completed";
    }
    NotifyRequestDone(wsa::Interrupted);
    protocolState_ = pop3Disconnected;
}

// ---------------------------------------------------------------- receiving

void TCustomPop3Client::DataAvailable()
{
    const std::span<char> space = received_.Space();
    if (space.empty()) {
        FailLineTooLong();
        return;
    }
    const int n = socket_->Receive(space.data(), static_cast<int>(std::min<std::size_t>(space.size(), 1u << 30)));
    if (n <= 0)
        return;
    received_.Commit(static_cast<std::size_t>(n));
    idleTimer_.BytesArrived();
    std::string line;
    while (received_.TakeLine(line)) {
        HandleLine(line);
        if (!connected_)
            return;  // closed (a negative greeting): the rest is left alone
    }
    if (received_.Overlong())
        FailLineTooLong();
}

void TCustomPop3Client::FailLineTooLong()
{
    received_.Clear();
    statusCode_ = 500;
    errorCode_ = 500;
    lastResponse_.clear();
    if (errorMessage_.empty())
        errorMessage_ = "-ERR Reply line longer than " + std::to_string(MaxLineLength) + " bytes";
    Display(errorMessage_);
    NotifyRequestDone(500);
    // The stream cannot be followed any further.
    socket_->Abort();
}

void TCustomPop3Client::HandleLine(const std::string& line)
{
    lastResponse_ = line;
    NotifyResponse(line);
    switch (state_) {
    case pop3WaitingGreeting:
        HandleGreeting();
        break;
    case pop3WaitingReply:
        if (replyHandler_ == Reply::SingleLine)
            HandleSingleLine();
        else if (replyHandler_ == Reply::MultiLine)
            HandleMultiLine();
        else if (replyHandler_ == Reply::Sasl)
            HandleSaslReply();
        else
            throw Pop3Exception("Program error: FNext is nil");
        break;
    default:
        Display("< " + line);
        break;
    }
}

void TCustomPop3Client::HandleGreeting()
{
    Display("< " + lastResponse_);
    if (lastResponse_.empty() || lastResponse_[0] != '+') {
        statusCode_ = 500;
        if (errorMessage_.empty())
            errorMessage_ = lastResponse_;
        errorCode_ = 500;
        socket_->Close();
        return;
    }
    timestamp_.clear();
    const auto open = lastResponse_.find('<');
    if (open != std::string::npos) {
        const auto close = lastResponse_.find('>', open);
        if (close != std::string::npos)
            timestamp_ = lastResponse_.substr(open, close - open + 1);
    }
    protocolState_ = pop3WaitingUser;
    SetState(pop3Connected);
    NotifySessionConnected(0);
    if (security_ == pop3SecurityStartTls && !socket_->TlsActive() && connected_) {
        negotiating_ = true;
        SendNegotiation("CAPA", Continuation::MultiLine, MultiKind::Capa);
        return;
    }
    NotifyRequestDone(0);
}

void TCustomPop3Client::HandleSingleLine()
{
    Display("< " + lastResponse_);
    if (lastResponse_.empty() || lastResponse_[0] != '+') {
        if (negotiating_) {
            // A server without CAPA has no STLS either.
            if (multiKind_ == MultiKind::Capa && continuation_ == Continuation::MultiLine) {
                capabilities_.clear();
                AfterCapabilities();
            }
            else if (continuation_ == Continuation::StartTls)
                // Refusing STLS is a refusal to secure the connection, not of the login.
                FailNegotiation(tlserr::StlsNotOffered, "-ERR the server refused STLS (" + lastResponse_
                                                            + "); nothing is sent in the clear (error #"
                                                            + std::to_string(tlserr::StlsNotOffered) + ")");
            else
                FailNegotiation(500, lastResponse_);
            return;
        }
        if (saslStage_ == SaslStage::Capa) {
            capabilities_.clear();
            SendAuth();
            return;
        }
        statusCode_ = 500;
        errorCode_ = 500;
        if (errorMessage_.empty())
            errorMessage_ = lastResponse_;
        NotifyRequestDone(500);
        return;
    }
    statusCode_ = 0;
    errorCode_ = 0;
    protocolState_ = nextState_;
    switch (continuation_) {
    case Continuation::None:
        NotifyRequestDone(0);
        break;
    case Continuation::Stat:
        ParseTwoNumbers(lastResponse_, msgCount_, msgSize_);
        NotifyRequestDone(errorCode_);
        break;
    case Continuation::NumberAndSize:
        ParseTwoNumbers(lastResponse_, msgNum_, msgSize_);
        NotifyRequestDone(errorCode_);
        break;
    case Continuation::NumberAndUidl:
        ParseNumberAndId(lastResponse_, msgNum_, msgUidl_);
        NotifyRequestDone(errorCode_);
        break;
    case Continuation::MultiLine:
        replyHandler_ = Reply::MultiLine;
        if (multiKind_ == MultiKind::Capa)
            capabilities_.clear();
        FireMulti(0);
        break;
    case Continuation::StartTls:
        BeginTls();
        break;
    }
}

// which: 0 begin, 1 line, 2 end of the multi-line reply in progress.
void TCustomPop3Client::FireMulti(int which)
{
    const TPop3Notify* events[3][3] = {{&OnListBegin, &OnListLine, &OnListEnd},
                                       {&OnUidlBegin, &OnUidlLine, &OnUidlEnd},
                                       {&OnMessageBegin, &OnMessageLine, &OnMessageEnd}};
    if (multiKind_ == MultiKind::Capa)
        return;
    const TPop3Notify& event = *events[static_cast<int>(multiKind_)][which];
    if (event)
        event(this);
}

void TCustomPop3Client::HandleMultiLine()
{
    if (lastResponse_ == ".") {
        FireMulti(2);
        lastResponse_.clear();
        replyHandler_ = Reply::None;
        if (negotiating_ && multiKind_ == MultiKind::Capa) {
            AfterCapabilities();
            return;
        }
        if (saslStage_ == SaslStage::Capa) {
            SendAuth();
            return;
        }
        NotifyRequestDone(0);
        return;
    }
    if (lastResponse_.size() >= 2 && lastResponse_[0] == '.' && lastResponse_[1] == '.')
        lastResponse_.erase(0, 1);
    if (multiKind_ == MultiKind::List)
        ParseTwoNumbers(lastResponse_, msgNum_, msgSize_);
    else if (multiKind_ == MultiKind::Uidl)
        ParseNumberAndId(lastResponse_, msgNum_, msgUidl_);
    else if (multiKind_ == MultiKind::Capa)
        capabilities_.push_back(lastResponse_);
    FireMulti(1);
}

// ---------------------------------------------------------------- high level

void TCustomPop3Client::Open()
{
    if (connected_)
        throw Pop3Exception("pop3 component already connected");
    if (state_ != pop3Ready && state_ != pop3ReadyForNext)
        throw Pop3Exception("POP3 component not ready");
    requestType_ = pop3Open;
    errorCode_ = 0;
    stepSet_ = Bit(stConnect) | (signIn_ == pop3SignInOAuth ? Bit(stAuth) : Bit(stUser) | Bit(stPass));
    currentStep_ = 0;
    highLevelError_ = 0;
    highLevel_ = true;
    lastResponse_.clear();
    errorMessage_.clear();
    inRequestCall_ = true;
    try {
        RunSteps();
    } catch (...) {
        inRequestCall_ = false;
        stepSet_ = 0;
        runnerInstalled_ = false;
        highLevel_ = false;
        SetState(pop3Ready);
        throw;
    }
    inRequestCall_ = false;
}

void TCustomPop3Client::EndHighLevel(std::uint16_t error)
{
    stepSet_ = 0;
    runnerInstalled_ = false;
    requestDoneSent_ = false;
    NotifyRequestDone(error);
}

void TCustomPop3Client::RunSteps()
{
    if (state_ == pop3Aborting) {
        stepSet_ = 0;
        highLevelError_ = 426;
        errorMessage_ = "426 Operation aborted.";
    }
    runnerInstalled_ = true;
    if (errorCode_ != 0) {
        highLevelError_ = errorCode_;
        const bool quitPending = stepSet_ & Bit(stQuit);
        stepSet_ = quitPending && currentStep_ != stQuit ? Bit(stQuit) : 0;
    }
    for (Step step : kStepOrder) {
        if (!(stepSet_ & Bit(step)))
            continue;
        stepSet_ &= ~Bit(step);
        currentStep_ = step;
        try {
            switch (step) {
            case stConnect: Connect(); break;
            case stUser: User(); break;
            case stPass: Pass(); break;
            case stAuth: Auth(); break;
            case stRPop: RPop(); break;
            case stQuit: Quit(); break;
            case stAPop: APop(); break;
            case stStat: Stat(); break;
            case stList: List(); break;
            case stUidl: Uidl(); break;
            case stRetr: Retr(); break;
            case stTop: Top(); break;
            case stDele: Dele(); break;
            case stNoop: Noop(); break;
            case stRSet: RSet(); break;
            case stLast: Last(); break;
            }
        } catch (const std::runtime_error& e) {
            if (inRequestCall_)
                throw;
            // Running from a socket event: end the request with an error
            // instead of raising where nobody can catch it.
            if (errorMessage_.empty())
                errorMessage_ = e.what();
            EndHighLevel(connected_ ? 500 : wsa::Interrupted);
        }
        return;
    }
    EndHighLevel(highLevelError_);
}

// ---------------------------------------------------------------- time-out

void TCustomPop3Client::StartIdleTimer() { idleTimer_.Start(timeout_); }

void TCustomPop3Client::TimedOut()
{
    if (requestDoneSent_)
        return;
    // The time-out is what gets reported, not the cancelled lookup.
    socket_->OnDnsLookupDone = nullptr;
    socket_->CancelDnsLookup();
    SetConnectError(wsa::TimedOut);
    Display(lastResponse_);
    NotifyRequestDone(wsa::TimedOut);
    // Dropped without QUIT: the server keeps every mail of this session.
    socket_->Abort();
}

void TCustomPop3Client::Abort()
{
    idleTimer_.Stop();
    SetState(pop3Aborting);
    socket_->CancelDnsLookup();
    socket_->Abort();
    SetState(pop3Ready);
}
