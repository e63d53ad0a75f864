#pragma once
// Socket error numbers and their texts. Clients see Windows Sockets numbers
// (10004-11004) in LastError, in the Error arguments of the socket events and
// in the error texts; the POSIX platform's errno values and resolver failures
// are translated onto them here.
#include <stdexcept>
#include <string>

// Raised by the socket layer when no OnError handler is assigned, and always
// by the resolution routines.
class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const std::string& message) : std::runtime_error(message) {}
};

namespace wsa {
constexpr int Interrupted = 10004;      // also: a cancelled name lookup
constexpr int InvalidArgument = 10022;
constexpr int NotSocket = 10038;
constexpr int WouldBlock = 10035;
constexpr int ConnectionReset = 10054;
constexpr int NotConnected = 10057;
constexpr int TimedOut = 10060;
constexpr int ConnectionRefused = 10061;
constexpr int HostUnreachable = 10065;
constexpr int NotInitialised = 10093;
constexpr int HostNotFound = 11001;
constexpr int TryAgain = 11002;
constexpr int NoRecovery = 11003;
constexpr int NoData = 11004;
// Numbers for errno values without a Windows Sockets counterpart start here
// (13000 + errno), so that the original value is not lost.
constexpr int UnmappedBase = 13000;
}  // namespace wsa

// The text for a socket error number; "Not a WinSock error" for unknown ones.
std::string SocketErrorText(int error);

// Translates a POSIX errno value into the Windows Sockets number.
int WinSockErrorFromErrno(int err);

// Translates a getaddrinfo/getnameinfo failure (EAI_*) into the Windows Sockets number.
int WinSockErrorFromResolver(int eaiCode);
