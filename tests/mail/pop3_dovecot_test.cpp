// The POP3 client against a real Dovecot server on a loopback port.
#include "tests/mail/pop3_session.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/event_wait.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::string Mail(const std::string& subject, const std::string& body)
{
    return "From: fax@example.com\r\nTo: office@example.com\r\nSubject: " + subject + "\r\n\r\n" + body;
}

class Pop3Dovecot : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string why;
        if (!DovecotServer::Available(&why)) {
            skipReason_ = why;
            return;
        }
        server_ = std::make_unique<DovecotServer>();
        if (!server_->Start(&why)) {
            skipReason_ = why;
            server_.reset();
        }
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override
    {
        if (!server_)
            GTEST_SKIP() << skipReason_;
        // A mailbox of its own for every test.
        user_ = "user" + std::to_string(++users_);
        server_->AddUser(user_, "secret " + user_);
        session_ = std::make_unique<Pop3Session>(server_->PortText());
        session_->client.SetUserName(user_);
        session_->client.SetPassWord("secret " + user_);
    }

    int Open() { return session_->Run([&] { session_->client.Open(); }); }

    static std::unique_ptr<DovecotServer> server_;
    static std::string skipReason_;
    static int users_;
    std::string user_;
    std::unique_ptr<Pop3Session> session_;
};

std::unique_ptr<DovecotServer> Pop3Dovecot::server_;
std::string Pop3Dovecot::skipReason_;
int Pop3Dovecot::users_ = 0;

TEST_F(Pop3Dovecot, OpenWithUserAndPassThenStatListUidl)
{
    const std::string m1 = Mail("one", "first\r\n"), m2 = Mail("two", "second message\r\n"),
                      m3 = Mail("three", "third\r\n");
    for (const auto* m : {&m1, &m2, &m3})
        server_->PutMessage(user_, *m);
    TPop3Client& c = session_->client;
    std::vector<int> states;
    c.OnStateChange = [&](QObject*) { states.push_back(c.State()); };
    ASSERT_EQ(Open(), 0) << c.ErrorMessage();
    EXPECT_EQ(session_->done.back().request, pop3Open);
    EXPECT_EQ(c.ProtocolState(), pop3Transaction);
    EXPECT_EQ(c.State(), pop3Ready);
    EXPECT_EQ(states.front(), pop3LookingUpHost);
    EXPECT_EQ(states.back(), pop3Ready);
    EXPECT_EQ(session_->display.at(1), "> USER " + user_);

    ASSERT_EQ(session_->Run([&] { c.Stat(); }), 0);
    EXPECT_EQ(session_->done.back().request, pop3Stat);
    EXPECT_EQ(c.MsgCount(), 3);
    EXPECT_EQ(c.MsgSize(), static_cast<int>(m1.size() + m2.size() + m3.size()));

    c.SetMsgNum(0);
    ASSERT_EQ(session_->Run([&] { c.List(); }), 0);
    ASSERT_EQ(session_->lines.size(), 3u);
    EXPECT_EQ(session_->lines[1], "2 " + std::to_string(m2.size()));
    c.SetMsgNum(2);
    ASSERT_EQ(session_->Run([&] { c.List(); }), 0);
    EXPECT_EQ(c.MsgNum(), 2);
    EXPECT_EQ(c.MsgSize(), static_cast<int>(m2.size()));

    c.SetMsgNum(0);
    ASSERT_EQ(session_->Run([&] { c.Uidl(); }), 0);
    ASSERT_EQ(session_->lines.size(), 3u);
    const std::string third = session_->lines[2];
    EXPECT_EQ(third.substr(0, 2), "3 ");
    c.SetMsgNum(3);
    ASSERT_EQ(session_->Run([&] { c.Uidl(); }), 0);
    EXPECT_EQ(c.MsgNum(), 3);
    EXPECT_EQ("3 " + c.MsgUidl(), third);
    EXPECT_FALSE(c.MsgUidl().empty());

    ASSERT_EQ(session_->Run([&] { c.Noop(); }), 0);
    ASSERT_EQ(session_->Run([&] { c.Quit(); }), 0);
    EXPECT_EQ(c.ProtocolState(), pop3Disconnected);
    ASSERT_TRUE(RunEventsUntil([&] { return session_->sessionClosed == 1; }));
}

TEST_F(Pop3Dovecot, RetrAndTopDeliverTheMessageLineByLine)
{
    const std::string body = "line one\r\n.\r\n..two dots\r\n.leading dot\r\n\r\nlast line\r\n";
    server_->PutMessage(user_, Mail("dots", body));
    TPop3Client& c = session_->client;
    int begins = 0, ends = 0;
    c.OnMessageBegin = [&](QObject*) { ++begins; };
    c.OnMessageEnd = [&](QObject*) { ++ends; };
    ASSERT_EQ(Open(), 0) << c.ErrorMessage();
    c.SetMsgNum(1);
    ASSERT_EQ(session_->Run([&] { c.Retr(); }), 0);
    EXPECT_EQ(session_->done.back().request, pop3Retr);
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
    const std::vector<std::string> expected = {"From: fax@example.com", "To: office@example.com", "Subject: dots", "",
                                               "line one", ".", "..two dots", ".leading dot", "", "last line"};
    EXPECT_EQ(session_->lines, expected);
    EXPECT_EQ(c.LastResponse(), "");

    c.SetMsgLines(1);
    ASSERT_EQ(session_->Run([&] { c.Top(); }), 0);
    EXPECT_EQ(session_->lines, std::vector<std::string>(expected.begin(), expected.begin() + 5));

    c.SetMsgNum(7);
    EXPECT_EQ(session_->Run([&] { c.Retr(); }), 500);
    EXPECT_EQ(c.ErrorMessage().substr(0, 4), "-ERR");
}

TEST_F(Pop3Dovecot, ApopLogsInWithTheGreetingTimestamp)
{
    server_->PutMessage(user_, Mail("apop", "x\r\n"));
    TPop3Client& c = session_->client;
    c.SetHost("localhost");  // a name: resolved asynchronously
    ASSERT_EQ(session_->Run([&] { c.Connect(); }), 0) << c.ErrorMessage();
    EXPECT_EQ(c.ProtocolState(), pop3WaitingUser);
    ASSERT_GE(c.Timestamp().size(), 3u);
    EXPECT_EQ(c.Timestamp().front(), '<');
    EXPECT_EQ(c.Timestamp().back(), '>');
    ASSERT_EQ(session_->Run([&] { c.APop(); }), 0) << c.ErrorMessage();
    EXPECT_EQ(c.ProtocolState(), pop3Transaction);
    ASSERT_EQ(session_->Run([&] { c.Stat(); }), 0);
    EXPECT_EQ(c.MsgCount(), 1);
}

TEST_F(Pop3Dovecot, DeleThenQuitRemovesTheMailAndRsetKeepsIt)
{
    server_->PutMessage(user_, Mail("keep", "k\r\n"));
    server_->PutMessage(user_, Mail("drop", "d\r\n"));
    TPop3Client& c = session_->client;
    ASSERT_EQ(Open(), 0) << c.ErrorMessage();
    c.SetMsgNum(1);
    ASSERT_EQ(session_->Run([&] { c.Dele(); }), 0);
    ASSERT_EQ(session_->Run([&] { c.RSet(); }), 0);
    c.SetMsgNum(2);
    ASSERT_EQ(session_->Run([&] { c.Dele(); }), 0);
    EXPECT_EQ(server_->CountMessages(user_), 2);  // nothing removed before QUIT
    ASSERT_EQ(session_->Run([&] { c.Quit(); }), 0);
    ASSERT_TRUE(RunEventsUntil([&] { return session_->sessionClosed == 1; }));
    EXPECT_EQ(server_->CountMessages(user_), 1);

    // A new session sees the kept mail only.
    ASSERT_EQ(Open(), 0);
    c.SetMsgNum(1);
    ASSERT_EQ(session_->Run([&] { c.Retr(); }), 0);
    EXPECT_EQ(session_->lines.at(2), "Subject: keep");
    ASSERT_EQ(session_->Run([&] { c.Quit(); }), 0);
}

TEST_F(Pop3Dovecot, QuitWhenNotConnectedCompletesFromTheEventLoop)
{
    TPop3Client& c = session_->client;
    c.Quit();
    EXPECT_TRUE(session_->done.empty());
    ASSERT_TRUE(RunEventsUntil([&] { return !session_->done.empty(); }));
    EXPECT_EQ(session_->done[0].request, pop3Quit);
    EXPECT_EQ(session_->done[0].error, 0);
    EXPECT_TRUE(session_->display.empty());  // nothing was sent
}

TEST_F(Pop3Dovecot, AVeryLongLineAmongShortOnesArrivesWhole)
{
    const std::string longLine(600 * 1024, 'L');
    std::string body;
    for (int i = 0; i < 2000; ++i)
        body += "short line " + std::to_string(i) + "\r\n" + (i == 1000 ? longLine + "\r\n" : "");
    server_->PutMessage(user_, Mail("long", body));
    TPop3Client& c = session_->client;
    ASSERT_EQ(Open(), 0) << c.ErrorMessage();
    c.SetMsgNum(1);
    ASSERT_EQ(session_->Run([&] { c.Retr(); }), 0) << c.ErrorMessage();
    const auto& lines = session_->lines;
    ASSERT_EQ(lines.size(), 4u + 2001u);
    EXPECT_EQ(lines[4 + 1001], longLine);
    EXPECT_EQ(lines.back(), "short line 1999");
    ASSERT_EQ(session_->Run([&] { c.Quit(); }), 0);
}

// Last: a failed login makes Dovecot slow down later logins from the same
// address.
TEST_F(Pop3Dovecot, WrongPasswordEndsOpenWith500AndTheServersLine)
{
    TPop3Client& c = session_->client;
    c.SetPassWord("wrong");
    const int error = session_->Run([&] { c.Open(); }, 60000);
    EXPECT_EQ(error, 500);
    EXPECT_EQ(session_->done.back().request, pop3Open);
    EXPECT_EQ(c.ErrorMessage().substr(0, 5), "-ERR ");
    EXPECT_EQ(c.LastResponse(), c.ErrorMessage());
    EXPECT_NE(c.ProtocolState(), pop3Transaction);
}

// Dovecot listening on the IPv6 loopback only: the client reaches it by the
// literal address.
TEST(Pop3DovecotIPv6, OpenAndStatOverIPv6)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    DovecotServer server;
    server.SetListenAddress("::1");
    ASSERT_TRUE(server.Start(&why)) << why;
    server.AddUser("six", "over six");
    server.PutMessage("six", Mail("v6", "reached over IPv6\r\n"));
    Pop3Session s(server.PortText(), "::1");
    s.client.SetUserName("six");
    s.client.SetPassWord("over six");
    ASSERT_EQ(s.Run([&] { s.client.Open(); }), 0) << s.client.ErrorMessage();
    EXPECT_EQ(s.client.Socket()->PeerAddress(), "::1");
    ASSERT_EQ(s.Run([&] { s.client.Stat(); }), 0);
    EXPECT_EQ(s.client.MsgCount(), 1);
    s.client.SetMsgNum(1);
    ASSERT_EQ(s.Run([&] { s.client.Retr(); }), 0);
    EXPECT_EQ(s.lines.back(), "reached over IPv6");
    ASSERT_EQ(s.Run([&] { s.client.Quit(); }), 0);
}

}  // namespace
