// Datagram sockets and name lookup. No test needs an outside name server:
// the unresolvable name is in the reserved ".invalid" domain and the
// resolver is told to give up quickly.
#include "mail/net_socket_resolve.h"
#include "mail/sync_net_socket.h"
#include "tests/support/event_wait.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace {

TEST(SocketUdp, ConnectIsImmediateAndDatagramsFlowBothWays)
{
    // Independent peer: a plain POSIX datagram socket.
    const int peer = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(peer, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(peer, reinterpret_cast<sockaddr*>(&a), &len);

    TNetSocket s;
    std::vector<std::uint16_t> connected;
    s.OnSessionConnected = [&](QObject*, std::uint16_t e) { connected.push_back(e); };
    std::string got;
    s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        char buffer[100];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const int n = s.ReceiveFrom(buffer, sizeof buffer, from, fromLength);
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(ntohs(a.sin_port)));
    s.SetProto("udp");
    s.Connect();
    EXPECT_EQ(s.State(), wsConnected);
    EXPECT_EQ(connected, std::vector<std::uint16_t>{0});
    EXPECT_NE(s.LocalPortNumber(), 0);

    s.SendStr("datagram");
    pollfd p{peer, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    char buffer[100];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(peer, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0))), "datagram");
    EXPECT_EQ(ntohs(from.sin_port), s.LocalPortNumber());

    ::sendto(peer, "reply", 5, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    ASSERT_TRUE(RunEventsUntil([&] { return got == "reply"; }));
    s.Close();
    ::close(peer);
}

TEST(SocketUdp, BroadcastAddressSwitchesTheBroadcastOptionOn)
{
    for (const char* proto : {"udp", "17"}) {
        TNetSocket s;
        s.SetAddr("255.255.255.255");
        s.SetPort("9");
        s.SetProto(proto);
        s.Connect();
        ASSERT_EQ(s.State(), wsConnected);
        int on = 0;
        socklen_t len = sizeof on;
        ASSERT_EQ(getsockopt(s.Handle(), SOL_SOCKET, SO_BROADCAST, &on, &len), 0);
        EXPECT_EQ(on, 1) << proto;
        s.Close();
    }
    TNetSocket unicast;
    unicast.SetAddr("127.0.0.1");
    unicast.SetPort("9");
    unicast.SetProto("udp");
    unicast.Connect();
    int on = 1;
    socklen_t len = sizeof on;
    getsockopt(unicast.Handle(), SOL_SOCKET, SO_BROADCAST, &on, &len);
    EXPECT_EQ(on, 0);
}

class SocketDns : public ::testing::Test {
protected:
    void SetUp() override { setenv("RES_OPTIONS", "timeout:1 attempts:1", 1); }
};

TEST_F(SocketDns, DottedAddressIsDoneBeforeDnsLookupReturns)
{
    TNetSocket s;
    std::vector<std::uint16_t> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("127.0.0.1");
    EXPECT_EQ(done, std::vector<std::uint16_t>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_TRUE(s.DnsResultList().empty());

    // The all-ones address goes through the asynchronous lookup.
    done.clear();
    s.DnsLookup("255.255.255.255");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(RunEventsUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<std::uint16_t>{0});
    EXPECT_EQ(s.DnsResult(), "255.255.255.255");
}

TEST_F(SocketDns, NamesFromTheHostsFileResolveAsynchronously)
{
    TNetSocket s;
    std::vector<std::uint16_t> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("localhost");
    ASSERT_TRUE(RunEventsUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<std::uint16_t>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(s.DnsResultList().empty());
    EXPECT_EQ(s.DnsResultList().front(), s.DnsResult());
}

TEST_F(SocketDns, ReverseLookupGivesTheHostName)
{
    TNetSocket s;
    std::vector<std::uint16_t> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(RunEventsUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<std::uint16_t>{0});
    ASSERT_EQ(s.DnsResultList().size(), 1u);
    EXPECT_EQ(s.DnsResult(), s.DnsResultList()[0]);
    EXPECT_FALSE(s.DnsResult().empty());
}

TEST_F(SocketDns, UnresolvableNameReportsHostNotFound)
{
    TNetSocket s;
    std::vector<std::uint16_t> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("no-such-host.invalid");
    ASSERT_TRUE(RunEventsUntil([&] { return !done.empty(); }));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0] == 11001 || done[0] == 11002) << done[0];
    EXPECT_EQ(SocketErrorText(11001), "Host not found");
}

TEST_F(SocketDns, CancelledLookupReports10004Once)
{
    TNetSocket s;
    std::vector<std::uint16_t> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(done, std::vector<std::uint16_t>{10004});
    RunEventsFor(300);
    EXPECT_EQ(done, std::vector<std::uint16_t>{10004});
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST_F(SocketDns, EmptyNameIsRefused)
{
    TNetSocket s;
    try {
        s.DnsLookup("");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "DNS lookup: invalid host name.");
    }
    int errors = 0;
    std::vector<std::uint16_t> done;
    s.OnError = [&](QObject*) { ++errors; };
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(done, std::vector<std::uint16_t>{10022});
}

// Real platform failures, provoked on this machine, reach the client as the
// Windows Sockets number and text of their kind.
TEST(SocketErrors, PlatformFailuresReachTheClientAsWinSockNumbersAndTexts)
{
    struct Case {
        const char* what;
        std::function<std::string(TNetSocket&)> provoke;  // returns the report's text
        int number;
        const char* text;
    };
    // A port in use by an independent listener.
    const int busy = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(busy, 1), 0);
    socklen_t len = sizeof a;
    getsockname(busy, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string busyPort = std::to_string(ntohs(a.sin_port));
    auto listenError = [](TNetSocket& s, const std::string& addr, const std::string& port) {
        s.SetAddr(addr);
        s.SetPort(port);
        try {
            s.Listen();
        } catch (const ESocketException& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    auto connectError = [](TNetSocket& s, const std::string& addr, const std::string& port) {
        std::uint16_t error = 0;
        bool done = false;
        s.OnSessionConnected = [&](QObject*, std::uint16_t e) {
            error = e;
            done = true;
        };
        s.SetAddr(addr);
        s.SetPort(port);
        s.Connect();
        if (!RunEventsUntil([&] { return done; }))
            return std::string("no report");
        return std::to_string(error) + " " + SocketErrorText(error);
    };
    const Case cases[] = {
        {"listen on a port in use", [&](TNetSocket& s) { return listenError(s, "127.0.0.1", busyPort); }, 10048,
         "Error 10048 in function Bind\r\nAddress already in use"},
        {"listen on an address of another machine",
         [&](TNetSocket& s) { return listenError(s, "192.0.2.99", "0"); }, 10049,
         "Error 10049 in function Bind\r\nAddress not available"},
        {"connect where nobody listens",
         [&](TNetSocket& s) { return connectError(s, "127.0.0.1", std::to_string(FreeLoopbackPort())); }, 10061,
         "10061 Connection refused"},
        {"connect to the broadcast address", [&](TNetSocket& s) { return connectError(s, "255.255.255.255", "110"); },
         10051, "10051 Network is unreachable"},
    };
    for (const Case& c : cases) {
        TNetSocket s;
        EXPECT_EQ(c.provoke(s), c.text) << c.what;
        EXPECT_EQ(s.LastError(), c.number) << c.what;
        EXPECT_EQ(s.State(), wsClosed) << c.what;
    }
    ::close(busy);
    EXPECT_EQ(SocketErrorText(12345), "Not a WinSock error");
}

TEST(SocketErrors, ResolutionRoutinesRaise)
{
    EXPECT_EQ(NetSocketResolvePort("pop3", "tcp"), 110);
    EXPECT_EQ(NetSocketResolvePort("8080x", "tcp"), 8080);
    EXPECT_EQ(NetSocketResolveProto("udp"), 17);
    EXPECT_EQ(NetSocketResolveHost("127.0.0.1"), htonl(INADDR_LOOPBACK));
    EXPECT_THROW(NetSocketResolvePort("", "tcp"), ESocketException);
    EXPECT_THROW(NetSocketResolvePort(std::string(32, 'x'), "tcp"), ESocketException);
    EXPECT_THROW(NetSocketResolveProto("nonsense-proto"), ESocketException);
    try {
        NetSocketResolveHost("");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "NetSocketResolveHost: Invalid Hostname.");
    }
}

}  // namespace
