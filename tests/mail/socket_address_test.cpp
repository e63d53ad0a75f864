// Addresses beyond the plain IPv4 connect: IPv6 peers, and connects that the
// platform refuses inside connect() itself.
#include "mail/sync_net_socket.h"
#include "tests/support/event_wait.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <QDir>

#include <string>
#include <vector>

namespace {

int OpenDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

TEST(SocketAddress, IPv6LiteralsResolveAtOnceAndCarryAConnection)
{
    TNetSocket s;
    std::vector<std::uint16_t> looked;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { looked.push_back(e); };
    s.DnsLookup(" ::1 ");
    EXPECT_EQ(looked, std::vector<std::uint16_t>{0});
    EXPECT_EQ(s.DnsResult(), "::1");

    ScriptedServer server(
        [&server](ScriptedPeer& p) {
            p.Send("hello over IPv6\r\n");
            server.Record(p.ReadLine());
            p.Close();
        },
        1, "::1");
    std::string got;
    bool connected = false, closed = false;
    s.OnSessionConnected = [&](QObject*, std::uint16_t e) { connected = e == 0; };
    s.OnSessionClosed = [&](QObject*, std::uint16_t) { closed = true; };
    s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        char buffer[256];
        const int n = s.Receive(buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, static_cast<std::size_t>(n));
    };
    s.SetAddr(s.DnsResult());
    s.SetPort(server.PortText());
    s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return connected; }));
    EXPECT_EQ(s.PeerAddress(), "::1");
    EXPECT_NE(s.LocalPort(), "error");
    s.SendStr("reply\r\n");
    ASSERT_TRUE(RunEventsUntil([&] { return closed; }));
    EXPECT_EQ(got, "hello over IPv6\r\n");
    server.Join();
    EXPECT_EQ(server.Received(), "reply\r\n");
}

// Broadcast and multicast addresses (and a missing route) make connect()
// fail at once. That must look like any failed connect: OnSessionConnected
// with the error from the event loop, then the close, with the descriptor
// released and the socket ready for the next Connect.
TEST(SocketAddress, ConnectRefusedAtOnceIsReportedLikeALaterFailure)
{
    ScriptedServer server([](ScriptedPeer& p) { p.Send("up\r\n"); }, 1);
    TNetSocket s;
    std::vector<std::string> events;
    s.OnSessionConnected = [&](QObject*, std::uint16_t e) { events.push_back("connected " + std::to_string(e)); };
    s.OnSessionClosed = [&](QObject*, std::uint16_t e) { events.push_back("closed " + std::to_string(e)); };
    const int descriptors = OpenDescriptors();
    for (const char* address : {"255.255.255.255", "224.0.0.1", "ff02::1"}) {
        SCOPED_TRACE(address);
        events.clear();
        s.SetAddr(address);
        s.SetPort("110");
        s.Connect();
        EXPECT_TRUE(events.empty());  // nothing is reported inside Connect
        ASSERT_TRUE(RunEventsUntil([&] { return events.size() == 2; }));
        EXPECT_EQ(events[0], "connected " + std::to_string(s.LastError()));
        EXPECT_NE(s.LastError(), 0);
        EXPECT_EQ(events[1], "closed 0");
        EXPECT_EQ(s.State(), wsClosed);
        EXPECT_EQ(OpenDescriptors(), descriptors);
    }
    events.clear();
    s.SetAddr("127.0.0.1");
    s.SetPort(server.PortText());
    s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events[0], "connected 0");
    s.Close();
}

}  // namespace
