#pragma once
// What the POP3 RETR benchmarks share: a mailbox of 1000 messages of 50 KB,
// the rate counters they report, and a run of Python's poplib as the peer.
#include "tests/support/dovecot_server.h"

#include <QProcess>
#include <QString>

#include <benchmark/benchmark.h>

#include <string>

namespace pop3bench {

constexpr int kMessages = 1000;
constexpr std::size_t kMessageBytes = 50 * 1024;

inline void FillMailbox(DovecotServer& server, const std::string& user)
{
    for (int i = 0; i < kMessages; ++i) {
        std::string m = "From: sender@example.com\r\nSubject: message " + std::to_string(i) + "\r\n\r\n";
        for (int line = 0; m.size() < kMessageBytes; ++line) {
            std::string text = std::to_string(line) + " ";
            text.resize(74, 'a' + static_cast<char>(line % 26));
            m += text + "\r\n";
        }
        server.PutMessage(user, m);
    }
}

inline void Report(benchmark::State& state, double messages, double bytes)
{
    state.counters["messages/s"] = benchmark::Counter(messages, benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(bytes / (1024.0 * 1024.0), benchmark::Counter::kIsRate);
}

// Runs poplib once an iteration: `connect` is Python that opens `p`; the
// script logs in, retrieves every message and logs out.
inline void RunPoplib(benchmark::State& state, const std::string& connect, const std::string& user,
                      const std::string& password)
{
    const QString script = QString::fromStdString(
        connect + "\n"
        "p.user('" + user + "'); p.pass_('" + password + "')\n"
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

}  // namespace pop3bench
