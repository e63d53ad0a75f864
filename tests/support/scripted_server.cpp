#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

// The loopback address as a socket address of its family.
sockaddr_storage Loopback(const std::string& address, std::uint16_t port, socklen_t& length)
{
    sockaddr_storage storage{};
    if (address.find(':') != std::string::npos) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        inet_pton(AF_INET6, address.c_str(), &a->sin6_addr);
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &a->sin_addr);
        length = sizeof *a;
    }
    return storage;
}

int ListenLoopback(const std::string& address, std::uint16_t& port)
{
    socklen_t len = 0;
    sockaddr_storage a = Loopback(address, 0, len);
    const int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (a.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed on " + address);
    }
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    return fd;
}

}  // namespace

std::uint16_t FreeLoopbackPort(const std::string& address)
{
    std::uint16_t port = 0;
    ::close(ListenLoopback(address, port));
    return port;
}

bool LoopbackAccepts(const std::string& address, std::uint16_t port)
{
    socklen_t len = 0;
    const sockaddr_storage a = Loopback(address, port, len);
    const int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&a), len) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// Appends what arrives before the deadline; Closed when the connection
// ended, TimedOut when nothing came in time.
ScriptedPeer::FillResult ScriptedPeer::Fill(Deadline deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
        return FillResult::TimedOut;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0)
        return FillResult::Closed;
    pending_.append(buffer, static_cast<std::size_t>(n));
    return FillResult::Data;
}

ScriptedPeer::Deadline ScriptedPeer::After(int timeoutMs)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

bool ScriptedPeer::Send(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string ScriptedPeer::ReadLine(int timeoutMs)
{
    const Deadline deadline = After(timeoutMs);
    std::size_t lf;
    while ((lf = pending_.find('\n')) == std::string::npos)
        if (Fill(deadline) != FillResult::Data)
            return {};
    std::string line = pending_.substr(0, lf + 1);
    pending_.erase(0, lf + 1);
    return line;
}

std::string ScriptedPeer::ReadBytes(std::size_t n, int timeoutMs)
{
    const Deadline deadline = After(timeoutMs);
    while (pending_.size() < n && Fill(deadline) == FillResult::Data) {
    }
    std::string out = pending_.substr(0, std::min(n, pending_.size()));
    pending_.erase(0, out.size());
    return out;
}

std::string ScriptedPeer::ReadUntilClosed(int timeoutMs)
{
    const Deadline deadline = After(timeoutMs);
    while (Fill(deadline) == FillResult::Data) {
    }
    std::string out;
    out.swap(pending_);
    return out;
}

bool ScriptedPeer::WaitForClose(int timeoutMs)
{
    const Deadline deadline = After(timeoutMs);
    FillResult r;
    while ((r = Fill(deadline)) == FillResult::Data) {
    }
    return r == FillResult::Closed;
}

void ScriptedPeer::Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void ScriptedPeer::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void ScriptedPeer::Reset()
{
    if (fd_ < 0)
        return;
    linger l{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
}

ScriptedServer::ScriptedServer(Script script, int maxConnections, const std::string& address)
    : script_(std::move(script))
{
    listenFd_ = ListenLoopback(address, port_);
    thread_ = std::thread([this, maxConnections] { Run(maxConnections); });
}

ScriptedServer::~ScriptedServer()
{
    Join();
}

void ScriptedServer::Join()
{
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void ScriptedServer::Run(int maxConnections)
{
    for (int i = 0; i < maxConnections; ++i) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0)
            return;  // nobody came: give up rather than hang the test
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        ScriptedPeer peer(fd);
        try {
            script_(peer);
        } catch (...) {
        }
        peer.Close();
    }
}

std::string ScriptedServer::Received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

void ScriptedServer::Record(const std::string& bytes)
{
    std::lock_guard lock(mutex_);
    received_ += bytes;
}
