// The IMAP download run against a scripted server that misbehaves while the
// second of two fax mails is fetched: a literal that lies about its size, a
// line of more than a megabyte, a completion for a command never sent, BYE
// in the middle of the fetch, a refusal. Every run ends with a clear log
// line; the first fax is captured, the second leaves nothing behind, and no
// mail is marked that was not captured.
#include "tests/integration/fetch_fixture.h"
#include "tests/support/core_run.h"
#include "tests/support/local_mailbox.h"
#include "tests/support/scripted_server.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

std::string CrLf(const QByteArray& lf)
{
    std::string out;
    for (char c : lf.toStdString()) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

const char* kCapabilities = "IMAP4rev1 UIDPLUS MOVE IDLE";

// Answers the commands of a download until the fetch of UID 2, which
// hostile answers; then keeps answering until the client goes.
void ServeImap(ScriptedPeer& p, const std::string& fax, const std::function<void(ScriptedPeer&, const std::string& tag)>& hostile,
               ScriptedServer& server)
{
    p.Send(std::string("* OK [CAPABILITY ") + kCapabilities + "] ready\r\n");
    for (;;) {
        const std::string line = p.ReadLine(5000);
        if (line.empty())
            return;
        server.Record(line);
        const std::string tag = line.substr(0, line.find(' '));
        const std::string command = line.substr(tag.size() + 1);
        if (command.rfind("LOGIN", 0) == 0) {
            p.Send(tag + " OK [CAPABILITY " + kCapabilities + "] logged in\r\n");
        } else if (command.rfind("SELECT", 0) == 0) {
            p.Send("* 2 EXISTS\r\n* OK [UIDVALIDITY 7] UIDs valid\r\n" + tag + " OK [READ-WRITE] selected\r\n");
        } else if (command.rfind("UID SEARCH", 0) == 0) {
            p.Send("* SEARCH 1 2\r\n" + tag + " OK searched\r\n");
        } else if (command.rfind("UID FETCH 1 ", 0) == 0) {
            p.Send("* 1 FETCH (UID 1 BODY[] {" + std::to_string(fax.size()) + "}\r\n" + fax + ")\r\n" + tag +
                   " OK fetched\r\n");
        } else if (command.rfind("UID FETCH 2 ", 0) == 0) {
            hostile(p, tag);
        } else if (command.rfind("LOGOUT", 0) == 0) {
            p.Send("* BYE bye\r\n" + tag + " OK logged out\r\n");
            p.Close();
            return;
        } else {
            p.Send(tag + " OK done\r\n");
        }
    }
}

class ImapHostileTest : public FetchFolderTest {};

TEST_F(ImapHostileTest, EachMisbehaviourEndsWithALogLineAndMarksNothingUncaptured)
{
    const std::string fax = CrLf(MakeMail({QStringLiteral("--sender"), QStringLiteral("+1 555 0100"),
                                           QStringLiteral("--date"), QStringLiteral("12/09/2026 06:00")}));
    const std::string half = fax.substr(0, fax.size() / 2);
    struct Case {
        const char* name;
        std::function<void(ScriptedPeer&, const std::string&)> hostile;
        const char* logged;  // part of a log line
        bool staysConnected;
    };
    const Case cases[] = {
        {"literal shorter than it says",
         [&](ScriptedPeer& p, const std::string& tag) {
             p.Send("* 2 FETCH (UID 2 BODY[] {" + std::to_string(fax.size() * 2) + "}\r\n" + fax + ")\r\n" + tag +
                    " OK fetched\r\n");
             p.Pause(200);
             p.Close();
         },
         "the connection closed before the request completed", false},
        {"literal longer than it says",
         [&](ScriptedPeer& p, const std::string& tag) {
             p.Send("* 2 FETCH (UID 2 BODY[] {" + std::to_string(half.size()) + "}\r\n" + fax + ")\r\n" + tag +
                    " OK fetched\r\n");
             p.WaitForClose(5000);
         },
         "IMAP protocol error", false},
        {"a line of more than a megabyte",
         [&](ScriptedPeer& p, const std::string&) {
             p.Send("* 2 FETCH (UID 2 FLAGS (" + std::string(1100 * 1024, 'x'));
             p.WaitForClose(5000);
         },
         "response line longer than 1048576 bytes", false},
        {"a completion for a command never sent",
         [&](ScriptedPeer& p, const std::string&) {
             p.Send("P99 OK FETCH completed\r\n");
             p.WaitForClose(5000);
         },
         "a response to a command never sent", false},
        {"BYE in the middle of the fetch",
         [&](ScriptedPeer& p, const std::string&) {
             p.Send("* 2 FETCH (UID 2 BODY[] {" + std::to_string(fax.size()) + "}\r\n" + half);
             p.Send("\r\n* BYE shutting down\r\n");
             p.Close();
         },
         "the connection closed before the request completed", false},
        {"BYE instead of the answer",
         [&](ScriptedPeer& p, const std::string&) {
             p.Send("* BYE shutting down\r\n");
             p.Close();
         },
         "the server ended the session: shutting down", false},
        {"a refusal",
         [&](ScriptedPeer& p, const std::string& tag) { p.Send(tag + " NO [UNAVAILABLE] try later\r\n"); },
         "NO [UNAVAILABLE] try later", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(WorkPath(QStringLiteral("temp"))).removeRecursively();
        QDir(work_.path()).mkpath(QStringLiteral("temp"));
        ScriptedServer* serverPtr = nullptr;
        ScriptedServer server([&](ScriptedPeer& p) { ServeImap(p, fax, c.hostile, *serverPtr); });
        serverPtr = &server;

        TCoreRun w;
        w.Download.OnListsSaved = nullptr;
        w.Client.SetTimeout(5);
        w.Host.Settings.Host = QStringLiteral("127.0.0.1:") + QString::fromStdString(server.PortText());
        w.Host.Settings.UserName = QStringLiteral("fax");
        w.Host.Settings.Password = QStringLiteral("fax");
        w.Host.Settings.MailboxType = QStringLiteral("IMAP");
        QEventLoop loop;
        bool finished = false;
        TRunOutcome outcome = TRunOutcome::Completed;
        w.Download.OnRunFinished = [&](TRunOutcome o) {
            outcome = o;
            finished = true;
            loop.quit();
        };
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        w.Download.btnDownloadClick();
        if (!finished)
            loop.exec();
        server.Join();
        ASSERT_TRUE(finished);
        const QString log = w.Host.LogLines.join(QLatin1Char('\n'));
        EXPECT_EQ(outcome, TRunOutcome::ScanFailed) << log.toStdString();
        EXPECT_TRUE(log.contains(QLatin1String(c.logged))) << log.toStdString();
        // The first fax is captured; of the second nothing is left.
        EXPECT_EQ(Entries(QStringLiteral("temp")).filter(QStringLiteral("imap-7-1.txt")).size(), 1)
            << Entries(QStringLiteral("temp")).join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(Entries(QStringLiteral("temp")).filter(QStringLiteral("imap-7-2")).isEmpty());
        const std::string received = server.Received();
        EXPECT_EQ(received.find("UID STORE 2"), std::string::npos) << received;
        EXPECT_EQ(received.find(":2"), std::string::npos) << received;
        if (c.staysConnected) {
            // Still connected: the captured fax alone is removed, then the client logs out.
            EXPECT_NE(received.find("UID STORE 1 +FLAGS.SILENT (\\Deleted)"), std::string::npos) << received;
            EXPECT_NE(received.find("UID EXPUNGE 1\r\n"), std::string::npos) << received;
            EXPECT_NE(received.find("LOGOUT"), std::string::npos) << received;
        } else {
            EXPECT_EQ(received.find("STORE"), std::string::npos) << received;
        }
    }
}

}  // namespace
