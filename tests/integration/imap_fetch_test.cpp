// `pellimar --fetch` from an IMAP mailbox on a real Dovecot: in the clear,
// over IMAPS and with STARTTLS, with and without a keep folder. The faxes
// arrive byte for byte, the other mails stay unread and unflagged, and the
// fax mails leave INBOX (into the keep folder when one is set).
#include "tests/integration/fetch_fixture.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/local_mailbox.h"
#include "tests/support/test_certificates.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

QByteArray FaxMail(const char* file, const char* sender)
{
    return MakeMail({QStringLiteral("--sender"), QLatin1String(sender), QStringLiteral("--date"),
                     QStringLiteral("12/09/2026 06:00"), QStringLiteral("--attach"),
                     QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + QLatin1String(file)});
}

QByteArray OtherMail(const char* subject)
{
    return MakeMail({QStringLiteral("--plain"), QStringLiteral("--subject"), QLatin1String(subject)});
}

class ImapFetchTest : public FetchFolderTest {
protected:
    // Runs `pellimar --fetch` in folder with the settings; returns its exit status.
    int Fetch(const QString& folder, const QString& settings, const std::string& caFile, QString& out)
    {
        const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
        registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n%2").arg(key, settings).toLatin1());
        QProcess pellimar;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SSL_CERT_FILE"), QString::fromStdString(caFile));
        env.insert(QStringLiteral("SSL_CERT_DIR"), QStringLiteral("/nonexistent"));
        pellimar.setProcessEnvironment(env);
        pellimar.setWorkingDirectory(folder);
        pellimar.start(PellimarProgram(), {QStringLiteral("--fetch")});
        EXPECT_TRUE(pellimar.waitForFinished(120000));
        out = QString::fromLatin1(pellimar.readAllStandardOutput());
        return pellimar.exitCode();
    }
};

TEST_F(ImapFetchTest, FaxesArriveOtherMailStaysUntouchedOverEverySecurityWithAndWithoutKeepFolder)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    TestCertificates certs;
    const std::string base = certs.Issue("localhost", "DNS:localhost,IP:127.0.0.1");
    ASSERT_TRUE(certs.Ok()) << certs.Error();
    DovecotServer plain, secured;
    plain.EnableImap();
    secured.EnableImap();
    secured.SetTlsCertificate(base + ".crt", base + ".key");
    ASSERT_TRUE(plain.Start(&why)) << why;
    ASSERT_TRUE(secured.Start(&why)) << why;

    const QByteArray faxA = FaxMail("text-standard.apf", "+1 555 0101");
    const QByteArray faxB = FaxMail("lines-standard.apf", "+1 555 0102");
    const QByteArray otherA = OtherMail("Lunch on Friday");
    const QByteArray otherB = OtherMail("Minutes of the meeting");

    struct Case {
        const char* name;
        DovecotServer* server;
        const char* security;
        std::uint16_t port;
        const char* keepFolder;  // nullptr: the fax mails are removed
    };
    const Case cases[] = {
        {"plain", &plain, "None", plain.ImapPort(), nullptr},
        {"plain-keep", &plain, "None", plain.ImapPort(), "Faxes"},
        {"imaps", &secured, "TLS (POP3S)", secured.ImapsPort(), nullptr},
        {"starttls-keep", &secured, "STARTTLS", secured.ImapPort(), "Fax Archive"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string user = c.name;
        c.server->AddUser(user, "secret");
        for (const QByteArray& mail : {otherA, faxA, otherB, faxB})
            c.server->PutMessage(user, mail.toStdString());
        const QString folder = WorkPath(QLatin1String(c.name));
        QDir().mkpath(folder + QStringLiteral("/temp"));
        QDir().mkpath(folder + QStringLiteral("/faxes"));
        QString settings = QStringLiteral("\"rgHost\"=\"localhost:%1\"\n\"rgUserName\"=\"%2\"\n\"rgPassword\"=\"secret\"\n"
                                          "\"rgSecurity\"=\"%3\"\n\"rgMailboxType\"=\"IMAP\"\n\"rgFolder\"=\"INBOX\"\n")
                               .arg(c.port)
                               .arg(QLatin1String(c.name), QLatin1String(c.security));
        if (c.keepFolder)
            settings += QStringLiteral("\"rgKeepOnServer\"=\"Yes\"\n\"rgKeepFolder\"=\"%1\"\n").arg(QLatin1String(c.keepFolder));

        QString out;
        EXPECT_EQ(Fetch(folder, settings, certs.CaFile(), out), 0) << out.toStdString() << c.server->Log();
        EXPECT_TRUE(out.contains(QStringLiteral("A total of 2 Faxes where added."))) << out.toStdString();
        EXPECT_EQ(out.contains(QStringLiteral("Connection secured with TLSv1.")), std::string(c.security) != "None")
            << out.toStdString();
        EXPECT_EQ(ReadFile(folder + QStringLiteral("/faxes/text-standard.apf")), SampleFax("text-standard.apf"));
        EXPECT_EQ(ReadFile(folder + QStringLiteral("/faxes/lines-standard.apf")), SampleFax("lines-standard.apf"));
        // Only the other mails are left in INBOX, neither read nor flagged.
        const std::vector<std::string> inbox = c.server->MessageFlags(user);
        EXPECT_EQ(inbox.size(), 2u);
        for (const std::string& flags : inbox)
            EXPECT_EQ(flags.find_first_of("SFT"), std::string::npos) << flags;
        EXPECT_EQ(c.server->CountMessages(user, c.keepFolder ? c.keepFolder : "Faxes"), c.keepFolder ? 2 : 0);

        // A second run finds nothing new.
        EXPECT_EQ(Fetch(folder, settings, certs.CaFile(), out), 0) << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral("No new faxes detected!"))) << out.toStdString();
        EXPECT_EQ(c.server->CountMessages(user), 2);
    }
}

}  // namespace
