// The SOCKS 5 negotiation against a scripted proxy, for what a real proxy
// never sends: replies cut into pieces, bytes behind the CONNECT reply,
// refusals of every kind, broken versions and a close mid-negotiation.
#include "mail/sync_net_socket.h"
#include "tests/support/event_wait.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

const std::string kHost = "mail.example.test";
const std::string kUser = "fax";
const std::string kPassword = "s3cret";

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

// What the socket should send for kHost, port 110.
const std::string kConnectRequest = Bytes({5, 1, 0, 3, 17}) + kHost + Bytes({0, 110});
const std::string kAuthRequest = Bytes({1, 3}) + kUser + Bytes({6}) + kPassword;
const std::string kConnectOk = Bytes({5, 0, 0, 1, 10, 1, 2, 3, 0x1F, 0x90});

// Records what a socket reports, in order.
struct SocksLog {
    std::vector<std::string> events;
    std::string data;

    void Attach(TNetSocket& s)
    {
        s.OnSocksConnected = [this](QObject*, std::uint16_t e) { events.push_back("socks " + std::to_string(e)); };
        s.OnSocksAuthState = [this](QObject*, TSocksAuthState a) { events.push_back("auth " + std::to_string(a)); };
        s.OnSocksError = [this](QObject*, int e, const std::string& m) {
            events.push_back("error " + std::to_string(e) + " " + m);
        };
        s.OnSessionConnected = [this](QObject*, std::uint16_t e) { events.push_back("connected " + std::to_string(e)); };
        s.OnSessionClosed = [this](QObject*, std::uint16_t e) { events.push_back("closed " + std::to_string(e)); };
        s.OnDataAvailable = [this, &s](QObject*, std::uint16_t) {
            char buffer[4096];
            const int n = s.Receive(buffer, sizeof buffer);
            if (n > 0)
                data.append(buffer, static_cast<size_t>(n));
        };
    }
};

// One exchange of the scripted proxy: read this many request bytes, then
// send the pieces one by one with a pause between them (no pieces: close).
struct Step {
    std::size_t read;
    std::vector<std::string> pieces;
};

void Proxy(TNetSocket& s, const ScriptedServer& server, bool usercode)
{
    s.SetAddr(kHost);
    s.SetPort("110");
    s.SetSocksServer(" 127.0.0.1 ");
    s.SetSocksPort(server.PortText());
    s.SetSocksUsercode(kUser);
    s.SetSocksPassword(kPassword);
    s.SetSocksAuthentication(usercode ? socksAuthenticateUsercode : socksNoAuthentication);
}

ScriptedServer::Script ProxyScript(std::vector<Step> steps, std::string& requests)
{
    return [steps, &requests](ScriptedPeer& p) {
        for (const Step& step : steps) {
            requests += p.ReadBytes(step.read);
            if (step.pieces.empty()) {
                p.Close();
                return;
            }
            for (const std::string& piece : step.pieces) {
                p.Send(piece);
                p.Pause(30);
            }
        }
        p.WaitForClose();
    };
}

TEST(SocksScripted, SplitRepliesAreAssembledAndBytesBehindTheReplyReachLineMode)
{
    std::string requests;
    ScriptedServer server([&requests](ScriptedPeer& p) {
        requests += p.ReadBytes(3);
        p.Send(Bytes({5}));
        p.Pause(50);
        p.Send(Bytes({2}));
        requests += p.ReadBytes(kAuthRequest.size());
        p.Send(Bytes({1}));
        p.Pause(50);
        p.Send(Bytes({0}));
        requests += p.ReadBytes(kConnectRequest.size());
        // A domain-name bound address, cut inside the name, and the
        // server's greeting in the same segment as the reply's end.
        p.Send(Bytes({5, 0, 0, 3, 9}) + "proxy.");
        p.Pause(50);
        p.Send("lan" + Bytes({0x04, 0x38}) + "+OK first\r\n+OK sec");
        p.Pause(50);
        p.Send("ond\r\n");
        requests += p.ReadLine();
        p.Close();
    });
    TNetSocket s;
    SocksLog log;
    log.Attach(s);
    s.SetLineMode(true);
    std::vector<std::string> lines;
    s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        char buffer[256];
        const int n = s.Receive(buffer, sizeof buffer);
        if (n > 0)
            lines.emplace_back(buffer, static_cast<size_t>(n));
        if (lines.size() == 2 && s.State() == wsConnected)
            s.SendStr("QUIT\r\n");
    };
    Proxy(s, server, true);
    s.Connect();
    EXPECT_EQ(s.SocksPhase(), 1);
    ASSERT_TRUE(RunEventsUntil([&] { return s.State() == wsClosed; }));
    server.Join();

    EXPECT_EQ(requests, Bytes({5, 1, 2}) + kAuthRequest + kConnectRequest + "QUIT\r\n");
    EXPECT_EQ(log.events, (std::vector<std::string>{"socks 0", "auth 0", "auth 1", "connected 0", "closed 0"}));
    EXPECT_EQ(lines, (std::vector<std::string>{"+OK first\r\n", "+OK second\r\n"}));
    EXPECT_EQ(s.BoundAddr(), "proxy.lan");
    EXPECT_EQ(s.BoundPort(), "1080");
    // The proxy is forgotten with the close; the credentials are kept.
    EXPECT_EQ(s.SocksServer(), "");
    EXPECT_EQ(s.SocksPort(), "");
    EXPECT_EQ(s.SocksUsercode(), kUser);
}

TEST(SocksScripted, EveryNegotiationOutcome)
{
    struct Case {
        const char* name;
        bool usercode;
        std::vector<Step> steps;
        std::vector<std::string> events;
        std::string bound = {};
    };
    const std::string ok = "connected 0";
    const std::string noAuth = Bytes({5, 0});
    std::vector<Case> cases = {
        {"no auth chosen after user code offered", true, {{3, {noAuth}}, {kConnectRequest.size(), {kConnectOk}}},
         {"socks 0", "auth 3", ok}, "10.1.2.3"},
        {"IPv6 bound address", false,
         {{3, {noAuth}},
          {kConnectRequest.size(), {Bytes({5, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 80})}}},
         {"socks 0", ok}, "::1"},
        {"too much in the method reply", false, {{3, {Bytes({5, 0, 0})}}},
         {"socks 0", "error 20001 too much data availaible", "connected 20001", "closed 20001"}},
        {"method reply version", false, {{3, {Bytes({4, 0})}}},
         {"socks 0", "error 20002 socks version error", "connected 20002", "closed 20002"}},
        {"no acceptable method", true, {{3, {Bytes({5, 0xFF})}}},
         {"socks 0", "error 20003 authentification method not acceptable", "connected 20003", "closed 20003"}},
        {"user code chosen but not offered", false, {{3, {Bytes({5, 2})}}},
         {"socks 0", "error 20003 authentification method not acceptable", "connected 20003", "closed 20003"}},
        {"authentication reply version", true, {{3, {Bytes({5, 2})}}, {kAuthRequest.size(), {Bytes({5, 0})}}},
         {"socks 0", "auth 0", "auth 2", "error 20002 socks version error", "connected 20002", "closed 20002"}},
        {"login refused", true, {{3, {Bytes({5, 2})}}, {kAuthRequest.size(), {Bytes({1, 1})}}},
         {"socks 0", "auth 0", "auth 2", "error 20015 socks authentication failed", "connected 20015",
          "closed 20015"}},
        {"close during authentication", true, {{3, {Bytes({5, 2})}}, {kAuthRequest.size(), {}}},
         {"socks 0", "auth 0", "auth 2", "error 20015 socks authentication failed", "connected 20015",
          "closed 20015"}},
        {"close before the CONNECT reply", false, {{3, {noAuth}}, {kConnectRequest.size(), {}}},
         {"socks 0", "error 10053 socks server closed the connection", "connected 10053", "closed 10053"}},
        {"CONNECT reply version", false, {{3, {noAuth}}, {kConnectRequest.size(), {Bytes({4, 0, 0, 1})}}},
         {"socks 0", "error 20002 socks version error", "connected 20002", "closed 20002"}},
        {"unknown bound address type", false,
         {{3, {noAuth}}, {kConnectRequest.size(), {Bytes({5, 0, 0, 7, 1, 2})}}},
         {"socks 0", "error 20011 address type not supported", "connected 20011", "closed 20011"}},
    };
    const char* replyTexts[] = {"general SOCKS server failure", "connection not allowed by ruleset",
                                "network unreachable",          "host unreachable",
                                "connection refused",           "time to live expired",
                                "command not supported",        "address type not supported",
                                "unassigned error #9"};
    for (int code = 1; code <= 9; ++code) {
        const std::string error = std::to_string(code == 9 ? 20012 : 20003 + code);
        cases.push_back({"reply code", false,
                         {{3, {noAuth}}, {kConnectRequest.size(), {Bytes({5, code, 0, 1, 0, 0, 0, 0, 0, 0})}}},
                         {"socks 0", "error " + error + " " + replyTexts[code - 1], "connected " + error,
                          "closed " + error}});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + (c.events.size() > 2 ? " / " + c.events[c.events.size() - 2] : std::string()));
        std::string requests;
        ScriptedServer server(ProxyScript(c.steps, requests));
        TNetSocket s;
        SocksLog log;
        log.Attach(s);
        Proxy(s, server, c.usercode);
        s.Connect();
        ASSERT_TRUE(RunEventsUntil([&] { return log.events.size() >= c.events.size(); }));
        RunEventsFor(50);
        EXPECT_EQ(log.events, c.events);
        if (!c.bound.empty()) {
            EXPECT_EQ(s.State(), wsConnected);
            EXPECT_EQ(s.BoundAddr(), c.bound);
            s.Close();
        }
        EXPECT_EQ(s.State(), wsClosed);
        EXPECT_EQ(s.SocksServer(), "");
    }
}

// What cannot be sent is refused at Connect, before the proxy hears anything.
TEST(SocksScripted, RequestsThatCannotBeMadeAreRefusedBeforeConnecting)
{
    struct Case {
        std::string addr, usercode, proto;
        bool usercodeAuth;
        std::string message;
    };
    const Case cases[] = {
        {std::string(121, 'h'), kUser, "tcp", true, ""},
        {std::string(122, 'h'), kUser, "tcp", false, "connect: host name too long for the socks server (at most 121 bytes)"},
        {kHost, std::string(125 - kPassword.size(), 'u'), "tcp", true, ""},
        {kHost, std::string(126 - kPassword.size(), 'u'), "tcp", true,
         "connect: socks user code and password too long (at most 125 bytes together)"},
        {kHost, kUser, "udp", false, "tcp is the only protocol supported thru socks server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::string requests;
        ScriptedServer server([&requests](ScriptedPeer& p) { requests = p.ReadBytes(3, 3000); });
        TNetSocket s;
        s.SetAddr(c.addr);
        s.SetPort("110");
        s.SetProto(c.proto);
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(server.PortText());
        s.SetSocksUsercode(c.usercode);
        s.SetSocksPassword(kPassword);
        s.SetSocksAuthentication(c.usercodeAuth ? socksAuthenticateUsercode : socksNoAuthentication);
        if (c.message.empty()) {
            bool reached = false;
            s.OnSocksConnected = [&reached](QObject*, std::uint16_t) { reached = true; };
            s.Connect();
            ASSERT_TRUE(RunEventsUntil([&] { return reached; }));
            s.Close();
            server.Join();
            EXPECT_EQ(requests.size(), 3u);
            continue;
        }
        try {
            s.Connect();
            ADD_FAILURE() << "no refusal";
        } catch (const ESocketException& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(s.State(), wsClosed);
        LoopbackAccepts("127.0.0.1", server.Port());  // ends the waiting script
        server.Join();
        EXPECT_EQ(requests, "");
    }

    TNetSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort("110");
    s.SetSocksServer("127.0.0.1");
    EXPECT_THROW(s.Listen(), ESocketException);
}

}  // namespace
