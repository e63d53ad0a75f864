// Asynchronous, cancellable name lookup of a socket: forward (a host name to
// its addresses) and reverse (an address to its name), through Qt's
// resolver thread, reported by OnDnsLookupDone from the event loop.
#include "mail/net_socket.h"

#include "mail/net_socket_resolve.h"
#include "mail/socket_errors.h"

#include <QHostInfo>

#include <arpa/inet.h>

void TCustomNetSocket::DnsLookup(const std::string& hostName)
{
    if (hostName.empty()) {
        ReportError("DNS lookup: invalid host name.");
        NotifyDnsLookupDone(wsa::InvalidArgument);
        return;
    }
    StartLookup(hostName, false);
}

void TCustomNetSocket::ReverseDnsLookup(const std::string& dottedAddress)
{
    if (dottedAddress.empty()) {
        ReportError("DNS lookup: invalid host name.");
        NotifyDnsLookupDone(wsa::InvalidArgument);
        return;
    }
    StartLookup(dottedAddress, true);
}

void TCustomNetSocket::StartLookup(const std::string& name, bool reverse)
{
    if (pendingLookup_ != -1) {
        QHostInfo::abortHostLookup(pendingLookup_);
        pendingLookup_ = -1;
    }
    dnsResult_.clear();
    dnsResultList_.clear();
    std::uint32_t address = 0;
    TSocketAddress v6;
    const bool dotted = ParseDottedAddress(name, address) && address != INADDR_BROADCAST;
    const bool ipv6 = !dotted && ParseIPv6Address(TrimSocketText(name), v6);
    if (!reverse && (dotted || ipv6)) {
        dnsResult_ = dotted ? DottedAddress(address) : v6.Numeric();
        NotifyDnsLookupDone(0);
        return;
    }
    if (reverse && !dotted && !ipv6 && name != "255.255.255.255") {
        ReportError(name + ": can't start DNS lookup, error #" + std::to_string(wsa::InvalidArgument));
        return;
    }
    const QString target = QString::fromLatin1(reverse ? (dotted ? DottedAddress(address) : v6.Numeric()) : name);
    pendingLookup_ = QHostInfo::lookupHost(target, this, [this, reverse](const QHostInfo& info) {
        std::vector<std::string> results;
        std::uint16_t error = 0;
        if (info.error() == QHostInfo::HostNotFound) {
            error = wsa::HostNotFound;
        } else if (info.error() != QHostInfo::NoError) {
            error = wsa::TryAgain;
        } else if (reverse) {
            results.push_back(info.hostName().toStdString());
        } else {
            // Both families, in the resolver's order of preference.
            for (const QHostAddress& a : info.addresses())
                if (a.protocol() == QAbstractSocket::IPv4Protocol || a.protocol() == QAbstractSocket::IPv6Protocol)
                    results.push_back(a.toString().toStdString());
            if (results.empty())
                error = wsa::NoData;
        }
        LookupFinished(info.lookupId(), reverse, error, std::move(results));
    });
}

void TCustomNetSocket::LookupFinished(int id, bool, std::uint16_t error, std::vector<std::string> results)
{
    if (id != pendingLookup_)
        return;
    pendingLookup_ = -1;
    if (error == 0) {
        dnsResultList_ = std::move(results);
        dnsResult_ = dnsResultList_.front();
    }
    try {
        NotifyDnsLookupDone(error);
    } catch (...) {
    }
}

void TCustomNetSocket::CancelDnsLookup()
{
    if (pendingLookup_ == -1)
        return;
    QHostInfo::abortHostLookup(pendingLookup_);
    pendingLookup_ = -1;
    if (!destroying_)
        NotifyDnsLookupDone(wsa::Interrupted);
}
