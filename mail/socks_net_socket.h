#pragma once
// The SOCKS 5 layer between the socket and its line layer. With a SOCKS
// server set, Connect opens the connection to that server and negotiates
// (method selection, optional user code and password, CONNECT naming Addr
// as a host name) before the user sees OnSessionConnected. Without one,
// every call and event passes straight through.
#include "mail/net_socket.h"
#include "mail/socks_proxy.h"

#include <array>

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

using TSocksErrorEvent = std::function<void(QObject* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(QObject* Sender, TSocksAuthState AuthState)>;

class TCustomSocksNetSocket : public TCustomNetSocket {
public:
    explicit TCustomSocksNetSocket(QObject* owner = nullptr);

    // Server and port are cleared by every close: set them before each Connect.
    const std::string& SocksServer() const { return socksServer_; }
    virtual void SetSocksServer(const std::string& value);
    const std::string& SocksPort() const { return socksPort_; }
    virtual void SetSocksPort(const std::string& value);
    const std::string& SocksUsercode() const { return socksUsercode_; }
    void SetSocksUsercode(const std::string& value) { socksUsercode_ = value; }
    const std::string& SocksPassword() const { return socksPassword_; }
    void SetSocksPassword(const std::string& value) { socksPassword_ = value; }
    TSocksAuthentication SocksAuthentication() const { return socksAuthentication_; }
    void SetSocksAuthentication(TSocksAuthentication value) { socksAuthentication_ = value; }
    // Sets server, port, user code, password and authentication from the
    // proxy (nothing when it names no server).
    void UseSocksProxy(const TSocksProxy& proxy);
    // Addr, Proto "tcp", Port and the proxy for a client's next Connect.
    void PrepareTcpConnect(const std::string& address, const std::string& port, const TSocksProxy& proxy);
    // Every address the last lookup found (at least its DnsResult).
    std::vector<std::string> LookupAddresses() const;
    // The address and port the SOCKS server connected from, as it reported them.
    const std::string& BoundAddr() const { return boundAddr_; }
    const std::string& BoundPort() const { return boundPort_; }
    // 0 none, 1 waiting for the method reply, 2 for the authentication
    // reply, 3 for the CONNECT reply.
    int SocksPhase() const { return phase_; }

    // Bytes that came behind the CONNECT reply while any are left, else
    // what the network has waiting.
    int RcvdCount() override;
    void Connect() override;
    void Listen() override;

    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;

protected:
    virtual void NotifySocksConnected(std::uint16_t error);
    virtual void NotifySocksError(int error, const std::string& message);

    void HandleSocketEvent(int handle, unsigned session, unsigned bits, std::uint16_t error) override;
    void ResetToDefaults() override;
    bool NotifyDataAvailable(std::uint16_t error) override;
    void NotifySessionClosed(std::uint16_t error) override;
    int RecvRaw(char* buffer, int size, int flags) override;

private:
    void ResetSocks();
    bool CheckRequestsFit();
    void ProxyConnected(std::uint16_t error);
    void ReceiveReply(std::uint16_t error);
    void JudgeReply();
    void JudgeMethodReply();
    void JudgeAuthenticationReply();
    void JudgeConnectReply();
    void ProxyClosed(std::uint16_t error);
    void SendRequest(const std::string& request);
    void SendConnectRequest();
    void NotifyAuthState(TSocksAuthState state);
    void Fail(int error, const std::string& message);
    void DeliverSurplus();

    int phase_ = 0;
    std::string socksServer_, socksPort_, socksUsercode_, socksPassword_;
    bool socksServerAssigned_ = false, socksPortAssigned_ = false;
    TSocksAuthentication socksAuthentication_ = socksNoAuthentication;
    std::uint8_t offeredMethod_ = 0;
    std::uint16_t targetPort_ = 0;
    std::string boundAddr_, boundPort_;
    // Large enough for the longest CONNECT reply (a 255-byte name) with
    // room for bytes behind it.
    std::array<unsigned char, 512> reply_{};
    std::size_t replyCount_ = 0;
    std::string surplus_;
    std::size_t surplusRead_ = 0;
};
