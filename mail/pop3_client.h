#pragma once
// Non-blocking POP3 client. The application sets the properties, calls one
// request method and later receives exactly one OnRequestDone for it, always
// from the event loop; multi-line answers arrive line by line in between.
// One request runs at a time. Open chains connect, USER and PASS (or AUTH
// with an OAuth 2 token when SignIn asks for it).
//
// Security chooses how the session is protected: in the clear, TLS from the
// first byte (POP3S), or STLS after the greeting once CAPA lists it. When TLS
// is asked for and cannot be had, the connect fails and the connection is
// closed; no USER, PASS, RPOP or APOP is ever sent outside TLS then.
#include "mail/receive_timeout.h"
#include "mail/socks_proxy.h"
#include "mail/sync_net_socket.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class Pop3Exception : public std::runtime_error {
public:
    explicit Pop3Exception(const std::string& message) : std::runtime_error(message) {}
};

enum TPop3ProtocolState { pop3Disconnected, pop3WaitingUser, pop3WaitingPass, pop3Transaction };

enum TPop3ClientState {
    pop3Ready, pop3LookingUpHost, pop3Connecting, pop3Connected, pop3ReadyForNext, pop3WaitingGreeting,
    pop3WaitingReply, pop3Aborting, pop3TlsHandshake
};

enum TPop3Security { pop3SecurityNone, pop3SecurityTls, pop3SecurityStartTls };

enum TPop3Request : std::uint8_t {
    pop3Connect, pop3User, pop3Pass, pop3RPop, pop3Quit, pop3Stat, pop3List, pop3Retr, pop3Top, pop3Dele,
    pop3Noop, pop3Last, pop3RSet, pop3Uidl, pop3APop, pop3Open, pop3Capa, pop3Auth
};

// How Open signs in: USER and PASS with the password, or SASL AUTH with the
// password taken as an OAuth 2 bearer token.
enum TPop3SignIn { pop3SignInPassword, pop3SignInOAuth };

using TPop3Display = std::function<void(QObject* Sender, const std::string& Msg)>;
using TPop3RequestDone = std::function<void(QObject* Sender, TPop3Request RqType, std::uint16_t Error)>;
using TPop3Notify = std::function<void(QObject* Sender)>;
using TPop3SessionEvent = std::function<void(QObject* Sender, std::uint16_t Error)>;

class TCustomPop3Client : public QObject {
public:
    // A reply line may grow the receive buffer up to this many bytes; a
    // longer one fails the request and closes the connection.
    static constexpr std::size_t MaxLineLength = 1024 * 1024;
    static constexpr int DefaultTimeout = 60;  // seconds

    explicit TCustomPop3Client(QObject* owner = nullptr);
    ~TCustomPop3Client() override;
    TCustomPop3Client(const TCustomPop3Client&) = delete;
    TCustomPop3Client& operator=(const TCustomPop3Client&) = delete;

    // --- requests (each raises Pop3Exception when it cannot start)
    virtual void Connect();
    virtual void Open();
    virtual void User();
    virtual void Pass();
    virtual void RPop();
    virtual void APop();
    virtual void Quit();
    virtual void Stat();
    virtual void List();
    virtual void Retr();
    virtual void Top();
    virtual void Dele();
    virtual void Noop();
    virtual void Last();
    virtual void RSet();
    virtual void Uidl();
    // Asks for the server's capabilities (a multi-line reply); they end up
    // in Capabilities(), one line each.
    virtual void Capa();
    // Signs in with PassWord as an OAuth 2 bearer token: asks CAPA for the
    // SASL mechanisms and authenticates with OAUTHBEARER, else XOAUTH2. Only
    // over TLS; a refusal's JSON reason ends up in ErrorMessage.
    virtual void Auth();
    virtual void Abort();

    // --- properties
    const std::string& Host() const { return host_; }
    void SetHost(const std::string& value) { host_ = value; }
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& value) { port_ = value; }
    const std::string& UserName() const { return userName_; }
    void SetUserName(const std::string& value) { userName_ = value; }
    const std::string& PassWord() const { return passWord_; }
    void SetPassWord(const std::string& value) { passWord_ = value; }
    TPop3SignIn SignIn() const { return signIn_; }
    void SetSignIn(TPop3SignIn value) { signIn_ = value; }
    const std::string& ErrorMessage() const { return errorMessage_; }
    const std::string& LastResponse() const { return lastResponse_; }
    const std::string& Timestamp() const { return timestamp_; }
    TPop3ProtocolState ProtocolState() const { return protocolState_; }
    TPop3ClientState State() const { return state_; }
    int MsgCount() const { return msgCount_; }
    int MsgSize() const { return msgSize_; }
    int MsgLines() const { return msgLines_; }
    void SetMsgLines(int value) { msgLines_ = value; }
    int MsgNum() const { return msgNum_; }
    void SetMsgNum(int value) { msgNum_ = value; }
    const std::string& MsgUidl() const { return msgUidl_; }
    int Tag() const { return tag_; }
    void SetTag(int value) { tag_ = value; }
    int StatusCode() const { return statusCode_; }
    TPop3Security Security() const { return security_; }
    void SetSecurity(TPop3Security value) { security_ = value; }
    // The lines of the last CAPA reply (emptied once STLS succeeded, since
    // what the server said in the clear no longer counts).
    const std::vector<std::string>& Capabilities() const { return capabilities_; }
    // "TLSv1.3, TLS_AES_256_GCM_SHA384" while the session runs over TLS, else empty.
    std::string TlsDescription() const;
    // Seconds a request may wait without receiving a byte (0: no limit). A
    // request that waits longer ends with 10060 and the connection is dropped
    // without QUIT, as if it had broken.
    int Timeout() const { return timeout_; }
    void SetTimeout(int seconds) { timeout_ = seconds; }
    bool Connected() const { return connected_; }
    // A SOCKS 5 proxy for the following connections (none when its Server is
    // empty). Through a proxy the host name goes to the proxy unresolved.
    const TSocksProxy& SocksProxy() const { return socksProxy_; }
    void SetSocksProxy(const TSocksProxy& value) { socksProxy_ = value; }
    TPop3Request RequestType() const { return requestType_; }
    // The owned socket (for diagnostics; the client drives it itself).
    TNetSocket* Socket() const { return socket_.get(); }

    // --- events
    TPop3Display OnDisplay;
    TPop3Notify OnMessageBegin, OnMessageEnd, OnMessageLine;
    TPop3Notify OnListBegin, OnListEnd, OnListLine;
    TPop3Notify OnUidlBegin, OnUidlEnd, OnUidlLine;
    TPop3Notify OnStateChange;
    TPop3RequestDone OnRequestDone;
    TPop3Display OnResponse;
    TPop3SessionEvent OnSessionConnected;
    TPop3SessionEvent OnSessionClosed;

protected:
    virtual void NotifySessionConnected(std::uint16_t error);
    virtual void NotifyResponse(const std::string& line);
    virtual void NotifyStateChange();
    virtual void NotifyRequestDone(std::uint16_t error);

private:
    enum class Reply { None, SingleLine, MultiLine, Sasl };
    // Where a running AUTH stands.
    enum class SaslStage { None, Capa, AwaitChallenge, Sent, Acknowledged };
    enum class Continuation { None, Stat, NumberAndSize, NumberAndUidl, MultiLine, StartTls };
    enum class MultiKind { List, Uidl, Message, Capa };

    void SetState(TPop3ClientState value);
    void Display(const std::string& text);
    void ExpectReply(TPop3ProtocolState nextState, Continuation continuation, MultiKind kind);
    void StartRequest(TPop3Request request, const std::string& command, TPop3ProtocolState nextState,
                      Continuation continuation, MultiKind kind = MultiKind::Message);
    void CheckProtocolState(bool allowed, const std::string& text);
    void CheckReadyAndConnected();
    void CheckSecured(const char* command);
    void SendNegotiation(const std::string& command, Continuation continuation, MultiKind kind);
    void AfterCapabilities();
    void SendAuth();
    void SendSasl(const std::string& line, const std::string& shown);
    void HandleSaslReply();
    void BeginTls();
    void TlsDone(std::uint16_t error);
    void FailNegotiation(std::uint16_t error, const std::string& reply);
    void DnsLookupDone(std::uint16_t error);
    void SocketConnected(std::uint16_t error);
    void SocketClosed(std::uint16_t error);
    void DataAvailable();
    void HandleLine(const std::string& line);
    void HandleGreeting();
    void HandleSingleLine();
    void HandleMultiLine();
    void FailLineTooLong();
    void SetConnectError(std::uint16_t error);
    void ConnectNextAddress();
    void StartIdleTimer();
    void TimedOut();
    void RunSteps();
    void EndHighLevel(std::uint16_t error);
    void FireMulti(int which);

    std::unique_ptr<TNetSocket> socket_;
    TSocksProxy socksProxy_;
    std::string socksError_;  // the proxy's refusal of the running connect
    TPop3ClientState state_ = pop3Ready;
    TPop3ProtocolState nextState_ = pop3Disconnected;
    TPop3ProtocolState protocolState_ = pop3Disconnected;
    bool connected_ = false;
    TPop3Request requestType_ = pop3Connect;
    bool requestDoneSent_ = false;
    TLineBuffer received_;
    std::vector<std::string> addresses_;  // of the host, tried in order
    std::size_t nextAddress_ = 0;
    int timeout_ = DefaultTimeout;
    TReceiveTimeout idleTimer_{[this] { TimedOut(); }};
    std::uint16_t errorCode_ = 0;
    int statusCode_ = 0;
    Reply replyHandler_ = Reply::None;
    std::uint32_t stepSet_ = 0;
    int currentStep_ = 0;
    std::uint16_t highLevelError_ = 0;
    bool highLevel_ = false;
    bool runnerInstalled_ = false;
    bool inRequestCall_ = false;  // a request method runs on the caller's stack
    Continuation continuation_ = Continuation::None;
    MultiKind multiKind_ = MultiKind::Message;
    TPop3Security security_ = pop3SecurityNone;
    bool negotiating_ = false;  // CAPA and STLS run as part of the connect
    std::vector<std::string> capabilities_;
    TPop3SignIn signIn_ = pop3SignInPassword;
    SaslStage saslStage_ = SaslStage::None;
    int oauthMechanism_ = 0;        // a TOAuthMechanism
    std::string saslPending_;       // the encoded response sent after an empty challenge
    std::string saslError_;         // the server's error challenge, in words
    std::string host_, port_ = "pop3", userName_, passWord_, lastResponse_, errorMessage_, timestamp_;
    int msgCount_ = 0, msgSize_ = 0, msgNum_ = 0, msgLines_ = 0;
    std::string msgUidl_;
    int tag_ = 0;
};

class TPop3Client : public TCustomPop3Client {
public:
    explicit TPop3Client(QObject* owner = nullptr) : TCustomPop3Client(owner) {}
};
