// Desktop notifications after a download: `pellimar --fetch --notify` against
// a real Dovecot mailbox, on a private D-Bus session whose notification
// service is a small listener of the test's own that records every call.
#include "tests/support/local_mailbox.h"
#include "tests/support/temp_registry.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariantMap>
#include <gtest/gtest.h>

namespace {

// The org.freedesktop.Notifications service as a desktop offers it, reduced
// to recording what it was asked to show.
class NotificationListener : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName, icon, summary, body;
        QVariantMap hints;
    };
    QList<Call> calls;

public slots:
    uint Notify(const QString& appName, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int)
    {
        calls.append({appName, icon, summary, body, hints});
        return static_cast<uint>(calls.size());
    }
};

// A dbus-daemon of the test's own, with nothing activatable on it.
class PrivateSessionBus {
public:
    PrivateSessionBus()
    {
        QFile config(dir_.filePath(QStringLiteral("session.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral("<busconfig><type>session</type><listen>unix:path=%1/bus</listen>"
                                    "<auth>EXTERNAL</auth><policy context=\"default\">"
                                    "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                    "<allow own=\"*\"/></policy></busconfig>")
                         .arg(dir_.path())
                         .toUtf8());
        config.close();
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address")});
        if (daemon_.waitForReadyRead(30000))
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateSessionBus()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
        daemon_.terminate();
        daemon_.waitForFinished(10000);
    }
    QString Address() const { return address_; }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
};

QByteArray Fax(const QString& sender)
{
    return MakeMail({QStringLiteral("--sender"), sender, QStringLiteral("--date"), QStringLiteral("12/08/2026 09:15"),
                     QStringLiteral("--attach"), QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/multi.apf")});
}

class FaxNotificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(work_.path()).mkpath(QStringLiteral("temp"));
        QDir(work_.path()).mkpath(QStringLiteral("faxes"));
        ASSERT_FALSE(bus_.Address().isEmpty()) << "dbus-daemon did not start";
        QDBusConnection listener = QDBusConnection::connectToBus(bus_.Address(), QStringLiteral("listener"));
        ASSERT_TRUE(listener.isConnected()) << listener.lastError().message().toStdString();
        ASSERT_TRUE(listener.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &listener_,
                                            QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(listener.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    // Runs pellimar --fetch with the arguments against the mailbox, keeping
    // the event loop going so that the listener can answer; it must succeed.
    void Fetch(const LocalMailbox& mailbox, const QStringList& arguments, const QString& busAddress)
    {
        const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
        registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"%2\"\n\"rgUserName\"=\"fax\"\n\"rgPassword\"=\"fax\"\n")
                                  .arg(key, mailbox.HostText())
                                  .toLatin1());
        QProcess fetch;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        fetch.setProcessEnvironment(env);
        fetch.setWorkingDirectory(work_.path());
        QEventLoop loop;
        QObject::connect(&fetch, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(300000, &loop, &QEventLoop::quit);
        fetch.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), QStringList{QStringLiteral("--fetch")} + arguments);
        loop.exec();
        EXPECT_EQ(fetch.state(), QProcess::NotRunning) << "pellimar --fetch did not end";
        if (fetch.exitCode() != 0)
            ADD_FAILURE() << "exit status " << fetch.exitCode() << ": " << fetch.readAllStandardError().toStdString();
    }

    int FaxFiles() const { return static_cast<int>(QDir(work_.filePath(QStringLiteral("faxes"))).entryList(QDir::Files).size()); }

    QTemporaryDir work_;
    TempRegistry registry_;
    PrivateSessionBus bus_;
    NotificationListener listener_;
};

TEST_F(FaxNotificationTest, FetchWithNotifyTellsTheDesktopHowManyFaxesCameFromWhom)
{
    LocalMailbox mailbox({Fax(QStringLiteral("+1 555 0100")), Fax(QStringLiteral("+1 555 0101")),
                          Fax(QStringLiteral("+1 555 0100")), Fax(QStringLiteral("+1 555 0102")),
                          Fax(QStringLiteral("+1 555 0103"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    Fetch(mailbox, {QStringLiteral("--notify")}, bus_.Address());
    EXPECT_EQ(FaxFiles(), 5);
    ASSERT_EQ(listener_.calls.size(), 1);
    const NotificationListener::Call& call = listener_.calls[0];
    EXPECT_EQ(call.appName, QStringLiteral("Pellimar"));
    EXPECT_EQ(call.icon, QStringLiteral("pellimar"));
    EXPECT_EQ(call.body, QStringLiteral("5 new faxes from +1 555 0100, +1 555 0101, +1 555 0102, …"));
    EXPECT_EQ(call.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("pellimar"));

    // Nothing new: no notification.
    Fetch(mailbox, {QStringLiteral("--notify")}, bus_.Address());
    EXPECT_EQ(listener_.calls.size(), 1);
}

TEST_F(FaxNotificationTest, FetchNotifiesOnlyWhenAskedAndNeedsNoBus)
{
    LocalMailbox mailbox({Fax(QStringLiteral("+44 20 7946 0018"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    Fetch(mailbox, {}, bus_.Address());
    EXPECT_EQ(FaxFiles(), 1);
    EXPECT_TRUE(listener_.calls.isEmpty());

    // A session without a bus (a cron job): the run is not held up or failed.
    LocalMailbox another({Fax(QStringLiteral("+44 20 7946 0018"))});
    ASSERT_TRUE(another.Running()) << another.Error().toStdString();
    QDir(work_.filePath(QStringLiteral("faxes"))).removeRecursively();
    QDir(work_.path()).mkpath(QStringLiteral("faxes"));
    Fetch(another, {QStringLiteral("--notify")}, QStringLiteral("unix:path=/nonexistent/bus"));
    EXPECT_EQ(FaxFiles(), 1);
    EXPECT_TRUE(listener_.calls.isEmpty());
}

} // namespace

#include "fax_notification_test.moc"
