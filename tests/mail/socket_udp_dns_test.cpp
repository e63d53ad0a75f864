// Datagram sockets and name lookup. No test needs an outside name server:
// the unresolvable name is in the reserved ".invalid" domain and the
// resolver is told to give up quickly.
#include "mail/net_socket_resolve.h"
#include "mail/sync_net_socket.h"
#include "tests/support/event_wait.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

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

TEST(SocketErrors, PlatformFailuresCarryTheWinSockNumbers)
{
    EXPECT_EQ(WinSockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinSockErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WinSockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinSockErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(WinSockErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(WinSockErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(WinSockErrorFromResolver(EAI_NONAME), 11001);
    EXPECT_EQ(WinSockErrorFromResolver(EAI_AGAIN), 11002);
    EXPECT_EQ(SocketErrorText(10047), "Address family not supported by protocol family");
    EXPECT_EQ(SocketErrorText(12345), "Not a WinSock error");
    EXPECT_EQ(SocketErrorText(WinSockErrorFromErrno(ENOTSUP + 1000)), "Not a WinSock error");
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
