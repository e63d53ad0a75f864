// A mail server, or anything posing as one, can send anything: the POP3
// client runs a fixed sequence of requests against a loopback peer that
// replays the fuzz bytes as its whole output and then closes its side.
// Every request either starts and ends with one OnRequestDone or raises the
// client's own error, and nothing waits past the loop bound.
#include "mail/pop3_client.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

// One listening socket on 127.0.0.1 for the whole run.
int ListenSocket(std::uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        std::abort();
    port = ntohs(addr.sin_port);
    return fd;
}

// Accepts one connection, writes the bytes, closes the write side and
// drains what the client sends until it closes (bounded by a time-out).
void ServeOnce(int listenFd, const std::string& bytes)
{
    pollfd waitAccept{listenFd, POLLIN, 0};
    if (::poll(&waitAccept, 1, 5000) <= 0)
        return;
    const int fd = ::accept(listenFd, nullptr, nullptr);
    if (fd < 0)
        return;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    char sink[4096];
    pollfd waitRead{fd, POLLIN, 0};
    while (::poll(&waitRead, 1, 5000) > 0 && ::recv(fd, sink, sizeof sink, 0) > 0) {
    }
    ::close(fd);
}

// Runs one request; false when it did not end within the bound.
bool RunRequest(TPop3Client& client, int& done, const std::function<void()>& start)
{
    const int before = done;
    try {
        start();
    } catch (const Pop3Exception&) {
        return true;
    }
    const QDeadlineTimer deadline(3000);
    while (done == before) {
        if (deadline.hasExpired())
            return false;
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(20);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    (void)client;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_pop3_client";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static std::uint16_t port = 0;
    static const int listenFd = ListenSocket(port);

    std::thread server(ServeOnce, listenFd, std::string(reinterpret_cast<const char*>(data), size));
    int done = 0;
    {
        TPop3Client client;
        client.SetHost("127.0.0.1");
        client.SetPort(std::to_string(port));
        client.SetUserName("fax");
        client.SetPassWord("secret");
        client.SetMsgNum(1);
        client.OnRequestDone = [&done](QObject*, TPop3Request, std::uint16_t) { ++done; };
        std::size_t seen = 0;
        client.OnMessageLine = [&](QObject*) { seen += client.LastResponse().size(); };
        client.OnUidlLine = [&](QObject*) { seen += client.LastResponse().size(); };
        client.OnDisplay = [&seen](QObject*, const std::string& text) { seen += text.size(); };

        const std::function<void()> steps[] = {
            [&] { client.Open(); }, [&] { client.Stat(); }, [&] { client.Uidl(); },
            [&] { client.Retr(); }, [&] { client.Dele(); }, [&] { client.Quit(); },
        };
        for (const auto& step : steps)
            if (!RunRequest(client, done, step))
                std::abort(); // a request that never ends is a hang
        try {
            client.Abort();
        } catch (const Pop3Exception&) {
        }
    }
    server.join();
    return 0;
}
