// `pellimar --fetch` signing in with an OAuth 2 bearer token that the
// password command prints, against Dovecot's oauth2 passdb, which checks
// tokens at a small introspection endpoint. A good token fetches over POP3
// and IMAP, with implicit TLS and STARTTLS (a long one after the server's
// empty challenge); an expired one is refused with the server's JSON reason
// and leaves the mail; a failing command or a token meant for a clear-text
// connection reaches no server.
#include "tests/integration/fetch_fixture.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/local_mailbox.h"
#include "tests/support/test_certificates.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

class OAuthFetchTest : public FetchFolderTest {
protected:
    int CountLogins(const DovecotServer& server) const
    {
        const std::string log = server.Log();
        int count = 0;
        for (std::size_t at = log.find("pop3-login:"); at != std::string::npos; at = log.find("pop3-login:", at + 1))
            ++count;
        return count;
    }
};

TEST_F(OAuthFetchTest, TokensFromThePasswordCommand)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    const QString longToken = QStringLiteral("long-") + QString(300, QLatin1Char('t'));
    QProcess introspection;
    introspection.start(QStringLiteral("python3"),
                        {QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/support/oauth_introspection.py"),
                         QStringLiteral("good-token=fax"), longToken + QStringLiteral("=fax")});
    ASSERT_TRUE(introspection.waitForReadyRead(10000));
    const QString port = QString::fromLatin1(introspection.readLine()).trimmed();

    TestCertificates certs;
    const std::string base = certs.Issue("localhost", "DNS:localhost,IP:127.0.0.1");
    ASSERT_TRUE(certs.Ok()) << certs.Error();
    DovecotServer server;
    server.SetTlsCertificate(base + ".crt", base + ".key");
    server.EnableImap();
    server.SetOAuth2Introspection("http://127.0.0.1:" + port.toStdString() + "/introspect");
    ASSERT_TRUE(server.Start(&why)) << why;
    server.AddUser("fax", "not-a-token");
    const auto deliver = [&] {
        server.PutMessage("fax", MakeMail({QStringLiteral("--sender"), QStringLiteral("+1 555 0199"),
                                           QStringLiteral("--attach"),
                                           QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/text-standard.apf")})
                                     .toStdString());
    };
    deliver();

    struct Case {
        const char* name;
        QString security;
        QString command;
        int status;
        QString logLine;   // a line the run prints
        bool reachesServer;
        bool fetches;
        bool imap = false;
    };
    const Case cases[] = {
        {"expired token", QStringLiteral("TLS (POP3S)"), QStringLiteral("printf expired-token"), 3,
         QStringLiteral("(the server says: status \"invalid_token\")"), true, false},
        {"failing command", QStringLiteral("TLS (POP3S)"), QStringLiteral("sh -c 'echo no vault >&2; exit 7'"), 3,
         QStringLiteral("ended with exit status 7 (it said: no vault)"), false, false},
        {"token in the clear", QStringLiteral("None"), QStringLiteral("printf good-token"), 3,
         QStringLiteral("only ever sent over TLS"), false, false},
        {"good token over STARTTLS", QStringLiteral("STARTTLS"), QStringLiteral("printf good-token"), 0,
         QStringLiteral("A total of 1 Faxes where added."), true, true},
        {"long token over POP3S", QStringLiteral("TLS (POP3S)"), QStringLiteral("printf ") + longToken, 0,
         QStringLiteral("A total of 1 Faxes where added."), true, true},
        {"expired token over IMAPS", QStringLiteral("TLS (POP3S)"), QStringLiteral("printf expired-token"), 3,
         QStringLiteral("(the server says: status \"invalid_token\")"), true, false, true},
        {"good token over IMAP STARTTLS", QStringLiteral("STARTTLS"), QStringLiteral("printf good-token"), 0,
         QStringLiteral("A total of 1 Faxes where added."), true, true, true},
        {"long token over IMAPS", QStringLiteral("TLS (POP3S)"), QStringLiteral("printf ") + longToken, 0,
         QStringLiteral("A total of 1 Faxes where added."), true, true, true},
    };
    const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (server.CountMessages("fax") == 0)
            deliver();
        const bool implicitTls = c.security == QLatin1String("TLS (POP3S)");
        const int port = c.imap ? (implicitTls ? server.ImapsPort() : server.ImapPort())
                                : (implicitTls ? server.TlsPort() : server.Port());
        registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"localhost:%2\"\n\"rgUserName\"=\"fax\"\n"
                                             "\"rgPassword\"=\"\"\n\"rgSecurity\"=\"%3\"\n"
                                             "\"rgSignInMethod\"=\"OAuth 2 token\"\n\"rgPasswordCommand\"=\"%4\"\n"
                                             "\"rgMailboxType\"=\"%5\"\n")
                                  .arg(key)
                                  .arg(port)
                                  .arg(c.security, c.command, c.imap ? QStringLiteral("IMAP") : QStringLiteral("POP3"))
                                  .toLatin1());
        const int loginsBefore = CountLogins(server);
        QProcess pellimar;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SSL_CERT_FILE"), QString::fromStdString(certs.CaFile()));
        env.insert(QStringLiteral("SSL_CERT_DIR"), QStringLiteral("/nonexistent"));
        pellimar.setProcessEnvironment(env);
        pellimar.setWorkingDirectory(work_.path());
        pellimar.start(PellimarProgram(), {QStringLiteral("--fetch")});
        ASSERT_TRUE(pellimar.waitForFinished(120000));
        const QString out = QString::fromLatin1(pellimar.readAllStandardOutput());
        EXPECT_EQ(pellimar.exitCode(), c.status) << out.toStdString();
        EXPECT_TRUE(out.contains(c.logLine)) << out.toStdString();
        EXPECT_FALSE(out.contains(QStringLiteral("-token")) || out.contains(QStringLiteral("ttttt"))) << out.toStdString();
        EXPECT_EQ(server.CountMessages("fax"), c.fetches ? 0 : 1) << server.Log();
        if (!c.reachesServer) {
            EXPECT_EQ(CountLogins(server), loginsBefore) << server.Log();
        }
    }
    EXPECT_EQ(ReadFile(WorkPath(QStringLiteral("faxes/text-standard.apf"))), SampleFax("text-standard.apf"));
    introspection.kill();
    introspection.waitForFinished();
}

}  // namespace
