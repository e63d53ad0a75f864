#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

int ListenLoopback(std::uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

}  // namespace

std::uint16_t FreeLoopbackPort()
{
    std::uint16_t port = 0;
    ::close(ListenLoopback(port));
    return port;
}

bool ScriptedPeer::WaitReadable(int timeoutMs)
{
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto lf = pending_.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending_.substr(0, lf + 1);
            pending_.erase(0, lf + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(static_cast<int>(left.count())))
            return {};
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string ScriptedPeer::ReadBytes(std::size_t n, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pending_.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(static_cast<int>(left.count())))
            break;
        char buffer[65536];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
    std::string out = pending_.substr(0, std::min(n, pending_.size()));
    pending_.erase(0, out.size());
    return out;
}

std::string ScriptedPeer::ReadUntilClosed(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(static_cast<int>(left.count())))
            break;
        char buffer[65536];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    std::string out;
    out.swap(pending_);
    return out;
}

bool ScriptedPeer::WaitForClose(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(static_cast<int>(left.count())))
            return false;
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0)
            return true;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
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

ScriptedServer::ScriptedServer(Script script, int maxConnections) : script_(std::move(script))
{
    listenFd_ = ListenLoopback(port_);
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
