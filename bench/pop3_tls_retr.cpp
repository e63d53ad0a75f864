// RETR of 1000 messages of 50 KB each over POP3S from a private Dovecot
// server (certificate from a test CA): the POP3 client against Python's
// poplib.POP3_SSL retrieving the same mailbox in the same run. Both trust
// the test CA only and verify the server's name.
#include "bench/pop3_bench_mailbox.h"
#include "mail/pop3_client.h"
#include "tests/support/test_certificates.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "bench/qt_bench_main.h"
#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <string>

namespace {

using pop3bench::kMessages;
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
        pop3bench::FillMailbox(m->server, kUser);
        return m;
    }();
    return mailbox.get();
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
    pop3bench::Report(state, messages, bytes);
}

void BM_PythonPoplibSslRetr(benchmark::State& state)
{
    TlsMailbox* mailbox = Mailbox();
    if (!mailbox) {
        state.SkipWithError("Dovecot unavailable");
        return;
    }
    pop3bench::RunPoplib(state,
                         "import poplib, ssl\n"
                         "context = ssl.create_default_context(cafile='" + mailbox->certificates.CaFile() + "')\n"
                         "p = poplib.POP3_SSL('127.0.0.1', " + mailbox->server.TlsPortText() + ", context=context)",
                         kUser, kPassword);
}

}  // namespace

BENCHMARK(BM_Pop3ClientTlsRetr)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PythonPoplibSslRetr)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

PELLIMAR_QT_BENCHMARK_MAIN()
