#include "mail/net_socket_resolve.h"

#include "mail/socket_errors.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cctype>
#include <cstring>
#include <vector>

namespace {

// Used when the system's services or protocols database lacks an entry.
struct WellKnown {
    const char* name;
    int number;
};
constexpr WellKnown kServices[] = {
    {"ftp", 21}, {"telnet", 23}, {"smtp", 25}, {"domain", 53}, {"http", 80}, {"pop3", 110},
    {"nntp", 119}, {"imap", 143}, {"https", 443}, {"socks", 1080},
};
constexpr WellKnown kProtocols[] = {{"ip", 0}, {"icmp", 1}, {"tcp", 6}, {"udp", 17}};

bool EqualNoCase(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

std::uint32_t LeadingNumber(const std::string& text)
{
    std::uint32_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

}  // namespace

std::string TrimSocketText(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

bool ParseDottedAddress(const std::string& text, std::uint32_t& networkOrder)
{
    in_addr address{};
    if (text.empty() || inet_aton(text.c_str(), &address) == 0)
        return false;
    networkOrder = address.s_addr;
    return true;
}

std::string DottedAddress(std::uint32_t networkOrder)
{
    in_addr address{};
    address.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::uint16_t TSocketAddress::Port() const
{
    if (Family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    if (Family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return 0;
}

void TSocketAddress::SetPort(std::uint16_t hostOrder)
{
    if (Family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(hostOrder);
    else if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(hostOrder);
}

bool TSocketAddress::IsIPv4Broadcast() const
{
    return Family() == AF_INET && reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr == INADDR_BROADCAST;
}

std::string TSocketAddress::Numeric() const
{
    char text[NI_MAXHOST] = {};
    if (length == 0 || getnameinfo(Get(), length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return text;
}

TSocketAddress TSocketAddress::Any(int family)
{
    TSocketAddress any;
    any.storage.ss_family = static_cast<sa_family_t>(family);
    any.length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    return any;
}

bool ParseIPv6Address(const std::string& text, TSocketAddress& address)
{
    if (text.find(':') == std::string::npos)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* result = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &result) != 0 || !result)
        return false;
    address = TSocketAddress{};
    std::memcpy(&address.storage, result->ai_addr, result->ai_addrlen);
    address.length = result->ai_addrlen;
    freeaddrinfo(result);
    return true;
}

TSocketAddress NetSocketResolveAddress(const std::string& name)
{
    if (name.empty() || name.size() > 256)
        throw ESocketException("NetSocketResolveHost: Invalid Hostname.");
    const std::string trimmed = TrimSocketText(name);
    TSocketAddress address;
    std::uint32_t v4 = 0;
    if (ParseDottedAddress(trimmed, v4)) {
        address = TSocketAddress::Any(AF_INET);
        reinterpret_cast<sockaddr_in*>(&address.storage)->sin_addr.s_addr = v4;
        return address;
    }
    if (ParseIPv6Address(trimmed, address))
        return address;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (trimmed.empty() || getaddrinfo(trimmed.c_str(), nullptr, &hints, &result) != 0 || !result)
        throw ESocketException("NetSocketResolveHost: Cannot convert host address '" + name + "'");
    std::memcpy(&address.storage, result->ai_addr, result->ai_addrlen);
    address.length = result->ai_addrlen;
    freeaddrinfo(result);
    return address;
}

std::uint32_t NetSocketResolveHost(const std::string& name)
{
    if (name.empty() || name.size() > 256)
        throw ESocketException("NetSocketResolveHost: Invalid Hostname.");
    const std::string trimmed = TrimSocketText(name);
    std::uint32_t address = 0;
    if (ParseDottedAddress(trimmed, address))
        return address;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    if (trimmed.empty() || getaddrinfo(trimmed.c_str(), nullptr, &hints, &result) != 0 || !result)
        throw ESocketException("NetSocketResolveHost: Cannot convert host address '" + name + "'");
    address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(result);
    return address;
}

std::uint16_t NetSocketResolvePort(const std::string& port, const std::string& protocol)
{
    if (port.empty() || port.size() >= 32)
        throw ESocketException("NetSocketResolvePort: Invalid Port.");
    if (std::isdigit(static_cast<unsigned char>(port[0])))
        return static_cast<std::uint16_t>(LeadingNumber(port));
    const std::string service = TrimSocketText(port);
    const std::string proto = TrimSocketText(protocol);
    servent entry{};
    servent* found = nullptr;
    std::vector<char> work(4096);
    getservbyname_r(service.c_str(), proto.empty() ? nullptr : proto.c_str(), &entry, work.data(),
                    work.size(), &found);
    if (found)
        return ntohs(static_cast<std::uint16_t>(found->s_port));
    for (const auto& known : kServices)
        if (EqualNoCase(service, known.name))
            return static_cast<std::uint16_t>(known.number);
    throw ESocketException("NetSocketResolvePort: Cannot convert port '" + port + "'");
}

int NetSocketResolveProto(const std::string& protocol)
{
    if (protocol.empty() || protocol.size() >= 32)
        throw ESocketException("NetSocketResolveProto: Invalid Protocol.");
    if (std::isdigit(static_cast<unsigned char>(protocol[0])))
        return static_cast<int>(LeadingNumber(protocol));
    const std::string name = TrimSocketText(protocol);
    protoent entry{};
    protoent* found = nullptr;
    std::vector<char> work(4096);
    getprotobyname_r(name.c_str(), &entry, work.data(), work.size(), &found);
    if (found)
        return found->p_proto;
    for (const auto& known : kProtocols)
        if (EqualNoCase(name, known.name))
            return known.number;
    throw ESocketException("NetSocketResolveProto: Cannot convert protocol '" + protocol + "'");
}
