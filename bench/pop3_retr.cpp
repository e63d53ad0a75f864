// RETR of 1000 messages of 50 KB each from a private Dovecot server: the POP3
// client against Python's poplib retrieving the same mailbox in the same run.
// A second mailbox holds one 2.6 MB message with a 600 KB line among short
// ones, against the same size in short lines only: the client's cost must
// stay linear in the bytes received.
#include "mail/pop3_client.h"
#include "tests/support/dovecot_server.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>

#include "bench/qt_bench_main.h"
#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kMessages = 1000;
constexpr std::size_t kMessageBytes = 50 * 1024;
const char* kUser = "bench";
const char* kPassword = "bench-secret";
const char* kLongUser = "bench-long";  // message 1: with the long line; 2: short lines only

// About 2.6 MB of 76-byte lines; with longLine, 600 KB of them are one line.
std::string BigMessage(bool longLine)
{
    std::string m = "From: sender@example.com\r\nSubject: big\r\n\r\n";
    const std::string line = std::string(74, 's') + "\r\n";
    while (m.size() < 1000 * 1000)
        m += line;
    if (longLine)
        m += std::string(600 * 1024, 'L') + "\r\n";
    while (m.size() < 2600 * 1000)
        m += line;
    return m;
}

DovecotServer* Server()
{
    static std::unique_ptr<DovecotServer> server = [] {
        auto s = std::make_unique<DovecotServer>();
        std::string error;
        if (!DovecotServer::Available(&error) || !s->Start(&error)) {
            std::cerr << error << "\n";
            return std::unique_ptr<DovecotServer>();
        }
        s->AddUser(kUser, kPassword);
        for (int i = 0; i < kMessages; ++i) {
            std::string m = "From: sender@example.com\r\nSubject: message " + std::to_string(i) + "\r\n\r\n";
            for (int line = 0; m.size() < kMessageBytes; ++line) {
                std::string text = std::to_string(line) + " ";
                text.resize(74, 'a' + static_cast<char>(line % 26));
                m += text + "\r\n";
            }
            s->PutMessage(kUser, m);
        }
        s->AddUser(kLongUser, kPassword);
        s->PutMessage(kLongUser, BigMessage(true));
        s->PutMessage(kLongUser, BigMessage(false));
        return s;
    }();
    return server.get();
}

void Report(benchmark::State& state, double messages, double bytes)
{
    state.counters["messages/s"] = benchmark::Counter(messages, benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(bytes / (1024.0 * 1024.0), benchmark::Counter::kIsRate);
}

// Runs one request to its end.
int Run(TPop3Client& c, int& lastError, bool& done, void (TPop3Client::*request)())
{
    done = false;
    (c.*request)();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return lastError;
}

// A logged-in client that counts the bytes of every message line it hears.
struct TBenchSession {
    TPop3Client client;
    bool done = false;
    int lastError = 0;

    TBenchSession(DovecotServer& server, const std::string& user, double& bytes)
    {
        client.SetHost("127.0.0.1");
        client.SetPort(server.PortText());
        client.SetUserName(user);
        client.SetPassWord(kPassword);
        client.OnRequestDone = [this](QObject*, TPop3Request, std::uint16_t e) {
            lastError = e;
            done = true;
        };
        client.OnMessageLine = [this, &bytes](QObject*) {
            bytes += static_cast<double>(client.LastResponse().size() + 2);
        };
    }
    int Request(void (TPop3Client::*request)()) { return Run(client, lastError, done, request); }
    int Retr(int msgNum)
    {
        client.SetMsgNum(msgNum);
        return Request(&TPop3Client::Retr);
    }
};

// Logs in as `user`, retrieves the messages numbered `msgNums` and logs out,
// once an iteration.
void RetrEach(benchmark::State& state, const char* user, const std::vector<int>& msgNums)
{
    DovecotServer* server = Server();
    if (!server) {
        state.SkipWithError("Dovecot unavailable");
        return;
    }
    double messages = 0, bytes = 0;
    for (auto _ : state) {
        TBenchSession session(*server, user, bytes);
        if (session.Request(&TPop3Client::Open) != 0) {
            state.SkipWithError("Open failed");
            return;
        }
        for (int msgNum : msgNums) {
            if (session.Retr(msgNum) != 0) {
                state.SkipWithError("Retr failed");
                return;
            }
            ++messages;
        }
        session.Request(&TPop3Client::Quit);
    }
    Report(state, messages, bytes);
}

void BM_Pop3ClientRetr(benchmark::State& state)
{
    std::vector<int> all(kMessages);
    for (int i = 0; i < kMessages; ++i)
        all[i] = i + 1;
    RetrEach(state, kUser, all);
}

// RETR of one 2.6 MB message: range(0) 1 holds a 600 KB line, 0 does not.
void BM_Pop3ClientRetrBigMessage(benchmark::State& state)
{
    RetrEach(state, kLongUser, {state.range(0) == 1 ? 1 : 2});
}

void BM_PythonPoplibRetr(benchmark::State& state)
{
    DovecotServer* server = Server();
    if (!server) {
        state.SkipWithError("Dovecot unavailable");
        return;
    }
    const QString script = QString::fromStdString(
        "import poplib\n"
        "p = poplib.POP3('127.0.0.1', " + server->PortText() + ")\n"
        "p.user('" + kUser + "'); p.pass_('" + kPassword + "')\n"
        "total = 0\n"
        "for i in range(1, " + std::to_string(kMessages) + " + 1):\n"
        "    resp, lines, octets = p.retr(i)\n"
        "    total += sum(len(l) + 2 for l in lines)\n"
        "p.quit()\n"
        "print(total)\n");
    double messages = 0, bytes = 0;
    for (auto _ : state) {
        QProcess python;
        python.start("python3", {"-c", script});
        python.waitForFinished(600000);
        if (python.exitCode() != 0) {
            state.SkipWithError("poplib failed");
            return;
        }
        bytes += python.readAllStandardOutput().trimmed().toDouble();
        messages += kMessages;
    }
    Report(state, messages, bytes);
}

}  // namespace

BENCHMARK(BM_Pop3ClientRetr)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Pop3ClientRetrBigMessage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PythonPoplibRetr)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

PELLIMAR_QT_BENCHMARK_MAIN()
