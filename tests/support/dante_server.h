#pragma once
// A private Dante SOCKS 5 server (danted) on a loopback port for proxy
// tests. It runs as root in the foreground with a configuration of its own
// under a temporary folder, offering both "no authentication" and user
// name and password, checked against a system test user that the fixture
// creates when absent.
#include <cstdint>
#include <string>
#include <sys/types.h>

class DanteServer {
public:
    // True when danted is installed and can run here (it needs root).
    static bool Available(std::string* why = nullptr);

    DanteServer();
    ~DanteServer();
    DanteServer(const DanteServer&) = delete;
    DanteServer& operator=(const DanteServer&) = delete;

    // Starts on a free loopback port and waits until it accepts connections.
    bool Start(std::string* error = nullptr);
    void Stop();

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // The system user the server accepts, and its password (which holds
    // characters that need escaping in a URL).
    static const char* User() { return "pellimar-socks"; }
    const std::string& Password() const { return password_; }
    std::string Log() const;

private:
    std::string root_;
    std::string password_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};
