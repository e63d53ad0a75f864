// The README's demo mailbox, driven as the README drives it: tools/demo_mailbox.sh
// started, started again, and stopped, with the real Dovecot behind it.
#include "tests/support/dovecot_server.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct TScriptRun {
    int status = -1;
    QString out;
};

TScriptRun DemoMailbox(const QStringList& args)
{
    QProcess script;
    script.start(QStringLiteral(PELLIMAR_SOURCE_DIR "/tools/demo_mailbox.sh"), args);
    if (!script.waitForFinished(180000) || script.exitStatus() != QProcess::NormalExit)
        return {};
    return {script.exitCode(), QString::fromLocal8Bit(script.readAllStandardOutput() + script.readAllStandardError())};
}

int PortIn(const QString& out)
{
    const auto match = QRegularExpression(QStringLiteral("Host: 127\\.0\\.0\\.1:(\\d+)")).match(out);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

int MasterPid(const QTemporaryDir& dir)
{
    QFile file(dir.filePath(QStringLiteral("server/run/master.pid")));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

// A process that ended but was not yet reaped by its parent counts as gone.
bool ProcessRunning(int pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return !line.mid(line.lastIndexOf(')') + 1).trimmed().startsWith('Z');
}

// The message count, asked over POP3 by Python's poplib; with `remove`, the
// first message is deleted afterwards. -1 when the server does not answer.
int MessageCount(int port, bool remove = false)
{
    QProcess poplib;
    poplib.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import poplib, sys\n"
                                 "p = poplib.POP3('127.0.0.1', %1, timeout=10)\n"
                                 "p.user('fax'); p.pass_('fax')\n"
                                 "print(p.stat()[0])\n"
                                 "if sys.argv[1] == '1': p.dele(1)\n"
                                 "p.quit()\n")
                      .arg(port),
                  remove ? QStringLiteral("1") : QStringLiteral("0")});
    if (!poplib.waitForFinished(30000) || poplib.exitCode() != 0)
        return -1;
    return poplib.readAllStandardOutput().trimmed().toInt();
}

bool Listening(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    return socket.waitForConnected(3000);
}

TEST(DemoMailboxTest, RestartReplacesTheServerAndStopEndsIt)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct StopAtEnd { // a failed check must not leave the server running
        QString folder;
        ~StopAtEnd() { DemoMailbox({QStringLiteral("stop"), folder}); }
    } stopAtEnd{dir.path()};

    const TScriptRun first = DemoMailbox({dir.path()});
    ASSERT_EQ(first.status, 0) << first.out.toStdString();
    const int port = PortIn(first.out);
    const int firstPid = MasterPid(dir);
    ASSERT_NE(port, 0) << first.out.toStdString();
    EXPECT_EQ(MessageCount(port, true), 4); // three faxes and one ordinary mail
    EXPECT_EQ(MessageCount(port), 3);

    // A second start: the first server is gone, the new one keeps the port
    // (so the saved Configure page still works) and holds the full mailbox.
    const TScriptRun second = DemoMailbox({dir.path()});
    ASSERT_EQ(second.status, 0) << second.out.toStdString();
    const int secondPid = MasterPid(dir);
    EXPECT_EQ(PortIn(second.out), port) << second.out.toStdString();
    EXPECT_NE(secondPid, firstPid);
    EXPECT_FALSE(ProcessRunning(firstPid));
    EXPECT_TRUE(ProcessRunning(secondPid));
    EXPECT_EQ(MessageCount(port), 4);

    const TScriptRun stop = DemoMailbox({QStringLiteral("stop"), dir.path()});
    EXPECT_EQ(stop.status, 0) << stop.out.toStdString();
    EXPECT_TRUE(stop.out.contains(QStringLiteral("stopped"))) << stop.out.toStdString();
    EXPECT_FALSE(ProcessRunning(secondPid));
    EXPECT_FALSE(Listening(port));

    // Stopping again says there is nothing to stop rather than "stopped".
    const TScriptRun again = DemoMailbox({QStringLiteral("stop"), dir.path()});
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(again.out.contains(QStringLiteral("No POP3 server is running"))) << again.out.toStdString();
}

} // namespace
