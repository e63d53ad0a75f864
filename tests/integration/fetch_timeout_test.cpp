// `pellimar --fetch --timeout SECONDS` against a server that stops answering:
// the run ends by itself, keeps every mail on the server and exits with 4.
#include "app/cli/command_line.h"
#include "app/core/download.h"
#include "tests/support/scripted_server.h"
#include "tests/support/temp_registry.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct FetchResult {
    int exitCode = -1;
    QString out;
};

class FetchTimeoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(work_.path()).mkpath(QStringLiteral("temp"));
        QDir(work_.path()).mkpath(QStringLiteral("faxes"));
    }

    FetchResult Fetch(const ScriptedServer& server, const QStringList& options)
    {
        const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
        registry_.SetContents(
            QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"127.0.0.1:%2\"\n\"rgUserName\"=\"fax\"\n\"rgPassword\"=\"fax\"\n")
                .arg(key)
                .arg(server.Port())
                .toLatin1());
        QProcess fetch;
        fetch.setWorkingDirectory(work_.path());
        fetch.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), QStringList{QStringLiteral("--fetch")} + options);
        FetchResult result;
        if (!fetch.waitForFinished(60000)) {
            fetch.kill();
            fetch.waitForFinished();
            return result;
        }
        result.exitCode = fetch.exitCode();
        result.out = QString::fromLatin1(fetch.readAllStandardOutput());
        return result;
    }

    TempRegistry registry_;
    QTemporaryDir work_;
};

// Logs in and starts delivering a fax mail, then falls silent; records what
// the client sends until it drops the connection.
void StallInsideAFaxMail(ScriptedServer& server, ScriptedPeer& p)
{
    p.Send("+OK ready\r\n");
    for (const char* reply : {"+OK\r\n", "+OK\r\n", "+OK 1 900\r\n", "+OK 1 stalled-uid\r\n"}) {
        server.Record(p.ReadLine());
        p.Send(reply);
    }
    server.Record(p.ReadLine());  // RETR 1
    p.Send("+OK message follows\r\nSubject: {Varnel} fax\r\n{FaxSender}=123x\r\nfirst body line\r\n");
    server.Record(p.ReadUntilClosed(30000));
}

TEST_F(FetchTimeoutTest, SilentServerEndsTheRunWithStatus4AndKeepsTheMail)
{
    {
        // Accepts the connection and never greets.
        ScriptedServer silent([](ScriptedPeer& p) { p.WaitForClose(30000); });
        const FetchResult r = Fetch(silent, {QStringLiteral("--timeout"), QStringLiteral("1")});
        EXPECT_EQ(r.exitCode, static_cast<int>(TRunOutcome::ScanFailed)) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("(Winsock error #10060)"))) << r.out.toStdString();
    }
    {
        ScriptedServer stalling([&stalling](ScriptedPeer& p) { StallInsideAFaxMail(stalling, p); });
        const FetchResult r = Fetch(stalling, {QStringLiteral("--timeout"), QStringLiteral("1")});
        stalling.Join();
        EXPECT_EQ(r.exitCode, static_cast<int>(TRunOutcome::ScanFailed)) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Fax Detected. Preparing to download."))) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Error -ERR Connection timed out (Winsock error #10060)")))
            << r.out.toStdString();
        // Neither DELE nor QUIT reached the server, and the half capture is gone.
        EXPECT_FALSE(QString::fromStdString(stalling.Received()).contains(QStringLiteral("DELE")));
        EXPECT_FALSE(QString::fromStdString(stalling.Received()).contains(QStringLiteral("QUIT")));
        EXPECT_TRUE(QDir(work_.filePath(QStringLiteral("temp"))).isEmpty());
    }
    {
        ScriptedServer unused([](ScriptedPeer&) {}, 0);
        for (const QStringList& bad : {QStringList{QStringLiteral("--timeout")},
                                       QStringList{QStringLiteral("--timeout"), QStringLiteral("0")},
                                       QStringList{QStringLiteral("--timeout"), QStringLiteral("ten")}})
            EXPECT_EQ(Fetch(unused, bad).exitCode, kUsageExitStatus) << bad.join(QLatin1Char(' ')).toStdString();
    }
}

}  // namespace
