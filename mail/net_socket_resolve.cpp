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
