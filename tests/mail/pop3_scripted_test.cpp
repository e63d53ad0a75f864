// The POP3 client against a scripted server that sends what a real server
// never does: negative greetings, replies cut at odd places, dropped
// connections, overlong lines.
#include "tests/mail/pop3_session.h"
#include "tests/support/event_wait.h"
#include "tests/support/scripted_server.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const char* kGreeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";

// Greets, then answers USER and PASS positively.
void GreetAndLogIn(ScriptedPeer& p, const std::string& greeting = kGreeting)
{
    p.Send(greeting);
    p.ReadLine();
    p.Send("+OK user\r\n");
    p.ReadLine();
    p.Send("+OK logged in\r\n");
}

TEST(Pop3Scripted, NegativeGreetingEndsConnectWith10004AndOpenWith500)
{
    ScriptedServer server([](ScriptedPeer& p) {
        p.Send("-ERR too busy\r\n+OK never read\r\n");
        p.WaitForClose();
    }, 2);
    Pop3Session s(server.PortText());
    EXPECT_EQ(s.Run([&] { s.client.Connect(); }), 10004);
    EXPECT_EQ(s.done.back().request, pop3Connect);
    EXPECT_EQ(s.sessionClosed, 1);
    EXPECT_EQ(s.client.ErrorMessage(), "-ERR too busy");
    EXPECT_FALSE(s.client.Connected());

    EXPECT_EQ(s.Run([&] { s.client.Open(); }), 500);
    EXPECT_EQ(s.done.back().request, pop3Open);
    EXPECT_EQ(s.sessionClosed, 2);
    EXPECT_EQ(s.client.ErrorMessage(), "-ERR too busy");
    EXPECT_EQ(s.client.ProtocolState(), pop3Disconnected);
}

TEST(Pop3Scripted, ApopDigestAndTheTimestampRule)
{
    ScriptedServer server(
        [&server](ScriptedPeer& p) {
            p.Send(kGreeting);
            const std::string apop = p.ReadLine();
            server.Record(apop);
            p.Send("+OK maildrop has 0 messages\r\n");
            p.ReadLine();
            p.Send("+OK bye\r\n");
            p.Close();
        });
    Pop3Session s(server.PortText());
    s.client.SetUserName("  mrose ");
    s.client.SetPassWord("tanstaaf");
    ASSERT_EQ(s.Run([&] { s.client.Connect(); }), 0);
    EXPECT_EQ(s.client.Timestamp(), "<1896.697170952@dbc.mtview.ca.us>");
    ASSERT_EQ(s.Run([&] { s.client.APop(); }), 0);
    ASSERT_EQ(s.Run([&] { s.client.Quit(); }), 0);
    server.Join();
    // The digest of the worked example of the POP3 standard, in upper case.
    EXPECT_EQ(server.Received(), "APOP mrose C4C9334BAC560ECC979E58001B3E22FB\r\n");
}

TEST(Pop3Scripted, GreetingWithoutTimestampRefusesApopEvenAfterOneWithIt)
{
    int connection = 0;
    ScriptedServer server(
        [&connection](ScriptedPeer& p) {
            p.Send(++connection == 1 ? "+OK hello <a.b@c> there\r\n" : "+OK no stamp <here\r\n");
            if (p.ReadLine() == "QUIT\r\n") {
                p.Send("+OK\r\n");
                p.Close();
            }
        },
        2);
    Pop3Session s(server.PortText());
    ASSERT_EQ(s.Run([&] { s.client.Connect(); }), 0);
    EXPECT_EQ(s.client.Timestamp(), "<a.b@c>");
    ASSERT_EQ(s.Run([&] { s.client.Quit(); }), 0);
    ASSERT_TRUE(RunEventsUntil([&] { return s.sessionClosed == 1; }));
    ASSERT_EQ(s.Run([&] { s.client.Connect(); }), 0);
    EXPECT_EQ(s.client.Timestamp(), "");
    try {
        s.client.APop();
        FAIL();
    } catch (const Pop3Exception& e) {
        EXPECT_STREQ(e.what(), "-ERR Server do not support APOP (no timestamp)");
    }
    s.client.Abort();
}

TEST(Pop3Scripted, RepliesSplitAcrossReadsAndSeveralInOneRead)
{
    ScriptedServer server([](ScriptedPeer& p) {
        // The greeting a few bytes at a time, CR and LF in separate reads.
        for (const char* piece : {"+O", "K ready", "\r", "\n"}) {
            p.Send(piece);
            p.Pause(30);
        }
        p.ReadLine();
        p.Send("+OK\r\n");
        p.ReadLine();
        p.Send("+OK\r\n");
        p.ReadLine();  // STAT
        p.Send("+OK 3 ");
        p.Pause(30);
        p.Send("4500\r\n");
        p.ReadLine();  // STAT again
        p.Send("+OK 3\r\n");
        p.ReadLine();  // RETR 2: status, lines and end in one write
        p.Send("+OK message follows\r\nSubject: x\r\n\r\n..\r\n..x\r\n.y\r\n.\r\n");
        p.ReadLine();  // LIST
        p.Send("+OK 2 messages\r\n1 120\r\n2 4");
        p.Pause(30);
        p.Send("500\r\n.\r\n");
        p.WaitForClose();
    });
    Pop3Session s(server.PortText());
    ASSERT_EQ(s.Run([&] { s.client.Open(); }), 0);
    ASSERT_EQ(s.Run([&] { s.client.Stat(); }), 0);
    EXPECT_EQ(s.client.MsgCount(), 3);
    EXPECT_EQ(s.client.MsgSize(), 4500);
    ASSERT_EQ(s.Run([&] { s.client.Stat(); }), 0);
    EXPECT_EQ(s.client.MsgCount(), 0);
    EXPECT_EQ(s.client.MsgSize(), 0);
    s.client.SetMsgNum(2);
    ASSERT_EQ(s.Run([&] { s.client.Retr(); }), 0);
    EXPECT_EQ(s.lines, (std::vector<std::string>{"Subject: x", "", ".", ".x", ".y"}));
    s.client.SetMsgNum(0);
    ASSERT_EQ(s.Run([&] { s.client.List(); }), 0);
    EXPECT_EQ(s.lines, (std::vector<std::string>{"1 120", "2 4500"}));
    EXPECT_EQ(s.client.MsgNum(), 2);
    EXPECT_EQ(s.client.MsgSize(), 4500);
    s.client.Abort();
}

TEST(Pop3Scripted, DroppedInsideAMultiLineReplyEndsWith10004)
{
    ScriptedServer server([](ScriptedPeer& p) {
        GreetAndLogIn(p);
        p.ReadLine();
        p.Send("+OK\r\nfirst line\r\nsecond ");
        p.Close();
    });
    Pop3Session s(server.PortText());
    int ends = 0;
    s.client.OnMessageEnd = [&](QObject*) { ++ends; };
    ASSERT_EQ(s.Run([&] { s.client.Open(); }), 0);
    s.client.SetMsgNum(1);
    EXPECT_EQ(s.Run([&] { s.client.Retr(); }), 10004);
    EXPECT_EQ(s.done.back().request, pop3Retr);
    EXPECT_EQ(s.lines, std::vector<std::string>{"first line"});
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(s.sessionClosed, 1);
    EXPECT_EQ(s.client.ProtocolState(), pop3Disconnected);
    EXPECT_EQ(s.client.State(), pop3Ready);
}

TEST(Pop3Scripted, DroppedInsideOpenEndsOpenWithAnErrorAndNoException)
{
    ScriptedServer server([](ScriptedPeer& p) {
        p.Send(kGreeting);
        p.ReadLine();  // USER, then gone
        p.Close();
    });
    Pop3Session s(server.PortText());
    EXPECT_EQ(s.Run([&] { s.client.Open(); }), 10004);
    ASSERT_EQ(s.done.size(), 1u);
    EXPECT_EQ(s.done[0].request, pop3Open);
    EXPECT_FALSE(s.client.ErrorMessage().empty());
    EXPECT_EQ(s.client.State(), pop3Ready);
    RunEventsFor(100);
    EXPECT_EQ(s.done.size(), 1u);  // exactly one completion
}

TEST(Pop3Scripted, OverlongReplyLineFailsTheRequestInsteadOfStalling)
{
    ScriptedServer server([](ScriptedPeer& p) {
        GreetAndLogIn(p);
        p.ReadLine();  // STAT: a NUL inside a line is no obstacle
        p.Send(std::string("+OK 2 3\0 trailing\r\n", 19));
        p.ReadLine();  // STAT: a reply that never ends
        const std::string chunk(64 * 1024, 'x');
        for (int i = 0; i < 40 && p.Send(chunk); ++i) {
        }
        p.WaitForClose();
    });
    Pop3Session s(server.PortText());
    ASSERT_EQ(s.Run([&] { s.client.Open(); }), 0);
    ASSERT_EQ(s.Run([&] { s.client.Stat(); }), 0);
    EXPECT_EQ(s.client.MsgCount(), 2);
    EXPECT_EQ(s.client.MsgSize(), 3);
    EXPECT_EQ(s.Run([&] { s.client.Stat(); }), 500);
    EXPECT_EQ(s.client.ErrorMessage(), "-ERR Reply line longer than 1048576 bytes");
    ASSERT_TRUE(RunEventsUntil([&] { return s.sessionClosed == 1; }));
    EXPECT_FALSE(s.client.Connected());
}

TEST(Pop3Scripted, RequestsInTheWrongStateRaiseWithoutCompletion)
{
    ScriptedServer server([](ScriptedPeer& p) {
        p.Send("+OK hi\r\n");
        p.WaitForClose();
    });
    Pop3Session s(server.PortText());
    s.client.SetMsgLines(-1);
    try {
        s.client.Top();
        FAIL();
    } catch (const Pop3Exception& e) {
        EXPECT_STREQ(e.what(), "Invalid MsgLines for TOP command");
    }
    try {
        s.client.Stat();
        FAIL();
    } catch (const Pop3Exception& e) {
        EXPECT_STREQ(e.what(), "-ERR STAT command invalid now");
    }
    try {
        s.client.User();
        FAIL();
    } catch (const Pop3Exception& e) {
        EXPECT_STREQ(e.what(), "POP3 component not connected");
    }
    ASSERT_EQ(s.Run([&] { s.client.Connect(); }), 0);
    s.display.clear();
    try {
        s.client.Retr();
        FAIL();
    } catch (const Pop3Exception& e) {
        EXPECT_STREQ(e.what(), "-ERR RETR command invalid now");
    }
    EXPECT_EQ(s.display, std::vector<std::string>{"-ERR RETR command invalid now"});
    EXPECT_EQ(s.client.ErrorMessage(), "-ERR RETR command invalid now");
    EXPECT_THROW(s.client.Connect(), Pop3Exception);  // already connected
    EXPECT_THROW(s.client.Open(), Pop3Exception);
    RunEventsFor(100);
    EXPECT_EQ(s.done.size(), 1u);
    s.client.Abort();
}

TEST(Pop3Scripted, AbortDuringOpenEndsWith426)
{
    ScriptedServer server([](ScriptedPeer& p) { p.WaitForClose(); });  // never greets
    Pop3Session s(server.PortText());
    s.client.Open();
    ASSERT_TRUE(RunEventsUntil([&] { return s.client.State() == pop3WaitingGreeting; }));
    s.client.Abort();
    ASSERT_TRUE(RunEventsUntil([&] { return !s.done.empty(); }));
    EXPECT_EQ(s.done[0].request, pop3Open);
    EXPECT_EQ(s.done[0].error, 426);
    EXPECT_EQ(s.client.ErrorMessage(), "426 Operation aborted.");
    EXPECT_EQ(s.client.State(), pop3Ready);
}

TEST(Pop3Scripted, ConnectFailuresCarryTheSocketError)
{
    Pop3Session refused(std::to_string(FreeLoopbackPort()));
    EXPECT_EQ(refused.Run([&] { refused.client.Open(); }), 10061);
    EXPECT_EQ(refused.client.ErrorMessage(), "-ERR Connection refused (Winsock error #10061)");
    EXPECT_EQ(refused.client.State(), pop3Ready);

    setenv("RES_OPTIONS", "timeout:1 attempts:1", 1);
    Pop3Session unknown("110", "no-such-host.invalid");
    const int error = unknown.Run([&] { unknown.client.Open(); });
    ASSERT_TRUE(error == 11001 || error == 11002) << error;
    EXPECT_EQ(unknown.client.ErrorMessage(), "-ERR " + SocketErrorText(error) + " (Winsock error #" +
                                                 std::to_string(error) + ")");

    Pop3Session badPort("no-such-service");
    try {
        badPort.client.Open();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "connect: NetSocketResolvePort: Cannot convert port 'no-such-service'");
    }
    EXPECT_EQ(badPort.client.State(), pop3Ready);
}

TEST(Pop3Scripted, IdleTimeOutEndsTheRequestAndDropsTheConnectionWithoutQuit)
{
    struct Case {
        const char* name;
        std::function<void(ScriptedPeer&)> script;
        bool retrieve;         // log in and RETR, else just Open
        int timeout;           // seconds
        int error;             // of the request that waits
        std::size_t lines;     // message lines delivered
    };
    const Case cases[] = {
        {"never greets", [](ScriptedPeer& p) { p.WaitForClose(); }, false, 1, 10060, 0},
        {"stops inside a message",
         [](ScriptedPeer& p) {
             GreetAndLogIn(p);
             p.ReadLine();
             p.Send("+OK\r\nfirst\r\nsecond\r\nthird without its end");
             p.WaitForClose();
         },
         true, 1, 10060, 2},
        {"slow but never silent for a whole time-out",
         [](ScriptedPeer& p) {
             GreetAndLogIn(p);
             p.ReadLine();
             p.Send("+OK\r\n");
             for (int i = 0; i < 6; ++i) {
                 p.Pause(500);
                 p.Send("line\r\n");
             }
             p.Send(".\r\n");
             p.WaitForClose();
         },
         true, 2, 0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](ScriptedPeer& p) {
            c.script(p);
            server.Record(p.ReadUntilClosed());
        });
        Pop3Session s(server.PortText());
        s.client.SetTimeout(c.timeout);
        if (c.retrieve) {
            ASSERT_EQ(s.Run([&] { s.client.Open(); }), 0);
            s.client.SetMsgNum(1);
            EXPECT_EQ(s.Run([&] { s.client.Retr(); }), c.error);
        } else {
            EXPECT_EQ(s.Run([&] { s.client.Open(); }), c.error);
        }
        EXPECT_EQ(s.lines.size(), c.lines);
        if (c.error != 0) {
            EXPECT_EQ(s.client.ErrorMessage(), "-ERR Connection timed out (Winsock error #10060)");
            ASSERT_TRUE(RunEventsUntil([&] { return s.sessionClosed == 1; }));
            EXPECT_FALSE(s.client.Connected());
            EXPECT_EQ(s.client.State(), pop3Ready);
            server.Join();
            EXPECT_EQ(server.Received().find("QUIT"), std::string::npos);
            RunEventsFor(100);
            EXPECT_EQ(s.done.size(), c.retrieve ? 2u : 1u);  // exactly one completion for it
        } else {
            s.client.Abort();
        }
    }
}

// Connecting to a broadcast or multicast address fails inside connect()
// itself. The failure must come back as the request's completion with the
// socket's own number, whether the address was written in dotted form or
// reached through the asynchronous lookup, and the client must still work.
TEST(Pop3Scripted, ConnectRefusedAtOnceCompletesWithItsNumberAndTheNextOpenWorks)
{
    ScriptedServer server([](ScriptedPeer& p) {
        GreetAndLogIn(p);
        p.WaitForClose();
    });
    Pop3Session s(server.PortText());
    setenv("RES_OPTIONS", "timeout:1 attempts:1", 1);
    for (const char* host : {"224.0.0.1", "255.255.255.255"}) {
        SCOPED_TRACE(host);
        s.client.SetHost(host);
        const int error = s.Run([&] { s.client.Open(); });
        EXPECT_GT(error, 10000);
        EXPECT_NE(error, 10022);
        EXPECT_EQ(s.client.ErrorMessage(), "-ERR " + SocketErrorText(error) + " (Winsock error #" +
                                               std::to_string(error) + ")");
        EXPECT_EQ(s.client.State(), pop3Ready);
        EXPECT_EQ(s.client.Socket()->State(), wsClosed);
        EXPECT_EQ(s.client.Socket()->Handle(), -1);
    }
    s.client.SetHost("127.0.0.1");
    EXPECT_EQ(s.Run([&] { s.client.Open(); }), 0);
    s.client.Abort();
}

// A host with an IPv6 and an IPv4 address: each address is tried in turn,
// so a server listening on only one of them is found either way. The name
// comes from a hosts file of the test's own, bound over /etc/hosts in a
// private mount namespace where this test runs again.
TEST(Pop3Scripted, EveryAddressOfTheHostIsTriedInOrder)
{
    if (!qEnvironmentVariableIsSet("PELLIMAR_PRIVATE_HOSTS")) {
        QTemporaryDir dir;
        const QString hosts = dir.filePath(QStringLiteral("hosts"));
        QFile file(hosts);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("::1 both.test\n127.0.0.1 both.test\n");
        file.close();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PELLIMAR_PRIVATE_HOSTS"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("unshare"),
                    {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                     QStringLiteral("mount --bind \"$0\" /etc/hosts || exit 77; exec \"$1\" "
                                    "--gtest_filter=Pop3Scripted.EveryAddressOfTheHostIsTriedInOrder"),
                     hosts, QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()});
        ASSERT_TRUE(child.waitForFinished(120000));
        const std::string output = child.readAll().toStdString();
        if (child.exitCode() == 77 || child.error() == QProcess::FailedToStart)
            GTEST_SKIP() << "no private mount namespace here: " << output;
        EXPECT_EQ(child.exitCode(), 0) << output;
        return;
    }
    for (const char* listen : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(listen);
        ScriptedServer server([](ScriptedPeer& p) {
            GreetAndLogIn(p);
            p.WaitForClose();
        }, 1, listen);
        Pop3Session s(server.PortText(), "both.test");
        EXPECT_EQ(s.Run([&] { s.client.Open(); }), 0) << s.client.ErrorMessage();
        EXPECT_EQ(s.client.Socket()->PeerAddress(), listen);
        s.client.Abort();
    }
}

}  // namespace
