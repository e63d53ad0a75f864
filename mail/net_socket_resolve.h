#pragma once
// Blocking name, service and protocol resolution shared by every socket.
// All three raise ESocketException on failure.
#include <sys/socket.h>

#include <cstdint>
#include <string>

// A socket address of any family, as the platform takes it.
struct TSocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    int Family() const { return storage.ss_family; }
    sockaddr* Get() { return reinterpret_cast<sockaddr*>(&storage); }
    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    // The port in host byte order (0 for an unknown family).
    std::uint16_t Port() const;
    void SetPort(std::uint16_t hostOrder);
    bool IsIPv4Broadcast() const;
    // The numeric form: dotted for IPv4, RFC 5952 text for IPv6.
    std::string Numeric() const;
    // The wildcard address (any local address, port 0) of a family.
    static TSocketAddress Any(int family);
};

// 32-bit IPv4 address in network byte order.
std::uint32_t NetSocketResolveHost(const std::string& name);
// The first address of any family: a numeric address as it is, otherwise
// the platform's blocking lookup. Raises like NetSocketResolveHost.
TSocketAddress NetSocketResolveAddress(const std::string& name);
// Port number in host byte order; a leading digit means a decimal number,
// otherwise a service name looked up for the protocol.
std::uint16_t NetSocketResolvePort(const std::string& port, const std::string& protocol);
// Protocol number; a leading digit means a decimal number.
int NetSocketResolveProto(const std::string& protocol);

// Removes leading and trailing blanks and control characters.
std::string TrimSocketText(const std::string& text);
// Parses a dotted IPv4 address; false when the text is not one.
bool ParseDottedAddress(const std::string& text, std::uint32_t& networkOrder);
std::string DottedAddress(std::uint32_t networkOrder);
// Parses a numeric IPv6 address (a scope such as %eth0 allowed).
bool ParseIPv6Address(const std::string& text, TSocketAddress& address);
