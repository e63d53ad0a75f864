#pragma once
// SOCKS 5 client messages: building the requests a client sends and judging
// the CONNECT reply a server sends back. No socket here, only bytes.
#include <cstddef>
#include <cstdint>
#include <string>

namespace socks {

// Every request is built in an area of this many bytes.
constexpr std::size_t kRequestArea = 128;
// User code and password together, and the target host name, fit the
// request area only up to these lengths.
constexpr std::size_t kMaxCredentials = kRequestArea - 3;
constexpr std::size_t kMaxHostName = kRequestArea - 7;

constexpr std::uint8_t kVersion = 5;
constexpr std::uint8_t kAuthVersion = 1;
constexpr std::uint8_t kMethodNone = 0;
constexpr std::uint8_t kMethodUsercode = 2;

// Error numbers of a failed negotiation.
enum : int {
    kTooMuchData = 20001,
    kVersionError = 20002,
    kMethodNotAcceptable = 20003,
    kFirstReplyError = 20004,  // server reply codes 1 to 8 are 20004 to 20011
    kAddressTypeNotSupported = 20011,
    kUnassignedReply = 20012,
    kInternalError = 20013,
    kAuthenticationFailed = 20015,
};

std::string MethodSelection(std::uint8_t method);
// Empty when the user code and password do not fit the request area.
std::string AuthenticationRequest(const std::string& usercode, const std::string& password);
// Empty when the host name does not fit the request area.
std::string ConnectRequest(const std::string& host, std::uint16_t port);

// The error number and text of a non-zero CONNECT reply code.
int ReplyError(std::uint8_t code, std::string& text);

// The outcome of looking at the bytes of a CONNECT reply received so far.
struct ConnectReply {
    enum Status { Incomplete, Complete, Failed } status = Incomplete;
    std::size_t length = 0;  // bytes the reply takes (Complete)
    std::string boundAddr, boundPort;
    int error = 0;  // Failed
    std::string errorText;
};
ConnectReply ParseConnectReply(const unsigned char* bytes, std::size_t count);

}  // namespace socks
