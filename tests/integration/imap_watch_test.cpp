// `pellimar --watch` against a real Dovecot: faxes delivered while it runs
// are catalogued with no user action, also after IDLE was renewed and after
// the server dropped the connection, and SIGTERM ends it cleanly.
#include "tests/integration/fetch_fixture.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/local_mailbox.h"
#include "app/platform/message_box.h"
#include "app/ui/main_window.h"

#include <QCoreApplication>
#include <QTextEdit>

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <gtest/gtest.h>

namespace {

class ImapWatchTest : public FetchFolderTest {
protected:
    // Waits until the output holds text (or the time is up); returns what was read.
    bool WaitForOutput(QProcess& p, const QString& text, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!out_.contains(text) && !deadline.hasExpired()) {
            p.waitForReadyRead(100);
            out_ += QString::fromLatin1(p.readAllStandardOutput());
        }
        return out_.contains(text);
    }
    bool WaitForFax(QProcess& p, const char* name, int ms)
    {
        const QString path = WorkPath(QStringLiteral("faxes/") + QLatin1String(name));
        QDeadlineTimer deadline(ms);
        while (ReadFile(path) != SampleFax(name) && !deadline.hasExpired()) {
            p.waitForReadyRead(100);
            out_ += QString::fromLatin1(p.readAllStandardOutput());
        }
        return ReadFile(path) == SampleFax(name);
    }
    QString out_;
};

QByteArray FaxMail(const char* file)
{
    return MakeMail({QStringLiteral("--sender"), QStringLiteral("+1 555 0199"), QStringLiteral("--date"),
                     QStringLiteral("12/09/2026 06:00"), QStringLiteral("--attach"),
                     QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + QLatin1String(file)});
}

TEST_F(ImapWatchTest, FaxesArriveWithoutUserActionAcrossRenewalAndADroppedConnection)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    DovecotServer server;
    server.EnableImap();
    ASSERT_TRUE(server.Start(&why)) << why;
    server.AddUser("fax", "fax");
    const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
    registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"127.0.0.1:%2\"\n\"rgUserName\"=\"fax\"\n"
                                         "\"rgPassword\"=\"fax\"\n\"rgSecurity\"=\"None\"\n\"rgMailboxType\"=\"IMAP\"\n")
                              .arg(key)
                              .arg(server.ImapPort())
                              .toLatin1());
    QProcess pellimar;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PELLIMAR_IDLE_RENEW_SECONDS"), QStringLiteral("1"));
    env.insert(QStringLiteral("PELLIMAR_RECONNECT_SECONDS"), QStringLiteral("0.3"));
    pellimar.setProcessEnvironment(env);
    pellimar.setWorkingDirectory(work_.path());
    pellimar.start(PellimarProgram(), {QStringLiteral("--watch")});
    ASSERT_TRUE(pellimar.waitForStarted());
    // The first run, for what came before, finds nothing.
    ASSERT_TRUE(WaitForOutput(pellimar, QStringLiteral("No new faxes detected!"), 20000)) << out_.toStdString();

    server.PutMessage("fax", FaxMail("text-standard.apf").toStdString());
    EXPECT_TRUE(WaitForFax(pellimar, "text-standard.apf", 15000)) << out_.toStdString();

    // IDLE has been renewed a few times by now.
    QThread::msleep(2500);
    server.PutMessage("fax", FaxMail("lines-standard.apf").toStdString());
    EXPECT_TRUE(WaitForFax(pellimar, "lines-standard.apf", 15000)) << out_.toStdString();

    // The server drops the session; the watch reconnects and goes on.
    ASSERT_TRUE(server.KickUser("fax")) << server.Log();
    EXPECT_TRUE(WaitForOutput(pellimar, QStringLiteral("reconnecting in"), 10000)) << out_.toStdString();
    QThread::msleep(1000);
    server.PutMessage("fax", FaxMail("black-fine.apf").toStdString());
    EXPECT_TRUE(WaitForFax(pellimar, "black-fine.apf", 15000)) << out_.toStdString();
    EXPECT_EQ(server.CountMessages("fax"), 0);

    pellimar.terminate();
    EXPECT_TRUE(pellimar.waitForFinished(10000));
    EXPECT_EQ(pellimar.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(pellimar.exitCode(), 0);
}

TEST_F(ImapWatchTest, TheWindowFetchesAFaxAsItArrives)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    DovecotServer server;
    server.EnableImap();
    ASSERT_TRUE(server.Start(&why)) << why;
    server.AddUser("fax", "fax");
    const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
    registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"127.0.0.1:%2\"\n\"rgUserName\"=\"fax\"\n"
                                         "\"rgPassword\"=\"fax\"\n\"rgSecurity\"=\"None\"\n\"rgMailboxType\"=\"IMAP\"\n"
                                         "\"rgPushFetch\"=\"Yes\"\n")
                              .arg(key)
                              .arg(server.ImapPort())
                              .toLatin1());
    SetMessageHandler([](TMessageKind, const QString&, const QString&) { return TMessageAnswer::Ok; });
    {
        TForm1 w;
        const QString path = WorkPath(QStringLiteral("faxes/wide.apf"));
        auto runFor = [&](int ms, const std::function<bool()>& done) {
            QDeadlineTimer deadline(ms);
            while (!done() && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            return done();
        };
        ASSERT_TRUE(runFor(20000, [&] { return w.DisplayMemo->toPlainText().contains(QLatin1String("No new faxes")); }))
            << w.DisplayMemo->toPlainText().toStdString();
        server.PutMessage("fax", FaxMail("wide.apf").toStdString());
        EXPECT_TRUE(runFor(15000, [&] { return ReadFile(path) == SampleFax("wide.apf"); }))
            << w.DisplayMemo->toPlainText().toStdString();
    }
    SetMessageHandler({});
}

}  // namespace
