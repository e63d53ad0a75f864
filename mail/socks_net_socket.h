// The SOCKS 5 layer between the socket and its line layer. Proxy negotiation
// is not built yet: without a SOCKS server every call and event passes
// straight through, and a Connect with a SOCKS server set is refused with a
// clear error rather than connecting directly behind the user's back.
#pragma once

#include "mail/net_socket.h"

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

using TSocksErrorEvent = std::function<void(QObject* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(QObject* Sender, TSocksAuthState AuthState)>;

class TCustomSocksNetSocket : public TCustomNetSocket {
public:
    explicit TCustomSocksNetSocket(QObject* owner = nullptr);

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

    void Connect() override;
    void Listen() override;

    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;

protected:
    void ResetToDefaults() override;

private:
    std::string socksServer_, socksPort_, socksUsercode_, socksPassword_;
    bool socksServerAssigned_ = false;
    TSocksAuthentication socksAuthentication_ = socksNoAuthentication;
};
