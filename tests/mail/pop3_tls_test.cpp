// The POP3 client over TLS: real Dovecot servers with ssl = required and
// certificates from a test CA, and scripted peers for handshakes that break.
#include "mail/tls_net_socket.h"
#include "tests/mail/pop3_session.h"
#include "tests/support/dante_server.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_certificates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

bool Shows(const Pop3Session& s, const std::string& prefix)
{
    return std::any_of(s.display.begin(), s.display.end(),
                       [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

class Pop3Tls : public ::testing::Test {
protected:
    // One server per certificate ("good", "wrongname", "expired") and one
    // without TLS at all.
    static void SetUpTestSuite()
    {
        std::string why;
        if (!DovecotServer::Available(&why)) {
            skipReason_ = why;
            return;
        }
        certificates_ = std::make_unique<TestCertificates>();
        const std::map<std::string, std::pair<std::string, bool>> kinds = {
            {"good", {"DNS:localhost,IP:127.0.0.1", false}},
            {"wrongname", {"DNS:mail.example.org", false}},
            {"expired", {"DNS:localhost,IP:127.0.0.1", true}}};
        for (const auto& [name, certificate] : kinds) {
            const std::string base = certificates_->Issue(name, certificate.first, certificate.second);
            auto server = std::make_unique<DovecotServer>();
            server->SetTlsCertificate(base + ".crt", base + ".key");
            servers_[name] = std::move(server);
        }
        servers_["plain"] = std::make_unique<DovecotServer>();
        if (!certificates_->Ok()) {
            skipReason_ = certificates_->Error();
            servers_.clear();
            return;
        }
        for (auto& [name, server] : servers_) {
            if (!server->Start(&why)) {
                skipReason_ = name + ": " + why;
                servers_.clear();
                return;
            }
        }
    }
    static void TearDownTestSuite()
    {
        servers_.clear();
        certificates_.reset();
    }

    void SetUp() override
    {
        if (servers_.empty())
            GTEST_SKIP() << skipReason_;
        trust_ = std::make_unique<TrustOnly>(certificates_->CaFile());
        user_ = "tlsuser" + std::to_string(++users_);
        for (auto& [name, server] : servers_)
            server->AddUser(user_, "pw-" + user_);
    }

    std::unique_ptr<Pop3Session> Session(const std::string& host, const std::string& port, TPop3Security security)
    {
        auto s = std::make_unique<Pop3Session>(port, host);
        s->client.SetSecurity(security);
        s->client.SetUserName(user_);
        s->client.SetPassWord("pw-" + user_);
        return s;
    }

    static DovecotServer& Server(const std::string& name) { return *servers_.at(name); }

    static std::unique_ptr<TestCertificates> certificates_;
    static std::map<std::string, std::unique_ptr<DovecotServer>> servers_;
    static std::string skipReason_;
    static int users_;
    std::unique_ptr<TrustOnly> trust_;
    std::string user_;
};

std::unique_ptr<TestCertificates> Pop3Tls::certificates_;
std::map<std::string, std::unique_ptr<DovecotServer>> Pop3Tls::servers_;
std::string Pop3Tls::skipReason_;
int Pop3Tls::users_ = 0;

// Both ways into a secured session carry a mail larger than one TLS record
// intact, and report what was agreed.
TEST_F(Pop3Tls, Pop3sAndStlsCarryWholeMails)
{
    std::string body;
    for (int i = 0; body.size() < 200000; ++i)
        body += (i % 7 == 0 ? "..dotted line " : "line ") + std::to_string(i) + std::string(i % 90, 'x') + "\r\n";
    const std::string mail = "Subject: big\r\n\r\n" + body;
    struct Case {
        TPop3Security security;
        std::string host;
        bool implicitPort;
    };
    for (const Case& c : {Case{pop3SecurityTls, "127.0.0.1", true}, Case{pop3SecurityStartTls, "localhost", false}}) {
        SCOPED_TRACE(c.host);
        DovecotServer& server = Server("good");
        server.PutMessage(user_, mail);
        auto s = Session(c.host, c.implicitPort ? server.TlsPortText() : server.PortText(), c.security);
        ASSERT_EQ(s->Run([&] { s->client.Open(); }), 0) << s->client.ErrorMessage();
        EXPECT_EQ(s->client.TlsDescription().rfind("TLSv1.", 0), 0u) << s->client.TlsDescription();
        EXPECT_EQ(Shows(*s, "> CAPA"), c.security == pop3SecurityStartTls);
        s->client.SetMsgNum(1);
        ASSERT_EQ(s->Run([&] { s->client.Retr(); }), 0) << s->client.ErrorMessage();
        std::string received;
        for (const std::string& line : s->lines)
            received += line + "\r\n";
        // Dot-stuffed on the wire, restored line by line.
        EXPECT_EQ(received, mail);
        s->client.SetMsgNum(1);
        ASSERT_EQ(s->Run([&] { s->client.Dele(); }), 0);
        ASSERT_EQ(s->Run([&] { s->client.Quit(); }), 0);
    }
}

// TLS runs over a SOCKS tunnel: the proxy's own bytes never reach the TLS
// layer, and the certificate is checked against the target, not the proxy.
TEST_F(Pop3Tls, SecuredSessionsPassThroughASocksProxy)
{
    std::string why;
    if (!DanteServer::Available(&why))
        GTEST_SKIP() << why;
    DanteServer dante;
    ASSERT_TRUE(dante.Start(&why)) << why;
    TSocksProxy proxy;
    proxy.Server = "127.0.0.1";
    proxy.Port = dante.PortText();
    DovecotServer& server = Server("good");
    for (const TPop3Security security : {pop3SecurityTls, pop3SecurityStartTls}) {
        SCOPED_TRACE(security);
        server.PutMessage(user_, "Subject: through the proxy\r\n\r\nbody\r\n");
        auto s = Session("127.0.0.1", security == pop3SecurityTls ? server.TlsPortText() : server.PortText(), security);
        s->client.SetSocksProxy(proxy);
        ASSERT_EQ(s->Run([&] { s->client.Open(); }), 0) << s->client.ErrorMessage() << dante.Log();
        EXPECT_EQ(s->client.TlsDescription().rfind("TLSv1.", 0), 0u) << s->client.TlsDescription();
        s->client.SetMsgNum(1);
        ASSERT_EQ(s->Run([&] { s->client.Retr(); }), 0) << s->client.ErrorMessage();
        EXPECT_EQ(s->lines, (std::vector<std::string>{"Subject: through the proxy", "", "body"}));
        ASSERT_EQ(s->Run([&] { s->client.Dele(); }), 0);
        ASSERT_EQ(s->Run([&] { s->client.Quit(); }), 0);
    }
    // The proxy carried both sessions.
    EXPECT_NE(dante.Log().find(server.TlsPortText()), std::string::npos) << dante.Log();
    EXPECT_NE(dante.Log().find(server.PortText()), std::string::npos) << dante.Log();
}

// Every refusal ends the connect with its own error before USER: the server
// never sees the user's name or password.
TEST_F(Pop3Tls, RefusedSessionsSendNoCredentials)
{
    const TestCertificates& certs = *certificates_;
    struct Case {
        const char* what;
        const char* server;
        TPop3Security security;
        bool trustOtherCa;
        int error;
        std::string mentions;
    };
    const Case cases[] = {
        {"unknown CA over STLS", "good", pop3SecurityStartTls, true, tlserr::CertificateUntrusted,
         "issuer \"CN=Pellimar Test ca\""},
        {"unknown CA over POP3S", "good", pop3SecurityTls, true, tlserr::CertificateUntrusted, "subject \"CN=good\""},
        {"wrong name", "wrongname", pop3SecurityTls, false, tlserr::NameMismatch, "127.0.0.1"},
        {"expired", "expired", pop3SecurityTls, false, tlserr::CertificateExpired, "expired"},
        {"no STLS offered", "plain", pop3SecurityStartTls, false, tlserr::StlsNotOffered, "STLS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<TrustOnly> other;
        if (c.trustOtherCa)
            other = std::make_unique<TrustOnly>(certs.OtherCaFile());
        DovecotServer& server = Server(c.server);
        const bool implicit = c.security == pop3SecurityTls;
        auto s = Session("127.0.0.1", implicit ? server.TlsPortText() : server.PortText(), c.security);
        EXPECT_EQ(s->Run([&] { s->client.Open(); }), c.error) << s->client.ErrorMessage();
        EXPECT_NE(s->client.ErrorMessage().find(TlsErrorText(c.error)), std::string::npos) << s->client.ErrorMessage();
        EXPECT_NE(s->client.ErrorMessage().find(c.mentions), std::string::npos) << s->client.ErrorMessage();
        EXPECT_FALSE(Shows(*s, "> USER"));
        EXPECT_FALSE(s->client.Connected());
        // Nor can a direct login slip through on the unsecured connection.
        EXPECT_THROW(s->client.User(), Pop3Exception);
    }
    for (const char* name : {"good", "wrongname", "expired", "plain"})
        EXPECT_EQ(Server(name).Log().find(user_), std::string::npos) << Server(name).Log();
}

// A peer that drops the connection, or falls silent, in the middle of the
// handshake ends the connect with its own error instead of hanging.
TEST_F(Pop3Tls, BrokenHandshakesEndTheConnect)
{
    struct Case {
        const char* what;
        ScriptedServer::Script script;
        int error;
    };
    const Case cases[] = {
        {"drop", [](ScriptedPeer& p) { p.ReadBytes(5, 5000); p.Close(); }, tlserr::ClosedInHandshake},
        {"stall", [](ScriptedPeer& p) { p.ReadBytes(5, 5000); p.Pause(3000); p.Close(); }, tlserr::HandshakeTimedOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer peer(c.script);
        auto s = Session("127.0.0.1", peer.PortText(), pop3SecurityTls);
        s->client.SetTimeout(1);
        EXPECT_EQ(s->Run([&] { s->client.Open(); }), c.error) << s->client.ErrorMessage();
        EXPECT_FALSE(Shows(*s, "> USER"));
        peer.Join();
    }
}

}  // namespace
