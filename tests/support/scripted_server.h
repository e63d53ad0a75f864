#pragma once
// A loopback TCP peer for network tests that shares no code with the socket
// under test: plain blocking POSIX sockets in a thread of its own. Each
// accepted connection runs the script given to the server, which sends
// bytes, reads lines, pauses and closes or resets the connection. Every read
// has a time limit so that a test can never hang on it.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class ScriptedPeer {
public:
    explicit ScriptedPeer(int fd) : fd_(fd) {}

    // Sends all bytes; false when the connection is gone.
    bool Send(const std::string& bytes);
    // Reads up to and including LF; empty on time-out or close.
    std::string ReadLine(int timeoutMs = 10000);
    // Reads exactly n bytes (fewer on time-out or close).
    std::string ReadBytes(std::size_t n, int timeoutMs = 10000);
    // Reads until the peer closes (or the time limit passes).
    std::string ReadUntilClosed(int timeoutMs = 10000);
    // Waits until the socket under test has closed its side.
    bool WaitForClose(int timeoutMs = 10000);
    void Pause(int ms);
    // Graceful close (FIN) or reset (RST).
    void Close();
    void Reset();
    int Fd() const { return fd_; }

private:
    using Deadline = std::chrono::steady_clock::time_point;
    enum class FillResult { Data, Closed, TimedOut };
    static Deadline After(int timeoutMs);
    FillResult Fill(Deadline deadline);
    int fd_;
    std::string pending_;
};

class ScriptedServer {
public:
    using Script = std::function<void(ScriptedPeer&)>;

    // Listens on the loopback address ("127.0.0.1" or "::1") at a free
    // port; serves up to maxConnections connections one after another, each
    // with the script.
    explicit ScriptedServer(Script script, int maxConnections = 1, const std::string& address = "127.0.0.1");
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // Waits for the scripts to finish.
    void Join();
    // Everything the scripts read, in order (filled as they read).
    std::string Received() const;
    void Record(const std::string& bytes);

private:
    void Run(int maxConnections);
    Script script_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string received_;
};

// A free port on the loopback address ("127.0.0.1" or "::1"): bound once, then released.
std::uint16_t FreeLoopbackPort(const std::string& address = "127.0.0.1");
// Connects to the loopback address and port with a plain blocking socket;
// true when something accepted.
bool LoopbackAccepts(const std::string& address, std::uint16_t port);
