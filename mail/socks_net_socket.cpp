#include "mail/socks_net_socket.h"

#include "mail/net_socket_resolve.h"

TCustomSocksNetSocket::TCustomSocksNetSocket(QObject* owner) : TCustomNetSocket(owner) {}

void TCustomSocksNetSocket::SetSocksServer(const std::string& value)
{
    if (State() != wsClosed) {
        ReportError("Can't change socks server if not closed");
        return;
    }
    socksServer_ = TrimSocketText(value);
    socksServerAssigned_ = !socksServer_.empty();
}

void TCustomSocksNetSocket::SetSocksPort(const std::string& value)
{
    if (State() != wsClosed) {
        ReportError("Can't change socks port if not closed");
        return;
    }
    socksPort_ = TrimSocketText(value);
}

void TCustomSocksNetSocket::ResetToDefaults()
{
    TCustomNetSocket::ResetToDefaults();
    socksServer_.clear();
    socksPort_.clear();
    socksServerAssigned_ = false;
}

void TCustomSocksNetSocket::Connect()
{
    if (socksServerAssigned_) {
        ReportError("connect: SOCKS proxy negotiation is not supported");
        return;
    }
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
