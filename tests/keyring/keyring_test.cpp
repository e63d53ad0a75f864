// The mailbox password in a real Secret Service: GNOME Keyring on a private
// D-Bus session. Save moves a password out of the settings file into the
// keyring (secret-tool finds it there), the window and `pellimar --fetch`
// read it back, and a locked or vanished keyring ends a fetch with status 3
// and a clear line instead of a hang, leaving the mail on the server.
#include "app/platform/secret_store.h"
#include "app/ui/main_window.h"
#include "app/ui/sign_in_fields.h"
#include "tests/integration/fetch_fixture.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/local_mailbox.h"

#include <QDBusConnection>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct TFetchRun {
    int status = -1;
    QString out;
};

class KeyringTest : public FetchFolderTest {
protected:
    void SetUp() override
    {
        FetchFolderTest::SetUp();
        for (const char* tool : {"dbus-daemon", "gnome-keyring-daemon", "secret-tool"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        // The windows here need no text recognition.
        qputenv("PELLIMAR_TEXT_WORKERS", "0");
        QDir(home_.path()).mkpath(QStringLiteral("data"));
        QDir(home_.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(home_.filePath(QStringLiteral("run")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_DATA_HOME", home_.filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", home_.filePath(QStringLiteral("run")).toLocal8Bit());
        bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--print-address=1")});
        ASSERT_TRUE(bus_.waitForReadyRead(10000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus_.readLine().trimmed());
        keyring_.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        keyring_.start(QStringLiteral("gnome-keyring-daemon"),
                       {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
        ASSERT_TRUE(keyring_.waitForStarted());
        keyring_.write("keyring password");
        keyring_.closeWriteChannel();
        ASSERT_TRUE(QTest::qWaitFor([] { return TSecretStore::ServiceRunning(); }, 15000))
            << keyring_.readAllStandardError().toStdString();
    }
    void TearDown() override
    {
        keyring_.kill();
        keyring_.waitForFinished();
        bus_.kill();
        bus_.waitForFinished();
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        FetchFolderTest::TearDown();
    }

    TFetchRun Fetch()
    {
        QProcess pellimar;
        pellimar.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        pellimar.setWorkingDirectory(work_.path());
        pellimar.start(PellimarProgram(), {QStringLiteral("--fetch")});
        TFetchRun run;
        if (!pellimar.waitForFinished(60000))
            return run;
        run.status = pellimar.exitCode();
        run.out = QString::fromLatin1(pellimar.readAllStandardOutput());
        return run;
    }

    QString Lookup(const QString& host)
    {
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("host"), host,
                                                   QStringLiteral("user"), QStringLiteral("fax")});
        tool.waitForFinished(10000);
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

    QTemporaryDir home_;
    QProcess bus_, keyring_;
};

TEST_F(KeyringTest, SaveMovesThePasswordAndFetchesReadIt)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    DovecotServer server;
    ASSERT_TRUE(server.Start(&why)) << why;
    const std::string password = "file pass 42";
    server.AddUser("fax", password);
    const QString host = QStringLiteral("127.0.0.1:") + server.PortText().c_str();
    StoreMailbox(host, QString::fromStdString(password));
    registry_.SetContents(registry_.Contents() + "\"rgSecurity\"=\"None\"\n");

    {
        TForm1 window;
        QStringList log;
        window.OnLogLine = [&](const QString& line) { log << line; };
        EXPECT_EQ(window.SignIn->lblPasswordStore->text(), QStringLiteral("Save moves the password into the desktop keyring."));
        window.BitBtn6Click();
        EXPECT_TRUE(log.contains(QStringLiteral("The mailbox password was moved from the settings file into the "
                                                "desktop keyring.")))
            << log.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(window.SignIn->lblPasswordStore->text(), QStringLiteral("The password is kept in the desktop keyring."));
    }
    const QByteArray settings = registry_.Contents();
    EXPECT_TRUE(settings.contains("\"rgPassword\"=\"\"")) << settings.toStdString();
    EXPECT_TRUE(settings.contains("\"rgPasswordStore\"=\"Secret Service\"")) << settings.toStdString();
    EXPECT_FALSE(settings.contains("file pass")) << settings.toStdString();
    EXPECT_EQ(Lookup(host), QString::fromStdString(password));
    {
        TForm1 window;
        EXPECT_EQ(window.edtPassword->text(), QString::fromStdString(password));
    }

    // The fetch signs in with the keyring's password, and never shows it.
    server.PutMessage("fax", MakeMail({QStringLiteral("--attach"),
                                       QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/text-standard.apf")})
                                 .toStdString());
    TFetchRun run = Fetch();
    EXPECT_EQ(run.status, 0) << run.out.toStdString();
    EXPECT_FALSE(run.out.contains(QStringLiteral("file pass"))) << run.out.toStdString();
    EXPECT_EQ(ReadFile(WorkPath(QStringLiteral("faxes/text-standard.apf"))), SampleFax("text-standard.apf"));
    EXPECT_EQ(server.CountMessages("fax"), 0);

    // Locked: refused at once, nothing fetched.
    server.PutMessage("fax", MakeMail({QStringLiteral("--attach"),
                                       QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/text-standard.apf")})
                                 .toStdString());
    QProcess lock;
    lock.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=org.freedesktop.secrets"),
                QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")});
    ASSERT_TRUE(lock.waitForFinished(10000));
    EXPECT_EQ(lock.exitCode(), 0) << lock.readAllStandardError().toStdString();
    run = Fetch();
    EXPECT_EQ(run.status, 3) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("the desktop keyring is locked"))) << run.out.toStdString();
    EXPECT_EQ(server.CountMessages("fax"), 1);

    // Gone: the same, with the reason.
    keyring_.kill();
    keyring_.waitForFinished();
    ASSERT_TRUE(QTest::qWaitFor([] { return !TSecretStore::ServiceRunning(); }, 10000));
    run = Fetch();
    EXPECT_EQ(run.status, 3) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("no desktop keyring (Secret Service) is running"))) << run.out.toStdString();
    EXPECT_EQ(server.CountMessages("fax"), 1);

    // Without a keyring, a newly typed password goes into the settings file.
    {
        TForm1 window;
        EXPECT_TRUE(window.edtPassword->text().isEmpty());
        EXPECT_TRUE(window.SignIn->lblPasswordStore->text().contains(QStringLiteral("cannot be read now")));
        QTest::keyClicks(window.edtPassword, QStringLiteral("typed anew"));
        window.BitBtn6Click();
        EXPECT_TRUE(window.SignIn->lblPasswordStore->text().startsWith(QStringLiteral("No desktop keyring is running")));
    }
    const QByteArray after = registry_.Contents();
    EXPECT_TRUE(after.contains("\"rgPassword\"=\"typed anew\"")) << after.toStdString();
    EXPECT_FALSE(after.contains("\"rgPasswordStore\"=\"Secret Service\"")) << after.toStdString();
}

}  // namespace
