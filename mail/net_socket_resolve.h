// Blocking name, service and protocol resolution shared by every socket.
// All three raise ESocketException on failure.
#pragma once

#include <cstdint>
#include <string>

// 32-bit IPv4 address in network byte order.
std::uint32_t NetSocketResolveHost(const std::string& name);
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
