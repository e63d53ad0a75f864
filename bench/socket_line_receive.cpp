// Receiving a 50 MB stream of 80-byte lines over loopback: the socket in line
// mode (one OnDataAvailable and one Receive per line) against a plain
// blocking recv loop that splits the same stream into lines, the ceiling.
#include "mail/sync_net_socket.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <arpa/inet.h>
#include "bench/qt_bench_main.h"
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr std::size_t kLineLength = 80;  // 78 characters and CR LF
constexpr std::size_t kStreamBytes = 50u * 1024 * 1024 / kLineLength * kLineLength;

const std::string& Stream()
{
    static const std::string stream = [] {
        std::string s;
        s.reserve(kStreamBytes);
        for (std::size_t i = 0; s.size() < kStreamBytes; ++i) {
            std::string line = std::to_string(i);
            line.resize(kLineLength - 2, 'x');
            s += line + "\r\n";
        }
        return s;
    }();
    return stream;
}

// Serves the stream once to one connection, then closes.
class StreamServer {
public:
    StreamServer()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 1);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            const int c = ::accept(fd_, nullptr, nullptr);
            const std::string& s = Stream();
            for (std::size_t done = 0; done < s.size();) {
                const ssize_t n = ::send(c, s.data() + done, s.size() - done, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                done += static_cast<std::size_t>(n);
            }
            ::close(c);
        });
    }
    ~StreamServer()
    {
        thread_.join();
        ::close(fd_);
    }
    std::uint16_t Port() const { return port_; }

private:
    int fd_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

void Report(benchmark::State& state, std::size_t lines)
{
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(lines * kLineLength) / (1024.0 * 1024.0),
                                                benchmark::Counter::kIsRate);
}

void BM_SocketLineMode(benchmark::State& state)
{
    Stream();
    std::size_t total = 0;
    for (auto _ : state) {
        StreamServer server;
        TNetSocket s;
        std::size_t lines = 0;
        bool closed = false;
        char line[256];
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(server.Port()));
        s.SetLineMode(true);
        s.OnDataAvailable = [&](QObject*, std::uint16_t) {
            if (s.Receive(line, sizeof line) > 0)
                ++lines;
        };
        s.OnSessionClosed = [&](QObject*, std::uint16_t) { closed = true; };
        s.Connect();
        while (!closed)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        if (lines != kStreamBytes / kLineLength)
            state.SkipWithError("lines lost");
        total += lines;
    }
    Report(state, total);
}

void BM_BlockingRecvSplit(benchmark::State& state)
{
    Stream();
    std::size_t total = 0;
    for (auto _ : state) {
        StreamServer server;
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(server.Port());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        std::string pending;
        char buffer[65536];
        char line[256];
        std::size_t lines = 0;
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t start = 0;
            for (std::size_t lf; (lf = pending.find("\r\n", start)) != std::string::npos; start = lf + 2) {
                std::memcpy(line, pending.data() + start, std::min(sizeof line, lf + 2 - start));
                benchmark::DoNotOptimize(line);
                ++lines;
            }
            pending.erase(0, start);
        }
        ::close(fd);
        total += lines;
    }
    Report(state, total);
}

}  // namespace

BENCHMARK(BM_SocketLineMode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_BlockingRecvSplit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

PELLIMAR_QT_BENCHMARK_MAIN()
