// The SOCKS 5 negotiation against a real proxy, Dante, on loopback: without
// authentication, with the test user's name and password, with a wrong
// password, and to a target that refuses.
#include "mail/sync_net_socket.h"
#include "tests/support/dante_server.h"
#include "tests/support/event_wait.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(SocksDante, ConnectsThroughTheProxyOrReportsWhyNot)
{
    std::string why;
    if (!DanteServer::Available(&why))
        GTEST_SKIP() << why;
    DanteServer dante;
    ASSERT_TRUE(dante.Start(&why)) << why;

    struct Case {
        const char* name;
        TSocksAuthentication auth;
        std::string password;
        bool targetListens;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"no authentication", socksNoAuthentication, "", true, {"connected 0", "closed 0"}},
        {"user and password", socksAuthenticateUsercode, dante.Password(), true,
         {"auth 0", "auth 1", "connected 0", "closed 0"}},
        {"wrong password", socksAuthenticateUsercode, "wrong", false,
         {"auth 0", "auth 2", "error 20015", "connected 20015", "closed 20015"}},
        {"target refuses", socksNoAuthentication, "", false, {"error 20008", "connected 20008", "closed 20008"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ScriptedServer> target;
        std::uint16_t targetPort = FreeLoopbackPort();
        if (c.targetListens) {
            target = std::make_unique<ScriptedServer>([](ScriptedPeer& p) {
                p.Send("+OK ready\r\n");
                p.Send("echo " + p.ReadLine());
                p.WaitForClose();
            });
            targetPort = target->Port();
        }
        TNetSocket s;
        std::vector<std::string> events;
        std::string data;
        s.OnSocksAuthState = [&](QObject*, TSocksAuthState a) { events.push_back("auth " + std::to_string(a)); };
        s.OnSocksError = [&](QObject*, int e, const std::string&) { events.push_back("error " + std::to_string(e)); };
        s.OnSessionConnected = [&](QObject*, std::uint16_t e) {
            events.push_back("connected " + std::to_string(e));
            if (e == 0)
                s.SendStr("ping\r\n");
        };
        s.OnSessionClosed = [&](QObject*, std::uint16_t e) { events.push_back("closed " + std::to_string(e)); };
        s.OnDataAvailable = [&](QObject*, std::uint16_t) {
            data += s.ReceiveStr();
            if (data == "+OK ready\r\necho ping\r\n")
                s.Close();
        };
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(targetPort));
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(dante.PortText());
        s.SetSocksUsercode(DanteServer::User());
        s.SetSocksPassword(c.password);
        s.SetSocksAuthentication(c.auth);
        s.Connect();
        ASSERT_TRUE(RunEventsUntil([&] { return !events.empty() && events.back().rfind("closed", 0) == 0; }))
            << dante.Log();
        EXPECT_EQ(events, c.events) << dante.Log();
        if (c.targetListens) {
            EXPECT_EQ(data, "+OK ready\r\necho ping\r\n");
            EXPECT_EQ(s.BoundAddr(), "127.0.0.1");
        }
    }
}

}  // namespace
