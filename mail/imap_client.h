#pragma once
// Non-blocking IMAP4rev1 client (also fit for IMAP4rev2 servers) on the
// same socket, TLS and SOCKS stack as the POP3 client, with its
// conventions: the application sets the properties, calls one request
// method and later receives exactly one OnRequestDone for it, from the
// event loop; OnDisplay carries the progress lines. One request runs at a
// time. Open connects, secures the session as Security says, and logs in.
//
// Credentials never travel outside TLS unless Security is None. Message
// bodies are streamed through OnMessageBegin/Data/End as they arrive.
// Untagged responses are taken whenever they come; the folder's mail count,
// as EXISTS and EXPUNGE change it, is passed on through OnExists (for IDLE).
#include "mail/imap_response_parser.h"
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

class ImapException : public std::runtime_error {
public:
    explicit ImapException(const std::string& message) : std::runtime_error(message) {}
};

enum TImapSecurity { imapSecurityNone, imapSecurityTls, imapSecurityStartTls };

enum TImapRequest : std::uint8_t {
    imapOpen, imapSelect, imapSearch, imapFetch, imapMove, imapCopy, imapStoreDeleted, imapExpunge, imapCreate,
    imapNoop, imapLogout, imapIdle, imapIdleDone
};

// Error numbers of the completion event besides the socket (10004-11004),
// SOCKS (20001-20015) and TLS (21001-21010) ones: 500 when the server
// answered NO, 501 for BAD, and this block for a session that cannot go on.
namespace imaperr {
constexpr int Refused = 500;
constexpr int Bad = 501;
constexpr int Protocol = 22001;       // the response stream broke a rule or a limit
constexpr int UnexpectedTag = 22002;  // a completion for a command never sent
constexpr int Bye = 22003;            // the server ended the session
constexpr int NoSecureLogin = 22004;  // no login possible without sending the password in the clear
constexpr int StartTlsNotOffered = 22005;
}  // namespace imaperr

using TImapDisplay = std::function<void(QObject* Sender, const std::string& Msg)>;
using TImapRequestDone = std::function<void(QObject* Sender, TImapRequest RqType, std::uint16_t Error)>;

class TImapClient : public QObject {
public:
    static constexpr int DefaultTimeout = 60;  // seconds

    explicit TImapClient(QObject* owner = nullptr);
    ~TImapClient() override;
    TImapClient(const TImapClient&) = delete;
    TImapClient& operator=(const TImapClient&) = delete;

    // --- requests (each raises ImapException when it cannot start)
    void Open();
    void Select(const std::string& mailbox);
    // UID SEARCH with the criteria as written; the UIDs end up in SearchResult().
    void UidSearch(const std::string& criteria);
    // UID FETCH uid BODY.PEEK[]: the body comes through the message events;
    // FetchedSize() tells whether it came whole.
    void UidFetch(std::uint32_t uid);
    // uidSet is an IMAP sequence set of UIDs ("4,7:9").
    void UidMove(const std::string& uidSet, const std::string& mailbox);
    void UidCopy(const std::string& uidSet, const std::string& mailbox);
    void UidStoreDeleted(const std::string& uidSet);
    // Needs UIDPLUS: expunges only the given UIDs.
    void UidExpunge(const std::string& uidSet);
    void Create(const std::string& mailbox);
    void Noop();
    void Logout();
    // Enters IDLE; the request is done once the server accepted it, and
    // OnExists then reports new mail until IdleDone ends it.
    void Idle();
    void IdleDone();
    // Drops the connection at once; a running request ends with 10004.
    void Abort();

    // --- properties
    const std::string& Host() const { return host_; }
    void SetHost(const std::string& value) { host_ = value; }
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& value) { port_ = value; }
    const std::string& UserName() const { return userName_; }
    void SetUserName(const std::string& value) { userName_ = value; }
    const std::string& PassWord() const { return passWord_; }
    void SetPassWord(const std::string& value) { passWord_ = value; }
    // Open signs in with PassWord as an OAuth 2 bearer token (AUTHENTICATE
    // OAUTHBEARER, else XOAUTH2; only over TLS) instead of as a password.
    bool TokenSignIn() const { return tokenSignIn_; }
    void SetTokenSignIn(bool value) { tokenSignIn_ = value; }
    TImapSecurity Security() const { return security_; }
    void SetSecurity(TImapSecurity value) { security_ = value; }
    const TSocksProxy& SocksProxy() const { return socksProxy_; }
    void SetSocksProxy(const TSocksProxy& value) { socksProxy_ = value; }
    // Seconds a request may wait without receiving a byte (0: no limit);
    // not while idling.
    int Timeout() const { return timeout_; }
    void SetTimeout(int seconds) { timeout_ = seconds; }
    const std::string& ErrorMessage() const { return errorMessage_; }
    bool Connected() const { return connected_; }
    bool Busy() const { return running_; }
    bool Idling() const { return idling_; }
    std::string TlsDescription() const;
    const std::vector<std::string>& Capabilities() const { return capabilities_; }
    bool HasCapability(const std::string& name) const;
    std::uint32_t UidValidity() const { return uidValidity_; }
    std::uint32_t Exists() const { return exists_; }
    const std::vector<std::uint32_t>& SearchResult() const { return searchResult_; }
    // After a UidFetch: the UID the server named, and the body's size when
    // it arrived whole (-1 when it did not).
    std::uint32_t FetchedUid() const { return fetchedUid_; }
    std::int64_t FetchedSize() const { return fetchedSize_; }
    TImapResponseParser::Limits& ParserLimits() { return limits_; }

    // --- events
    TImapDisplay OnDisplay;
    TImapRequestDone OnRequestDone;
    std::function<void(std::uint64_t size)> OnMessageBegin;
    std::function<void(const char* data, std::size_t length)> OnMessageData;
    std::function<void()> OnMessageEnd;
    std::function<void(std::uint32_t count)> OnExists;
    // The connection closed while no request ran (an idle session dropped).
    std::function<void(std::uint16_t error)> OnSessionClosed;

private:
    enum class Stage { Idle, Connecting, Handshake, Greeting, Capability, StartTls, Login, Command };

    void StartCommand(TImapRequest request, const std::string& command, const std::string& shown = {});
    void SendTagged(const std::string& command, const std::string& shown);
    void CheckReady(bool needConnection);
    void Display(const std::string& text);
    void Finish(std::uint16_t error, const std::string& message = {});
    void Fail(std::uint16_t error, const std::string& message);
    void ConnectNextAddress();
    void LookupDone(std::uint16_t error);
    void SocketConnected(std::uint16_t error);
    void SocketClosed(std::uint16_t error);
    void TlsDone(std::uint16_t error);
    void DataAvailable();
    void HandleResponse(const TImapResponse& response);
    void HandleUntagged(const TImapResponse& response);
    void HandleTagged(const TImapResponse& response);
    void HandleContinuation(const TImapResponse& response);
    void AfterGreeting();
    void AfterCapabilities();
    void LogIn();
    void LogInWithToken();
    void ContinueTokenSignIn(const TImapResponse& response);
    void TakeCapabilities(const std::string& text);
    void TakeCode(const std::string& code);
    void TakeFetch(const TImapResponse& response);
    void StartTimer();
    void TimedOut();

    std::unique_ptr<TNetSocket> socket_;
    TImapResponseParser::Limits limits_;
    TImapResponseParser parser_;
    TSocksProxy socksProxy_;
    std::string socksError_;
    TImapSecurity security_ = imapSecurityNone;
    std::string host_, port_ = "imap", userName_, passWord_, errorMessage_, byeText_;
    std::vector<std::string> addresses_;
    std::size_t nextAddress_ = 0;
    Stage stage_ = Stage::Idle;
    TImapRequest request_ = imapOpen;
    bool running_ = false;
    bool connected_ = false;
    bool idling_ = false;
    bool authenticating_ = false;  // AUTHENTICATE PLAIN waits for its "+"
    bool tokenSignIn_ = false;
    // Where an AUTHENTICATE with a token stands: 0 none, 1 waiting for the
    // empty challenge, 2 token sent, 3 error acknowledged.
    int tokenStage_ = 0;
    int tokenMechanism_ = 0;       // a TOAuthMechanism
    std::string tokenPending_;     // the encoded response, sent after the empty challenge
    std::string tokenError_;       // the server's error challenge, in words
    std::string tag_;              // of the command that runs
    std::string retiredTag_;       // of an IDLE ended together with the logout
    bool loggedIn_ = false;        // CAPABILITY asked again after the login
    unsigned tagCounter_ = 0;
    std::uint16_t failure_ = 0;    // set when the session broke under a request
    std::vector<std::string> capabilities_;
    std::uint32_t uidValidity_ = 0, exists_ = 0;
    std::vector<std::uint32_t> searchResult_;
    std::uint32_t fetchUid_ = 0, fetchedUid_ = 0;
    std::int64_t fetchedSize_ = -1;
    std::uint64_t bodySize_ = 0;
    bool bodyOpen_ = false, bodyWhole_ = false;
    int timeout_ = DefaultTimeout;
    TReceiveTimeout timer_{[this] { TimedOut(); }};
};
