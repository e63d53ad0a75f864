#include "mail/socks_net_socket.h"

#include "mail/net_socket_resolve.h"
#include "mail/socks_messages.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace {

// The proxy closed the connection before the negotiation ended.
constexpr int kConnectionAborted = 10053;

const char* const kTooMuchDataText = "too much data availaible";
const char* const kVersionErrorText = "socks version error";

}  // namespace

TCustomSocksNetSocket::TCustomSocksNetSocket(QObject* owner) : TCustomNetSocket(owner) {}

// ---------------------------------------------------------------- settings

void TCustomSocksNetSocket::SetSocksServer(const std::string& value)
{
    if (value == socksServer_)
        return;
    if (State() != wsClosed) {
        ReportError("Can't change socks server if not closed");
        return;
    }
    socksServer_ = TrimSocketText(value);
    socksServerAssigned_ = !socksServer_.empty();
}

void TCustomSocksNetSocket::SetSocksPort(const std::string& value)
{
    if (value == socksPort_)
        return;
    if (State() != wsClosed) {
        ReportError("Can't change socks port if not closed");
        return;
    }
    socksPort_ = TrimSocketText(value);
    socksPortAssigned_ = !socksPort_.empty();
}

void TCustomSocksNetSocket::ResetSocks()
{
    phase_ = 0;
    replyCount_ = 0;
    socksServer_.clear();
    socksPort_.clear();
    socksServerAssigned_ = socksPortAssigned_ = false;
    surplus_.clear();
    surplusRead_ = 0;
}

void TCustomSocksNetSocket::ResetToDefaults()
{
    TCustomNetSocket::ResetToDefaults();
    ResetSocks();
}

// ---------------------------------------------------------------- connect and listen

// Requests are built in a fixed area: what does not fit is refused before
// anything is sent rather than cut, which would log in as someone else or
// connect to another host.
bool TCustomSocksNetSocket::CheckRequestsFit()
{
    if (socksAuthentication_ == socksAuthenticateUsercode &&
        socks::AuthenticationRequest(socksUsercode_, socksPassword_).empty()) {
        ReportError("connect: socks user code and password too long (at most " +
                    std::to_string(socks::kMaxCredentials) + " bytes together)");
        return false;
    }
    if (socks::ConnectRequest(Addr(), 0).empty()) {
        ReportError("connect: host name too long for the socks server (at most " +
                    std::to_string(socks::kMaxHostName) + " bytes)");
        return false;
    }
    return true;
}

void TCustomSocksNetSocket::Connect()
{
    // Without a proxy, or when the base class refuses the call anyway
    // (socket in use, no Addr or Port), nothing here applies.
    if (!socksServerAssigned_ || State() != wsClosed || Addr().empty() || Port().empty()) {
        TCustomNetSocket::Connect();
        return;
    }
    std::string proto = Proto();
    std::transform(proto.begin(), proto.end(), proto.begin(), [](unsigned char c) { return std::tolower(c); });
    if (proto != "tcp") {
        ReportError("tcp is the only protocol supported thru socks server");
        return;
    }
    if (!CheckRequestsFit())
        return;
    try {
        // The proxy is resolved afresh for every connection, so that an
        // earlier direct attempt's address is never reused.
        TSocketAddress server = NetSocketResolveAddress(socksServer_);
        server.SetPort(NetSocketResolvePort(socksPort_, Proto()));
        targetPort_ = NetSocketResolvePort(Port(), Proto());
        SetResolvedRemote(server);
    } catch (const std::runtime_error& e) {
        ReportError(std::string("connect: ") + e.what());
        return;
    }
    boundAddr_.clear();
    boundPort_.clear();
    surplus_.clear();
    surplusRead_ = 0;
    phase_ = 1;
    replyCount_ = 0;
    TCustomNetSocket::Connect();
}

void TCustomSocksNetSocket::Listen()
{
    if (socksServerAssigned_) {
        ReportError("listening is not supported thru socks server");
        return;
    }
    TCustomNetSocket::Listen();
}

// ---------------------------------------------------------------- negotiation

// While negotiating, the notifications of the connection to the proxy are
// handled here, below every layer above (line mode, encryption), so that
// none of them sees the proxy's bytes or an early "connected".
void TCustomSocksNetSocket::HandleSocketEvent(int handle, unsigned session, unsigned bits, std::uint16_t error)
{
    if (phase_ != 0 && IsCurrentEvent(handle, session)) {
        try {
            if ((bits & FdConnect) && phase_ == 1) {
                if (error != 0) {
                    // The base class reports the failed connect and closes.
                    NotifySocksConnected(error);
                    phase_ = 0;
                } else {
                    bits &= ~FdConnect;
                    SetState(wsConnected);
                    ProxyConnected(error);
                }
            }
            if ((bits & FdRead) && phase_ != 0) {
                bits &= ~FdRead;
                ReceiveReply(error);
                // Bytes beyond what the negotiation read go the usual way.
                if (phase_ == 0 && State() == wsConnected && PlatformWaitingCount() > 0)
                    bits |= FdRead;
            }
            if ((bits & FdClose) && phase_ != 0) {
                if (PlatformWaitingCount() > 0)
                    ReceiveReply(0);
                if (phase_ != 0) {
                    bits &= ~FdClose;
                    ProxyClosed(error);
                }
            }
        } catch (...) {
            bits = 0;
        }
    }
    TCustomNetSocket::HandleSocketEvent(handle, session, bits, error);
}

void TCustomSocksNetSocket::ProxyConnected(std::uint16_t error)
{
    NotifySocksConnected(error);
    if (phase_ != 1 || State() != wsConnected)
        return;  // closed by the handler
    offeredMethod_ = socksAuthentication_ == socksAuthenticateUsercode ? socks::kMethodUsercode : socks::kMethodNone;
    SendRequest(socks::MethodSelection(offeredMethod_));
}

void TCustomSocksNetSocket::ReceiveReply(std::uint16_t error)
{
    if (error != 0) {
        Fail(error, "data receive error");
        return;
    }
    const std::size_t room = reply_.size() - 1 - replyCount_;
    if (room == 0) {
        Fail(socks::kTooMuchData, kTooMuchDataText);
        return;
    }
    const int n = TCustomNetSocket::RecvRaw(reinterpret_cast<char*>(reply_.data()) + replyCount_,
                                            static_cast<int>(room), 0);
    if (n < 0) {
        if (PlatformError() != wsa::WouldBlock)
            Fail(PlatformError(), "data receive error");
        return;
    }
    if (n == 0)
        return;
    replyCount_ += static_cast<std::size_t>(n);
    JudgeReply();
}

void TCustomSocksNetSocket::JudgeReply()
{
    switch (phase_) {
    case 1: JudgeMethodReply(); break;
    case 2: JudgeAuthenticationReply(); break;
    case 3: JudgeConnectReply(); break;
    default: Fail(socks::kInternalError, "internal error"); break;
    }
}

void TCustomSocksNetSocket::JudgeMethodReply()
{
    if (replyCount_ < 2)
        return;
    if (replyCount_ > 2) {
        Fail(socks::kTooMuchData, kTooMuchDataText);
        return;
    }
    replyCount_ = 0;
    if (reply_[0] != socks::kVersion) {
        Fail(socks::kVersionError, kVersionErrorText);
        return;
    }
    if (reply_[1] == socks::kMethodNone) {
        if (offeredMethod_ == socks::kMethodUsercode)
            NotifyAuthState(socksAuthNotRequired);
        SendConnectRequest();
    } else if (reply_[1] == socks::kMethodUsercode && offeredMethod_ == socks::kMethodUsercode) {
        phase_ = 2;
        NotifyAuthState(socksAuthStart);
        if (phase_ != 2 || State() != wsConnected)
            return;
        try {
            SendRequest(socks::AuthenticationRequest(socksUsercode_, socksPassword_));
        } catch (...) {
        }
    } else {
        // Also a method that was not offered: the proxy does not follow the protocol.
        Fail(socks::kMethodNotAcceptable, "authentification method not acceptable");
    }
}

void TCustomSocksNetSocket::JudgeAuthenticationReply()
{
    if (reply_[0] != socks::kAuthVersion) {
        NotifyAuthState(socksAuthFailure);
        Fail(socks::kVersionError, kVersionErrorText);
        return;
    }
    if (replyCount_ < 2)
        return;
    if (replyCount_ > 2) {
        NotifyAuthState(socksAuthFailure);
        Fail(socks::kTooMuchData, kTooMuchDataText);
        return;
    }
    replyCount_ = 0;
    if (reply_[1] != 0) {
        NotifyAuthState(socksAuthFailure);
        Fail(socks::kAuthenticationFailed, "socks authentication failed");
        return;
    }
    NotifyAuthState(socksAuthSuccess);
    SendConnectRequest();
}

void TCustomSocksNetSocket::JudgeConnectReply()
{
    const socks::ConnectReply reply = socks::ParseConnectReply(reply_.data(), replyCount_);
    if (reply.status == socks::ConnectReply::Failed) {
        Fail(reply.error, reply.errorText);
        return;
    }
    if (reply.status == socks::ConnectReply::Incomplete)
        return;
    boundAddr_ = reply.boundAddr;
    boundPort_ = reply.boundPort;
    surplus_.assign(reinterpret_cast<const char*>(reply_.data()) + reply.length, replyCount_ - reply.length);
    surplusRead_ = 0;
    replyCount_ = 0;
    phase_ = 0;
    // From here on the layers above see the connection as their own.
    NotifySessionConnected(0);
    DeliverSurplus();
}

// Offers the bytes that came behind the CONNECT reply through the whole
// chain (so that line mode cuts them into lines), while the handler reads.
void TCustomSocksNetSocket::DeliverSurplus()
{
    while (surplusRead_ < surplus_.size() && State() == wsConnected) {
        const std::size_t before = surplusRead_;
        NotifyDataAvailable(0);
        if (surplusRead_ == before)
            break;
    }
}

void TCustomSocksNetSocket::ProxyClosed(std::uint16_t error)
{
    if (phase_ == 2) {
        // A proxy that drops the connection instead of answering refused the login.
        NotifyAuthState(socksAuthFailure);
        Fail(socks::kAuthenticationFailed, "socks authentication failed");
        return;
    }
    Fail(error != 0 ? error : kConnectionAborted, "socks server closed the connection");
}

void TCustomSocksNetSocket::SendRequest(const std::string& request)
{
    const int length = static_cast<int>(request.size());
    // Straight to the platform: the layers above must not alter these bytes.
    const int n = TCustomNetSocket::SendRaw(request.data(), length);
    if (n == length)
        return;
    if (n < 0 && PlatformError() != wsa::WouldBlock) {
        Fail(PlatformError(), "data send error");
        return;
    }
    const int done = std::max(n, 0);
    Send(request.data() + done, length - done);
}

void TCustomSocksNetSocket::SendConnectRequest()
{
    if (State() != wsConnected)
        return;
    phase_ = 3;
    replyCount_ = 0;
    SendRequest(socks::ConnectRequest(Addr(), targetPort_));
}

// A failed negotiation: the user sees the connect fail with the SOCKS error
// number, then the connection closes.
void TCustomSocksNetSocket::Fail(int error, const std::string& message)
{
    phase_ = 0;
    replyCount_ = 0;
    NotifySocksError(error, message);
    NotifySessionConnected(static_cast<std::uint16_t>(error));
    DoClose(true, static_cast<std::uint16_t>(error));
}

// ---------------------------------------------------------------- notifications

void TCustomSocksNetSocket::NotifySocksConnected(std::uint16_t error)
{
    if (OnSocksConnected)
        OnSocksConnected(this, error);
}

void TCustomSocksNetSocket::NotifySocksError(int error, const std::string& message)
{
    if (OnSocksError)
        OnSocksError(this, error, message);
}

void TCustomSocksNetSocket::NotifyAuthState(TSocksAuthState state)
{
    if (OnSocksAuthState)
        OnSocksAuthState(this, state);
}

bool TCustomSocksNetSocket::NotifyDataAvailable(std::uint16_t error)
{
    if (phase_ == 0)
        return TCustomNetSocket::NotifyDataAvailable(error);
    ReceiveReply(error);
    return true;
}

void TCustomSocksNetSocket::NotifySessionClosed(std::uint16_t error)
{
    if (phase_ == 2)
        NotifyAuthState(socksAuthFailure);
    TCustomNetSocket::NotifySessionClosed(error);
}

// ---------------------------------------------------------------- receiving

int TCustomSocksNetSocket::RcvdCount()
{
    if (surplusRead_ < surplus_.size())
        return static_cast<int>(surplus_.size() - surplusRead_);
    return TCustomNetSocket::RcvdCount();
}

int TCustomSocksNetSocket::RecvRaw(char* buffer, int size, int flags)
{
    if (surplusRead_ >= surplus_.size())
        return TCustomNetSocket::RecvRaw(buffer, size, flags);
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(size, 0)), surplus_.size() - surplusRead_);
    std::memcpy(buffer, surplus_.data() + surplusRead_, n);
    surplusRead_ += n;
    if (surplusRead_ == surplus_.size()) {
        surplus_.clear();
        surplusRead_ = 0;
    }
    return static_cast<int>(n);
}

void TCustomSocksNetSocket::UseSocksProxy(const TSocksProxy& proxy)
{
    if (!proxy.Used())
        return;
    SetSocksServer(proxy.Server);
    SetSocksPort(proxy.Port);
    SetSocksUsercode(proxy.Usercode);
    SetSocksPassword(proxy.Password);
    SetSocksAuthentication(proxy.Usercode.empty() ? socksNoAuthentication : socksAuthenticateUsercode);
}

void TCustomSocksNetSocket::PrepareTcpConnect(const std::string& address, const std::string& port,
                                              const TSocksProxy& proxy)
{
    SetAddr(address);
    SetProto("tcp");
    SetPort(port);
    // The socket forgets its proxy with every close.
    UseSocksProxy(proxy);
}

std::vector<std::string> TCustomSocksNetSocket::LookupAddresses() const
{
    std::vector<std::string> addresses = DnsResultList();
    if (addresses.empty())
        addresses.push_back(DnsResult());
    return addresses;
}
