// RETR of 1000 messages of 50 KB each from a private Dovecot server: the POP3
// client against Python's poplib retrieving the same mailbox in the same run.
// A second mailbox holds one 2.6 MB message with a 600 KB line among short
// ones, against the same size in short lines only: the client's cost must
// stay linear in the bytes received.
#include "bench/pop3_bench_mailbox.h"
#include "mail/pop3_client.h"

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

using pop3bench::kMessages;
using pop3bench::Report;
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
        pop3bench::FillMailbox(*s, kUser);
        s->AddUser(kLongUser, kPassword);
        s->PutMessage(kLongUser, BigMessage(true));
        s->PutMessage(kLongUser, BigMessage(false));
        return s;
    }();
    return server.get();
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
    pop3bench::RunPoplib(state, "import poplib\np = poplib.POP3('127.0.0.1', " + server->PortText() + ")", kUser,
                         kPassword);
}

}  // namespace

BENCHMARK(BM_Pop3ClientRetr)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Pop3ClientRetrBigMessage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PythonPoplibRetr)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

PELLIMAR_QT_BENCHMARK_MAIN()
