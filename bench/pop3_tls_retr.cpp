// RETR of 1000 messages of 50 KB each over POP3S from a private Dovecot
// server (certificate from a test CA): the POP3 client against Python's
// poplib.POP3_SSL retrieving the same mailbox in the same run. Both trust
// the test CA only and verify the server's name.
#include "mail/pop3_client.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/test_certificates.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>

#include "bench/qt_bench_main.h"
#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr int kMessages = 1000;
constexpr std::size_t kMessageBytes = 50 * 1024;
const char* kUser = "bench";
const char* kPassword = "bench-secret";

struct TlsMailbox {
    TestCertificates certificates;
    DovecotServer server;
};

TlsMailbox* Mailbox()
{
    static std::unique_ptr<TlsMailbox> mailbox = [] {
        auto m = std::make_unique<TlsMailbox>();
        std::string error;
        const std::string base = m->certificates.Issue("localhost", "DNS:localhost,IP:127.0.0.1");
        m->server.SetTlsCertificate(base + ".crt", base + ".key");
        if (!m->certificates.Ok() || !DovecotServer::Available(&error) || !m->server.Start(&error)) {
            std::cerr << m->certificates.Error() << error << "\n";
            return std::unique_ptr<TlsMailbox>();
        }
        m->server.AddUser(kUser, kPassword);
        for (int i = 0; i < kMessages; ++i) {
            std::string mail = "From: sender@example.com\r\nSubject: message " + std::to_string(i) + "\r\n\r\n";
            for (int line = 0; mail.size() < kMessageBytes; ++line) {
                std::string text = std::to_string(line) + " ";
                text.resize(74, 'a' + static_cast<char>(line % 26));
                mail += text + "\r\n";
            }
            m->server.PutMessage(kUser, mail);
        }
        return m;
    }();
    return mailbox.get();
}

void Report(benchmark::State& state, double messages, double bytes)
{
    state.counters["messages/s"] = benchmark::Counter(messages, benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(bytes / (1024.0 * 1024.0), benchmark::Counter::kIsRate);
}

void BM_Pop3ClientTlsRetr(benchmark::State& state)
{
    TlsMailbox* mailbox = Mailbox();
    if (!mailbox) {
        state.SkipWithError("Dovecot unavailable");
        return;
    }
    TrustOnly trust(mailbox->certificates.CaFile());
    double messages = 0, bytes = 0;
    for (auto _ : state) {
        TPop3Client c;
        bool done = false;
        int lastError = 0;
        c.SetHost("127.0.0.1");
        c.SetPort(mailbox->server.TlsPortText());
        c.SetSecurity(pop3SecurityTls);
        c.SetUserName(kUser);
        c.SetPassWord(kPassword);
        c.OnRequestDone = [&](QObject*, TPop3Request, std::uint16_t e) {
            lastError = e;
            done = true;
        };
        c.OnMessageLine = [&](QObject*) { bytes += static_cast<double>(c.LastResponse().size() + 2); };
        auto run = [&](void (TPop3Client::*request)()) {
            done = false;
            (c.*request)();
            while (!done)
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            return lastError;
        };
        if (run(&TPop3Client::Open) != 0) {
            state.SkipWithError(("Open failed: " + c.ErrorMessage()).c_str());
            return;
        }
        for (int i = 1; i <= kMessages; ++i) {
            c.SetMsgNum(i);
            if (run(&TPop3Client::Retr) != 0) {
                state.SkipWithError("Retr failed");
                return;
            }
            ++messages;
        }
        run(&TPop3Client::Quit);
    }
    Report(state, messages, bytes);
}

void BM_PythonPoplibSslRetr(benchmark::State& state)
{
    TlsMailbox* mailbox = Mailbox();
    if (!mailbox) {
        state.SkipWithError("Dovecot unavailable");
        return;
    }
    const QString script = QString::fromStdString(
        "import poplib, ssl\n"
        "context = ssl.create_default_context(cafile='" + mailbox->certificates.CaFile() + "')\n"
        "p = poplib.POP3_SSL('127.0.0.1', " + mailbox->server.TlsPortText() + ", context=context)\n"
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
            state.SkipWithError(("poplib failed: " + python.readAllStandardError().toStdString()).c_str());
            return;
        }
        bytes += python.readAllStandardOutput().trimmed().toDouble();
        messages += kMessages;
    }
    Report(state, messages, bytes);
}

}  // namespace

BENCHMARK(BM_Pop3ClientTlsRetr)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PythonPoplibSslRetr)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

PELLIMAR_QT_BENCHMARK_MAIN()
