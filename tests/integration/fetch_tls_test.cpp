// `pellimar --fetch` with the Security setting: over POP3S against Dovecot
// (ssl = required) the fax arrives and the log names what was agreed; with a
// certificate nobody trusts the run stops before the login.
#include "tests/integration/fetch_fixture.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/local_mailbox.h"
#include "tests/support/test_certificates.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

class FetchTlsTest : public FetchFolderTest {};

TEST_F(FetchTlsTest, FetchOverPop3sAndRefusalOfAnUntrustedServer)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    TestCertificates certs;
    const std::string base = certs.Issue("localhost", "DNS:localhost,IP:127.0.0.1");
    ASSERT_TRUE(certs.Ok()) << certs.Error();
    DovecotServer server;
    server.SetTlsCertificate(base + ".crt", base + ".key");
    ASSERT_TRUE(server.Start(&why)) << why;
    server.AddUser("fax", "fax");
    server.PutMessage("fax", MakeMail({QStringLiteral("--sender"), QStringLiteral("+1 555 0199"),
                                       QStringLiteral("--date"), QStringLiteral("12/09/2026 06:00"),
                                       QStringLiteral("--attach"),
                                       QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/text-standard.apf")})
                                 .toStdString());

    const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
    registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"localhost:%2\"\n\"rgUserName\"=\"fax\"\n"
                                         "\"rgPassword\"=\"fax\"\n\"rgSecurity\"=\"TLS (POP3S)\"\n")
                              .arg(key)
                              .arg(server.TlsPort())
                              .toLatin1());
    auto fetch = [&](const std::string& caFile, QString& out) {
        QProcess pellimar;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SSL_CERT_FILE"), QString::fromStdString(caFile));
        env.insert(QStringLiteral("SSL_CERT_DIR"), QStringLiteral("/nonexistent"));
        pellimar.setProcessEnvironment(env);
        pellimar.setWorkingDirectory(work_.path());
        pellimar.start(PellimarProgram(), {QStringLiteral("--fetch")});
        EXPECT_TRUE(pellimar.waitForFinished(120000));
        out = QString::fromLatin1(pellimar.readAllStandardOutput());
        return pellimar.exitCode();
    };

    QString out;
    EXPECT_EQ(fetch(certs.OtherCaFile(), out), 2) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Certificate not trusted"))) << out.toStdString();
    EXPECT_EQ(server.CountMessages("fax"), 1);
    EXPECT_EQ(server.Log().find("user=<fax>"), std::string::npos) << server.Log();

    EXPECT_EQ(fetch(certs.CaFile(), out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Connection secured with TLSv1."))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("A total of 1 Faxes where added."))) << out.toStdString();
    EXPECT_EQ(ReadFile(WorkPath(QStringLiteral("faxes/text-standard.apf"))), SampleFax("text-standard.apf"));
    EXPECT_EQ(server.CountMessages("fax"), 0);
}

}  // namespace
