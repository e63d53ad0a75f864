// TCP behaviour of the socket against an independent loopback peer.
#include "mail/sync_net_socket.h"
#include "tests/support/event_wait.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what a socket reports, in order.
struct EventLog {
    std::vector<std::string> events;
    std::string data;

    void Attach(TNetSocket& s)
    {
        s.OnSessionConnected = [this](QObject*, std::uint16_t e) { events.push_back("connected " + std::to_string(e)); };
        s.OnSessionClosed = [this](QObject*, std::uint16_t e) { events.push_back("closed " + std::to_string(e)); };
        s.OnDataAvailable = [this, &s](QObject*, std::uint16_t) {
            char buffer[8192];
            const int n = s.Receive(buffer, sizeof buffer);
            if (n > 0) {
                data.append(buffer, static_cast<size_t>(n));
                events.push_back("data");
            }
        };
    }
    int Count(const std::string& e) const { return static_cast<int>(std::count(events.begin(), events.end(), e)); }
};

void Target(TNetSocket& s, const std::string& port)
{
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
}

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

TEST(SocketStream, RefusedConnectReports10061AndCloses)
{
    TNetSocket s;
    EventLog log;
    log.Attach(s);
    std::vector<TSocketState> states;
    s.OnChangeState = [&](QObject*, TSocketState, TSocketState now) { states.push_back(now); };
    Target(s, std::to_string(FreeLoopbackPort()));
    s.Connect();
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(RunEventsUntil([&] { return s.State() == wsClosed; }));
    ASSERT_EQ(log.events, (std::vector<std::string>{"connected 10061", "closed 0"}));
    EXPECT_EQ(states, (std::vector<TSocketState>{wsOpened, wsConnecting, wsConnected, wsClosed}));
    EXPECT_EQ(SocketErrorText(10061), "Connection refused");
}

TEST(SocketStream, DataThatArrivesWithTheCloseComesFirstAndCloseOnce)
{
    ScriptedServer server([](ScriptedPeer& p) {
        p.Send("hello, ");
        p.Send("world");
        p.Close();
    });
    TNetSocket s;
    EventLog log;
    log.Attach(s);
    Target(s, server.PortText());
    s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return log.Count("closed 0") > 0; }));
    RunEventsFor(100);
    EXPECT_EQ(log.data, "hello, world");
    EXPECT_EQ(log.Count("closed 0"), 1);
    EXPECT_EQ(log.events.back(), "closed 0");
    EXPECT_EQ(s.State(), wsClosed);
    // Closing again does not report a second end of session.
    s.Close();
    EXPECT_EQ(log.Count("closed 0"), 1);
}

TEST(SocketStream, ResetByPeerEndsTheSessionWithItsError)
{
    ScriptedServer server([](ScriptedPeer& p) {
        p.ReadLine();
        p.Reset();
    });
    TNetSocket s;
    EventLog log;
    log.Attach(s);
    Target(s, server.PortText());
    s.OnSessionConnected = [&](QObject*, std::uint16_t) { s.SendStr("go\r\n"); };
    s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return s.State() == wsClosed; }));
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0], "closed 10054");
}

TEST(SocketStream, SendBeforeConnectReportsNotConnected)
{
    TNetSocket s;
    try {
        s.SendStr("x");
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
    }
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.LastError(), 10057);

    int errors = 0;
    s.OnError = [&](QObject*) { ++errors; };
    EXPECT_EQ(s.SendStr("x"), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 10057);
}

TEST(SocketStream, AddrPortProtoChangeOnlyWhileClosed)
{
    ScriptedServer server([](ScriptedPeer& p) { p.WaitForClose(); });
    TNetSocket s;
    Target(s, server.PortText());
    s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return s.State() == wsConnected; }));
    s.SetPort(server.PortText());  // same value: accepted silently
    s.SetAddr("127.0.0.1");
    s.SetProto("tcp");
    EXPECT_THROW(
        {
            try {
                s.SetPort("1");
            } catch (const ESocketException& e) {
                EXPECT_STREQ(e.what(), "Cannot change Port if not closed");
                throw;
            }
        },
        ESocketException);
    EXPECT_THROW(s.SetAddr("127.0.0.2"), ESocketException);
    EXPECT_THROW(s.SetProto("udp"), ESocketException);
    EXPECT_EQ(s.Port(), server.PortText());
    EXPECT_THROW(s.Connect(), ESocketException);  // "Connect: Socket already in use"
    s.Close();
    // A close forgets address and port: they must be given again.
    try {
        s.Connect();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Connect: No Port Specified");
    }
    s.SetPort(server.PortText());
    try {
        s.Connect();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Connect: No IP Address Specified");
    }
    s.SetAddr("127.0.0.1");
    s.SetPort("no-such-service-name");
    try {
        s.Connect();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "connect: NetSocketResolvePort: Cannot convert port 'no-such-service-name'");
    }
}

TEST(SocketStream, DataSentComesFromTheEventLoopAfterSend)
{
    ScriptedServer server([](ScriptedPeer& p) {
        p.ReadBytes(5);
        p.WaitForClose();
    });
    TNetSocket s;
    int sent = 0;
    bool inSend = false;
    bool firedInsideSend = false;
    s.OnDataSent = [&](QObject*, std::uint16_t e) {
        EXPECT_EQ(e, 0);
        firedInsideSend |= inSend;
        ++sent;
    };
    Target(s, server.PortText());
    s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return s.State() == wsConnected; }));
    inSend = true;
    EXPECT_EQ(s.SendStr("hello"), 5);
    inSend = false;
    EXPECT_EQ(sent, 0);
    ASSERT_TRUE(RunEventsUntil([&] { return sent > 0; }));
    EXPECT_FALSE(firedInsideSend);
    s.Close();
}

// Several MB each way: the send chain and the receive loop lose nothing.
TEST(SocketStream, LargeBurstArrivesIntactRawAndInLineMode)
{
    const std::string payload = Pattern(3 * 1024 * 1024 + 17);
    std::string lines;
    for (int i = 0; lines.size() < 3 * 1024 * 1024; ++i)
        lines += "line " + std::to_string(i) + " " + Pattern(static_cast<size_t>(i % 300)) + "\r\n";

    ScriptedServer server(
        [&](ScriptedPeer& p) {
            const std::string got = p.ReadBytes(payload.size(), 60000);
            p.Send(got == payload ? "OK\r\n" : "BAD\r\n");
            p.Send(lines);
            p.Close();
        });
    TNetSocket s;
    std::string raw;
    std::vector<std::string> received;
    bool closed = false;
    s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        char buffer[70000];
        const int n = s.Receive(buffer, sizeof buffer);
        if (n <= 0)
            return;
        if (s.LineMode()) {
            received.emplace_back(buffer, static_cast<size_t>(n));
        } else {
            raw.append(buffer, static_cast<size_t>(n));
            if (raw.find("\r\n") != std::string::npos)
                s.SetLineMode(true);  // the rest is held and re-offered as lines
        }
    };
    s.OnSessionClosed = [&](QObject*, std::uint16_t) { closed = true; };
    Target(s, server.PortText());
    s.OnSessionConnected = [&](QObject*, std::uint16_t) { s.Send(payload.data(), static_cast<int>(payload.size())); };
    s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return closed; }, 120000));
    ASSERT_GE(raw.size(), 4u);
    EXPECT_EQ(raw.substr(0, 4), "OK\r\n");
    std::string joined = raw.substr(4);
    bool allEndInCrLf = true;
    for (const std::string& line : received) {
        joined += line;
        allEndInCrLf &= line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
    }
    EXPECT_TRUE(allEndInCrLf);
    EXPECT_EQ(joined.size(), lines.size());
    EXPECT_TRUE(joined == lines);
}

TEST(SocketStream, ListenAcceptAndDupServeAConnection)
{
    TNetSocket listener;
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    TNetSocket served;
    std::string got;
    served.OnDataAvailable = [&](QObject*, std::uint16_t) { got += served.ReceiveStr(); };
    listener.OnSessionAvailable = [&](QObject*, std::uint16_t) { served.Dup(listener.Accept()); };
    listener.Listen();
    ASSERT_EQ(listener.State(), wsListening);
    const std::string port = listener.LocalPort();

    TNetSocket client;
    Target(client, port);
    client.OnSessionConnected = [&](QObject*, std::uint16_t) { client.SendStr("ping"); };
    client.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return got == "ping"; }));
    EXPECT_EQ(served.State(), wsConnected);
    EXPECT_EQ(served.PeerAddress(), "127.0.0.1");
    EXPECT_EQ(client.PeerAddress(), "127.0.0.1");
    EXPECT_EQ(client.Port(), port);
}

}  // namespace
