// Download runs against a real Dovecot mailbox, through the download run and
// extraction with a recording host (no window) and through `pellimar --fetch`.
#include "app/core/download.h"
#include "app/core/security_choice.h"
#include "app/platform/message_box.h"
#include "tests/integration/fetch_fixture.h"
#include "tests/support/core_run.h"
#include "tests/support/local_mailbox.h"
#include "tests/support/qt_print.h"
#include "tests/support/scripted_server.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QTabWidget>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QByteArray Fax(const QString& sender, const QString& date, const QString& body = QString())
{
    QStringList args{QStringLiteral("--sender"), sender, QStringLiteral("--date"), date};
    if (!body.isEmpty())
        args << QStringLiteral("--body") << body;
    return MakeMail(args);
}

QByteArray Plain(const QString& subject, const QString& body = QString())
{
    QStringList args{QStringLiteral("--plain"), QStringLiteral("--subject"), subject};
    if (!body.isEmpty())
        args << QStringLiteral("--body") << body;
    return MakeMail(args);
}

// A fax mail with the files attached; a null sender or date leaves that line out.
QByteArray FaxWith(const QString& sender, const QString& date, const QStringList& attachments,
                   const QString& name = QString(), const QStringList& options = {})
{
    QStringList args = options;
    if (!sender.isNull())
        args << QStringLiteral("--sender") << sender;
    if (!date.isNull())
        args << QStringLiteral("--date") << date;
    for (const QString& a : attachments)
        args << QStringLiteral("--attach") << QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + a;
    if (!name.isEmpty())
        args << QStringLiteral("--name") << name;
    return MakeMail(args);
}

// Each test runs in a fresh working folder holding temp/ and faxes/.
class DownloadTest : public FetchFolderTest {
protected:
    void SetUp() override
    {
        FetchFolderTest::SetUp();
        SetMessageHandler([](TMessageKind, const QString&, const QString&) { return TMessageAnswer::Ok; });
        // A configured mailbox (the tests type its real address), so that no
        // first-start hint precedes the run's log lines.
        registry_.SetContents("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore]\n"
                              "\"rgHost\"=\"pop.example.com\"\n");
    }
    void TearDown() override
    {
        SetMessageHandler({});
        FetchFolderTest::TearDown();
    }

    // Starts a download and waits for the run to end. Unless asked to extract,
    // the run stops after saving its lists, so that they can be looked at.
    TRunOutcome RunDownload(TCoreRun& w, const QString& host, const QString& password, bool extract = false)
    {
        if (!extract)
            w.Download.OnListsSaved = nullptr;
        w.Host.Settings.Host = host;
        w.Host.Settings.UserName = QStringLiteral("fax");
        w.Host.Settings.Password = password;
        QEventLoop loop;
        TRunOutcome outcome = TRunOutcome::ScanFailed;
        bool finished = false;
        w.Download.OnRunFinished = [&](TRunOutcome o) {
            outcome = o;
            finished = true;
            loop.quit();
        };
        QTimer guard; // a hung run fails the test instead of blocking the suite
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(120000);
        w.Download.btnDownloadClick();
        if (!finished)
            loop.exec();
        EXPECT_TRUE(finished) << "the run did not end";
        EXPECT_TRUE(w.Host.ControlsEnabled);
        EXPECT_FALSE(w.Host.Busy);
        return outcome;
    }

    QStringList LogLines(const TCoreRun& w) const { return w.Host.LogLines; }

    QStringList ListLines(const QString& path) const
    {
        const QByteArray bytes = ReadFile(work_.filePath(path));
        QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

};

TEST_F(DownloadTest, OnlyTheFaxMailsAreCapturedWholeAndDeleted)
{
    // The fourth mail carries only its fax date: its group of three keeps
    // an empty line for the sender, and the groups behind it stay in step.
    QByteArray dateOnly = MakeMail({QStringLiteral("--date"), QStringLiteral("12/07/2026 17:00")});
    LocalMailbox mailbox({Plain(QStringLiteral("Lunch")), dateOnly,
                          Fax(QStringLiteral("+1 555 0100"), QStringLiteral("12/08/2026 09:15")),
                          Plain(QStringLiteral("Invoice"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    const QStringList uids = mailbox.Uidls();
    ASSERT_EQ(uids.size(), 4);

    TCoreRun w;
    EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::Completed);

    EXPECT_EQ(mailbox.Subjects(), (QStringList{QStringLiteral("Subject: Lunch"), QStringLiteral("Subject: Invoice")}));
    const QString first = QStringLiteral("temp\\Msg ") + uids[1] + QStringLiteral(".txt");
    const QString second = QStringLiteral("temp\\Msg ") + uids[2] + QStringLiteral(".txt");
    EXPECT_EQ(ListLines(QStringLiteral("temp/temp.lst")), (QStringList{first, second}));
    EXPECT_EQ(ListLines(QStringLiteral("temp/faxdata.lst")),
              (QStringList{first, QString(), QStringLiteral("12/07/2026 17:00"), second, QStringLiteral("+1 555 0100"),
                           QStringLiteral("12/08/2026 09:15")}));

    // The whole mail is captured, header lines and all, but for the fax data lines.
    const QByteArray captured = ReadFile(work_.filePath(QStringLiteral("temp/Msg ") + uids[2] + QStringLiteral(".txt")));
    EXPECT_TRUE(captured.startsWith("From: Varnel Fax <fax@varnel.example>\r\n")) << captured.left(200).toStdString();
    EXPECT_TRUE(captured.contains("\r\nSubject: Fax received {Varnel}\r\n"));
    EXPECT_TRUE(captured.contains("\r\nContent-Type: text/plain"));
    EXPECT_TRUE(captured.contains("A fax was received for you.\r\n"));
    EXPECT_FALSE(captured.contains("{FaxSender}")); // fax data lines go to the list only
    EXPECT_FALSE(captured.contains("{FaxDate}"));
    EXPECT_EQ(QDir(work_.filePath(QStringLiteral("temp"))).entryList({QStringLiteral("*.part")}, QDir::Files),
              QStringList());

    const QStringList log = LogLines(w);
    EXPECT_EQ(log.value(0), QStringLiteral("Connecting to email account"));
    EXPECT_EQ(log.value(1), QStringLiteral("Connected. Checking for faxes."));
    EXPECT_EQ(log.count(QStringLiteral("Fax Detected. Preparing to download.")), 2);
    EXPECT_EQ(w.Host.Progress, QStringLiteral("Quit ok"));
}

TEST_F(DownloadTest, CapitalsAndBodyLinesStartCapturesAndKnownMailsAreDeleted)
{
    const QByteArray capitals = "From: fax@varnel.example\nSUBJECT: FAX {VARNEL}\n\nbody of the fax\n";
    const QByteArray bodyTrigger = "From: a@example.com\nSubject: hello\n\nfirst\nsee subject: {Varnel} here\nafter\n";
    const QByteArray known = Fax(QStringLiteral("1"), QStringLiteral("2"));
    LocalMailbox mailbox({capitals, bodyTrigger, known});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    const QStringList uids = mailbox.Uidls();
    ASSERT_EQ(uids.size(), 3);
    // A complete capture left by an earlier run whose logout never happened:
    // that mail is not fetched again but deleted now.
    QFile earlier(work_.filePath(QStringLiteral("temp/Msg ") + uids[2] + QStringLiteral(".txt")));
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier capture\r\n");
    earlier.close();

    TCoreRun w;
    EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::Completed);
    EXPECT_EQ(mailbox.Uidls(), QStringList());
    // The two new captures, and the earlier one, are listed for extraction.
    EXPECT_EQ(ListLines(QStringLiteral("temp/temp.lst")).size(), 3);
    EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("temp/Msg ") + uids[1] + QStringLiteral(".txt"))),
              QByteArray(bodyTrigger).replace("\n", "\r\n"));
    EXPECT_EQ(ReadFile(earlier.fileName()), QByteArray("earlier capture\r\n"));
    EXPECT_TRUE(ListLines(QStringLiteral("temp/faxdata.lst")).isEmpty());
    EXPECT_EQ(LogLines(w).count(QStringLiteral("Fax already downloaded. Deleting it from the server.")), 1);
}

TEST_F(DownloadTest, FailedLoginsEndTheRunWithTheWindowUsable)
{
    LocalMailbox mailbox({Fax(QStringLiteral("1"), QStringLiteral("2"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    {
        TCoreRun w;
        EXPECT_EQ(RunDownload(w, mailbox.HostText(), QStringLiteral("wrong")), TRunOutcome::NotLoggedIn);
        const QStringList log = LogLines(w);
        // Nothing was looked for, so nothing is said about new faxes.
        ASSERT_EQ(log.size(), 1) << log.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(log[0].startsWith(QStringLiteral("Could not log in to the mailbox: -ERR"))) << log[0].toStdString();
    }
    {
        TCoreRun w;
        EXPECT_EQ(RunDownload(w, QStringLiteral("pellimar-test.invalid"), mailbox.Password()), TRunOutcome::NotConnected);
        const QStringList log = LogLines(w);
        ASSERT_EQ(log.size(), 1) << log.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(log[0].startsWith(QStringLiteral("Could not connect"))) << log[0].toStdString();
    }
    EXPECT_EQ(mailbox.Uidls().size(), 1);
    EXPECT_FALSE(QFile::exists(work_.filePath(QStringLiteral("temp/temp.lst"))));
}

// Settings that must not be trusted as they stand stop the run with their
// reason, and never with the password in the log.
TEST_F(DownloadTest, UntrustworthySettingsStopTheRunWithTheirReason)
{
    LocalMailbox mailbox({Fax(QStringLiteral("1"), QStringLiteral("2"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    const auto logOf = [this](TCoreRun& w) { return LogLines(w).join(QLatin1Char('|')); };
    {
        // A Security value written by hand that names no choice.
        TCoreRun w;
        const TSecuritySetting stored = ReadSecuritySetting(QStringLiteral("tls"));
        w.Host.Settings.Security = stored.Choice;
        w.Host.Settings.SecurityProblem = stored.Problem;
        EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::NotConnected);
        EXPECT_TRUE(logOf(w).startsWith(QStringLiteral("Download refused: the stored Security setting \"tls\"")))
            << logOf(w).toStdString();
        EXPECT_EQ(mailbox.Uidls().size(), 1);
    }
    {
        // Never saved: None as before, with a warning.
        TCoreRun w;
        const TSecuritySetting unsaved = ReadSecuritySetting(QVariant());
        w.Host.Settings.Security = unsaved.Choice;
        w.Host.Settings.SecuritySaved = unsaved.Saved;
        EXPECT_EQ(RunDownload(w, mailbox.HostText(), QStringLiteral("wrong")), TRunOutcome::NotLoggedIn);
        EXPECT_TRUE(logOf(w).startsWith(QStringLiteral("Warning: this download is not encrypted"))) << logOf(w).toStdString();
    }
    {
        // A proxy value whose password stands where a port belongs.
        TCoreRun w;
        qputenv("all_proxy", "socks5://user:faxpass");
        EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::NotConnected);
        qunsetenv("all_proxy");
        EXPECT_TRUE(logOf(w).startsWith(QStringLiteral("Could not use the proxy in all_proxy"))) << logOf(w).toStdString();
        EXPECT_FALSE(logOf(w).contains(QStringLiteral("faxpass"))) << logOf(w).toStdString();
    }
    {
        // SOCKS credentials too long to send: the reason is logged.
        TCoreRun w;
        qputenv("all_proxy", "socks5://" + QByteArray(300, 'u') + ":p@127.0.0.1:1");
        EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::NotConnected);
        qunsetenv("all_proxy");
        EXPECT_TRUE(logOf(w).contains(QStringLiteral("too long"))) << logOf(w).toStdString();
    }
    {
        // A server that offers STLS and then refuses it refuses security, not the login.
        ScriptedServer server([](ScriptedPeer& p) {
            p.Send("+OK ready\r\n");
            p.ReadLine();
            p.Send("+OK\r\nSTLS\r\n.\r\n");
            p.ReadLine();
            p.Send("-ERR not now\r\n");
            p.WaitForClose();
        });
        TCoreRun w;
        w.Host.Settings.Security = QStringLiteral("STARTTLS");
        EXPECT_EQ(RunDownload(w, QStringLiteral("127.0.0.1:") + QString::fromStdString(server.PortText()),
                              mailbox.Password()),
                  TRunOutcome::NotConnected);
        EXPECT_TRUE(logOf(w).contains(QStringLiteral("refused STLS"))) << logOf(w).toStdString();
        server.Join();
        EXPECT_EQ(server.Received().find("USER"), std::string::npos) << server.Received();
    }
}

TEST_F(DownloadTest, MissingCaptureFolderKeepsTheMailOnTheServer)
{
    LocalMailbox mailbox({Fax(QStringLiteral("1"), QStringLiteral("2")), Plain(QStringLiteral("other"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    ASSERT_TRUE(QDir(work_.path()).rmdir(QStringLiteral("temp")));
    TCoreRun w;
    EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::ScanFailed);
    EXPECT_EQ(mailbox.Uidls().size(), 2);
    EXPECT_TRUE(w.Host.LogLines.join(QLatin1Char('\n')).contains(QStringLiteral("could not create the capture file temp\\Msg ")));
    EXPECT_EQ(LogLines(w).last(), QStringLiteral("No new faxes detected!"));
}

TEST_F(DownloadTest, UnusableCatalogueRefusesTheDownload)
{
    LocalMailbox mailbox({Fax(QStringLiteral("1"), QStringLiteral("2"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    QFile damaged(work_.filePath(QStringLiteral("faxes.qdb")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("not a catalogue at all");
    damaged.close();
    TCoreRun w;
    EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::NoCatalogue);
    EXPECT_TRUE(LogLines(w).value(0).startsWith(QStringLiteral("Download refused: "))) << LogLines(w).value(0).toStdString();
    EXPECT_EQ(mailbox.Uidls().size(), 1);
    EXPECT_EQ(ReadFile(damaged.fileName()), QByteArray("not a catalogue at all"));
}

TEST_F(DownloadTest, LargeMailboxThroughFetch)
{
    QList<QByteArray> mails;
    const QByteArray plain = Plain(QStringLiteral("newsletter"));
    const char* samples[] = {"text-standard.apf", "multi.apf", "wide.apf", "lines-standard.apf", "text-fine.apf"};
    for (int i = 0; i < 200; ++i)
        mails << (i % 4 == 1 ? FaxWith(QStringLiteral("+1 555 %1").arg(i), QStringLiteral("date %1").arg(i),
                                       {QLatin1String(samples[i / 4 % 5])}, QStringLiteral("fax%1.apf").arg(i))
                             : plain);
    LocalMailbox mailbox(mails);
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    StoreMailbox(mailbox.HostText(), QStringLiteral("fax"));

    QProcess fetch;
    fetch.setWorkingDirectory(work_.path());
    fetch.start(PellimarProgram(), {QStringLiteral("--fetch")});
    ASSERT_TRUE(fetch.waitForFinished(300000));
    EXPECT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardError().toStdString();
    const QStringList out = QString::fromLatin1(fetch.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(out.value(0), QStringLiteral("Working folder: ") + QDir::currentPath());
    // No Security choice was ever saved: the run says it is not encrypted.
    EXPECT_TRUE(out.value(1).startsWith(QStringLiteral("Warning: this download is not encrypted"))) << out.value(1).toStdString();
    EXPECT_EQ(out.value(2), QStringLiteral("Connecting to email account"));
    EXPECT_EQ(out.count(QStringLiteral("Fax Detected. Preparing to download.")), 50);
    EXPECT_EQ(out.last(), QStringLiteral("A total of 50 Faxes where added."));
    EXPECT_EQ(mailbox.Uidls().size(), 150);
    for (int i = 1; i < 200; i += 4)
        EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/fax%1.apf").arg(i))), SampleFax(samples[i / 4 % 5])) << i;
    EXPECT_TRUE(out.contains(QStringLiteral("Added Fax SenderId: +1 555 197 Received On: date 197 File: faxes\\fax197.apf")));
    EXPECT_TRUE(QDir(work_.filePath(QStringLiteral("temp"))).isEmpty()); // captures and lists are gone

    // A second run finds nothing new and says so; its exit status is still 0.
    fetch.start(PellimarProgram(), {QStringLiteral("--fetch")});
    ASSERT_TRUE(fetch.waitForFinished(300000));
    EXPECT_EQ(fetch.exitCode(), 0);
    EXPECT_TRUE(fetch.readAllStandardOutput().contains("No new faxes detected!"));

    // A wrong password is a failure exit.
    StoreMailbox(mailbox.HostText(), QStringLiteral("bad"));
    fetch.start(PellimarProgram(), {QStringLiteral("--fetch")});
    ASSERT_TRUE(fetch.waitForFinished(300000));
    EXPECT_EQ(fetch.exitCode(), static_cast<int>(TRunOutcome::NotLoggedIn));
}

TEST_F(DownloadTest, FetchedFaxesAreWrittenAndCatalogued)
{
    // A hand-written mail whose header says FILENAME= in capitals.
    QByteArray capitals = "From: fax@varnel.example\nSubject: Fax {Varnel}\nMIME-Version: 1.0\n"
                          "Content-Type: multipart/mixed; boundary=\"XX\"\n\n--XX\nContent-Type: text/plain\n\n"
                          "{FaxSender}=caps;\n{FaxDate}=12/01/2026\n--XX\nContent-Type: application/octet-stream\n"
                          "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; FILENAME=\"caps.apf\"\n\n";
    capitals += SampleFax("lines-standard.apf").toBase64() + "\n--XX--\n";
    LocalMailbox mailbox({FaxWith(QStringLiteral("+1 555 0100"), QStringLiteral("12/08/2026 09:15"),
                                  {QStringLiteral("text-standard.apf")}),
                          Plain(QStringLiteral("Lunch")),
                          FaxWith(QStringLiteral("+44 20 7946"), QStringLiteral("12/08/2026 10:30"),
                                  {QStringLiteral("multi.apf"), QStringLiteral("text-fine.apf")}),
                          FaxWith(QStringLiteral("evil"), QStringLiteral("now"), {QStringLiteral("wide.apf")},
                                  QStringLiteral("../../x.apf")),
                          capitals});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    StoreMailbox(mailbox.HostText(), QStringLiteral("fax"));
    QProcess pellimar;
    pellimar.setWorkingDirectory(work_.path());
    pellimar.start(PellimarProgram(), {QStringLiteral("--fetch")});
    ASSERT_TRUE(pellimar.waitForFinished(300000));
    const QString out = QString::fromLatin1(pellimar.readAllStandardOutput());
    EXPECT_EQ(pellimar.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Added Fax SenderId: +1 555 0100 Received On: 12/08/2026 09:15")));
    EXPECT_TRUE(out.endsWith(QStringLiteral("A total of 5 Faxes where added.\n"))) << out.toStdString();
    EXPECT_EQ(mailbox.Uidls().size(), 1);

    EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/text-standard.apf"))), SampleFax("text-standard.apf"));
    EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/multi.apf"))), SampleFax("multi.apf"));
    EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/text-fine.apf"))), SampleFax("text-fine.apf"));
    EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/x.apf"))), SampleFax("wide.apf")); // kept inside faxes/
    EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/caps.apf"))), SampleFax("lines-standard.apf"));
    EXPECT_FALSE(QFile::exists(QDir(work_.path()).absoluteFilePath(QStringLiteral("../x.apf"))));
    EXPECT_TRUE(QDir(work_.filePath(QStringLiteral("temp"))).isEmpty());

    pellimar.start(PellimarProgram(), {QStringLiteral("--list")});
    ASSERT_TRUE(pellimar.waitForFinished(60000));
    EXPECT_EQ(pellimar.exitCode(), 0);
    const QStringList records = QString::fromLatin1(pellimar.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(records.size(), 5) << records.join(QLatin1Char('|')).toStdString();
    bool sawFirst = false;
    for (const QString& record : records) {
        const QStringList f = record.split(QLatin1Char('\t'));
        ASSERT_EQ(f.size(), 5) << record.toStdString();
        EXPECT_EQ(f[0], QStringLiteral("New"));
        EXPECT_TRUE(f[1].startsWith(QStringLiteral("faxes\\")));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d (AM|PM)$")).match(f[4]).hasMatch())
            << f[4].toStdString();
        if (f[1] == QStringLiteral("faxes\\text-standard.apf")) {
            sawFirst = true;
            EXPECT_EQ(f[2], QStringLiteral("+1 555 0100"));
            EXPECT_EQ(f[3], QStringLiteral("12/08/2026 09:15"));
        }
    }
    EXPECT_TRUE(sawFirst);
}

TEST_F(DownloadTest, TotalsAddUpAndAMissingFaxFolderLosesNothing)
{
    TCoreRun w;
    {
        LocalMailbox first({FaxWith(QStringLiteral("a"), QStringLiteral("1"), {QStringLiteral("text-standard.apf")}),
                            FaxWith(QStringLiteral("b"), QStringLiteral("2"), {QStringLiteral("multi.apf")})});
        ASSERT_TRUE(first.Running()) << first.Error().toStdString();
        EXPECT_EQ(RunDownload(w, first.HostText(), first.Password(), true), TRunOutcome::Completed);
        EXPECT_EQ(LogLines(w).last(), QStringLiteral("A total of 2 Faxes where added."));
    }
    ASSERT_TRUE(QDir(work_.path()).rmdir(QStringLiteral("faxes")) || QDir(work_.filePath(QStringLiteral("faxes"))).removeRecursively());
    LocalMailbox second({FaxWith(QStringLiteral("c"), QStringLiteral("3"), {QStringLiteral("text-fine.apf")})});
    ASSERT_TRUE(second.Running()) << second.Error().toStdString();
    EXPECT_EQ(RunDownload(w, second.HostText(), second.Password(), true), TRunOutcome::ExtractionFailed);
    EXPECT_TRUE(w.Host.LogLines.join(QLatin1Char('\n')).contains(QStringLiteral("Error extracting temp\\Msg ")));
    EXPECT_TRUE(LogLines(w).contains(QStringLiteral("A total of 2 Faxes where added.")));
    EXPECT_EQ(second.Uidls().size(), 0); // the mail is gone, but its capture is kept
    EXPECT_EQ(ListLines(QStringLiteral("temp/temp.lst")).size(), 1);

    // Once the folder exists again, the next run (with nothing new) extracts it.
    ASSERT_TRUE(QDir(work_.path()).mkdir(QStringLiteral("faxes")));
    EXPECT_EQ(RunDownload(w, second.HostText(), second.Password(), true), TRunOutcome::Completed);
    EXPECT_EQ(LogLines(w).last(), QStringLiteral("A total of 3 Faxes where added."));
    EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/text-fine.apf"))), SampleFax("text-fine.apf"));
    EXPECT_TRUE(QDir(work_.filePath(QStringLiteral("temp"))).isEmpty());
}

// Mails a new user's fax service may send, each once lost or hidden: a
// name too long to be a file name, a mail without a fax file, MIME header
// lines above the Subject, RFC 2231 names with a charset and in sections, a
// name given only on Content-Type, two faxes of the same name, and a mail
// with its fax date but no sender ID.
TEST_F(DownloadTest, OddMailsLoseNoFax)
{
    const QString longName = QString(300, QLatin1Char('a')) + QStringLiteral(".apf");
    QByteArray longMail = "From: fax@varnel.example\nSubject: Fax {Varnel}\nMIME-Version: 1.0\n"
                          "Content-Type: multipart/mixed; boundary=\"XX\"\n\n--XX\nContent-Type: text/plain\n\n"
                          "{FaxSender}=long;\n{FaxDate}=12/01/2026\n--XX\nContent-Type: application/octet-stream\n"
                          "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"";
    longMail += longName.toLatin1() + "\"\n\n" + SampleFax("black-fine.apf").toBase64() + "\n--XX--\n";
    const QString french = QStringLiteral("T\u00e9l\u00e9copie re\u00e7ue de la soci\u00e9t\u00e9 Dupont et Associ\u00e9s "
                                          "\u00e0 Paris le 8 d\u00e9cembre.apf");
    const QString german = QStringLiteral("Fax f\u00fcr Anna.apf");
    const QString none; // a null sender or date: the mail has no such line
    LocalMailbox mailbox({
        longMail,
        FaxWith(QStringLiteral("nofile"), QStringLiteral("1"), {}),
        FaxWith(QStringLiteral("last"), QStringLiteral("2"), {QStringLiteral("lines-standard.apf")}, QStringLiteral("subject-last.apf"),
                {QStringLiteral("--subject-last")}),
        FaxWith(QStringLiteral("de"), QStringLiteral("3"), {QStringLiteral("text-fine.apf")}, german),
        FaxWith(QStringLiteral("fr"), QStringLiteral("4"), {QStringLiteral("multi.apf")}, french),
        FaxWith(QStringLiteral("type"), QStringLiteral("5"), {QStringLiteral("wide.apf")}, QStringLiteral("typed.apf"),
                {QStringLiteral("--name-on-type")}),
        FaxWith(QStringLiteral("same 1"), QStringLiteral("6"), {QStringLiteral("text-standard.apf")}, QStringLiteral("same.apf")),
        FaxWith(QStringLiteral("same 2"), QStringLiteral("7"), {QStringLiteral("multi-gap.apf")}, QStringLiteral("same.apf")),
        FaxWith(none, QStringLiteral("8"), {QStringLiteral("multi-framed.apf")}, QStringLiteral("date-only.apf")),
        FaxWith(QStringLiteral("after"), QStringLiteral("9"), {QStringLiteral("text-standard.apf")}, QStringLiteral("after.apf")),
    });
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    const QString noFileUid = mailbox.Uidls().value(1);
    StoreMailbox(mailbox.HostText(), QStringLiteral("fax"));
    QProcess pellimar;
    pellimar.setWorkingDirectory(work_.path());
    pellimar.start(PellimarProgram(), {QStringLiteral("--fetch")});
    ASSERT_TRUE(pellimar.waitForFinished(300000));
    const QString out = QString::fromUtf8(pellimar.readAllStandardOutput());
    EXPECT_EQ(pellimar.exitCode(), static_cast<int>(TRunOutcome::ExtractionFailed)) << out.toStdString();
    EXPECT_TRUE(mailbox.Uidls().isEmpty());

    // The mail without a fax file is kept aside, named in the log; the others are extracted.
    const QString noFile = QStringLiteral("Msg ") + noFileUid + QStringLiteral(".txt");
    EXPECT_TRUE(out.contains(QStringLiteral("No fax file found in temp\\") + noFile + QStringLiteral("; it is kept as temp\\failed\\")
                             + noFile + QLatin1Char('.')))
        << out.toStdString();
    EXPECT_TRUE(ReadFile(work_.filePath(QStringLiteral("temp/failed/") + noFile)).contains("{Varnel}"));
    EXPECT_EQ(QDir(work_.filePath(QStringLiteral("temp"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("failed")});
    EXPECT_TRUE(out.endsWith(QStringLiteral("A total of 9 Faxes where added.\n"))) << out.toStdString();

    const QString fittedLong = QString(245, QLatin1Char('a')) + QStringLiteral(".apf");
    const struct {
        QString file;
        const char* sample;
        QString sender, faxDate;
    } expected[] = {
        {fittedLong, "black-fine.apf", QStringLiteral("long"), QStringLiteral("12/01/2026")},
        {QStringLiteral("subject-last.apf"), "lines-standard.apf", QStringLiteral("last"), QStringLiteral("2")},
        {german, "text-fine.apf", QStringLiteral("de"), QStringLiteral("3")},
        {french, "multi.apf", QStringLiteral("fr"), QStringLiteral("4")},
        {QStringLiteral("typed.apf"), "wide.apf", QStringLiteral("type"), QStringLiteral("5")},
        {QStringLiteral("same.apf"), "text-standard.apf", QStringLiteral("same 1"), QStringLiteral("6")},
        {QStringLiteral("same (2).apf"), "multi-gap.apf", QStringLiteral("same 2"), QStringLiteral("7")},
        {QStringLiteral("date-only.apf"), "multi-framed.apf", QString(), QStringLiteral("8")},
        {QStringLiteral("after.apf"), "text-standard.apf", QStringLiteral("after"), QStringLiteral("9")},
    };
    EXPECT_TRUE(out.contains(QStringLiteral("Added Fax SenderId: same 2 Received On: 7 File: faxes\\same (2).apf")));

    pellimar.start(PellimarProgram(), {QStringLiteral("--list")});
    ASSERT_TRUE(pellimar.waitForFinished(60000));
    QMap<QString, QStringList> records; // Filename -> Status, Sender ID, Fax Date
    for (const QString& line : QString::fromUtf8(pellimar.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char('\t'));
        ASSERT_EQ(f.size(), 5) << line.toStdString();
        records[f[1]] = {f[0], f[2], f[3]};
    }
    EXPECT_EQ(records.size(), 9);
    for (const auto& e : expected) {
        EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/") + e.file)), SampleFax(e.sample)) << e.file.toStdString();
        EXPECT_EQ(records.value(QStringLiteral("faxes\\") + e.file),
                  (QStringList{QStringLiteral("New"), e.sender, e.faxDate}))
            << e.file.toStdString();
    }
}

// A fax document made by ghostscript's device (tiffg4, pdfwrite, pnggray) in folder.
QString MakeDocument(const QTemporaryDir& folder, const QString& name, const char* device)
{
    const QString path = folder.filePath(name);
    QProcess gs;
    gs.start(QStringLiteral("gs"), {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                                   QStringLiteral("-sDEVICE=") + QLatin1String(device), QStringLiteral("-r204x196"),
                                   QStringLiteral("-g400x300"), QStringLiteral("-sOutputFile=") + path,
                                   QStringLiteral("-c"),
                                   QStringLiteral("/Helvetica findfont 40 scalefont setfont 20 100 moveto (%1) show "
                                                  "showpage").arg(name)});
    return gs.waitForFinished(60000) && gs.exitCode() == 0 ? path : QString();
}

// Mails of three kinds of fax gateway beside the forwarding server's, with
// two rules stored as a user would save them: a subject holding "fax", and
// the domain of a hosted fax service. Only the fax documents of the mails
// the rules name are catalogued, with the sender and date their headers
// give (the Date shown in the local zone, here Tokyo's).
TEST_F(DownloadTest, FaxMailRulesTakeTheGatewaysFaxesAndNothingElse)
{
    QTemporaryDir docs;
    const QString tiff = MakeDocument(docs, QStringLiteral("fax.tif"), "tiffg4");
    const QString page1 = MakeDocument(docs, QStringLiteral("page1.tif"), "tiffg4");
    const QString page2 = MakeDocument(docs, QStringLiteral("page2.tif"), "tiffg4");
    const QString call = MakeDocument(docs, QStringLiteral("call.pdf"), "pdfwrite");
    const QString scan = MakeDocument(docs, QStringLiteral("scan.pdf"), "pdfwrite");
    const QString invoice = MakeDocument(docs, QStringLiteral("invoice.pdf"), "pdfwrite");
    const QString logo = MakeDocument(docs, QStringLiteral("logo.png"), "pnggray");
    for (const QString& made : {tiff, page1, page2, call, scan, invoice, logo})
        ASSERT_FALSE(made.isEmpty());
    auto gateway = [](const QString& from, const QString& subject, const QString& date, const QStringList& files,
                      const QStringList& options = {QStringLiteral("--typed")}) {
        QStringList args = options;
        args << QStringLiteral("--sender-address") << from << QStringLiteral("--subject") << subject
             << QStringLiteral("--date-header") << date;
        for (const QString& file : files)
            args << QStringLiteral("--attach") << file;
        return MakeMail(args);
    };
    LocalMailbox mailbox({
        FaxWith(QStringLiteral("+1 555 0100"), QStringLiteral("12/08/2026 09:15"), {QStringLiteral("text-standard.apf")}),
        gateway(QStringLiteral("Fax Server <faxserver@office.example>"), QStringLiteral("Fax received from +1 555 0199"),
                QStringLiteral("Wed, 09 Dec 2026 14:30:00 +0100"), {tiff, logo}),
        gateway(QStringLiteral("\"Phone System\" <pbx@office.example>"), QStringLiteral("New fax from 030 1234567"),
                QStringLiteral("Wed, 09 Dec 2026 08:05:00 -0500"), {call}),
        gateway(QStringLiteral("Hosted Fax <noreply@mail.hosted-fax.example>"), QStringLiteral("Your document is ready"),
                QStringLiteral("Thu, 10 Dec 2026 01:00:00 +0000"), {page1, page2}),
        gateway(QStringLiteral("delivery@hosted-fax.example"), QStringLiteral("Document, 2 pages"),
                QStringLiteral("Thu, 10 Dec 2026 00:15:00 +0000"), {},
                {QStringLiteral("--single-part"), scan}),
        gateway(QStringLiteral("noreply@hosted-fax.example"), QStringLiteral("Delivery report"),
                QStringLiteral("Thu, 10 Dec 2026 02:00:00 +0000"), {}),
        gateway(QStringLiteral("Billing <billing@supplier.example>"), QStringLiteral("Invoice 4711"),
                QStringLiteral("Thu, 10 Dec 2026 03:00:00 +0000"), {invoice},
                {QStringLiteral("--plain"), QStringLiteral("--typed")}),
    });
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    const QString reportUid = mailbox.Uidls().value(5);
    StoreMailbox(mailbox.HostText(), QStringLiteral("fax"));
    registry_.SetContents(ReadFile(registry_.Path())
                          + "\"rgFaxMailRules\"=\";fax|hosted-fax.example;\"\n");

    QProcess pellimar;
    pellimar.setWorkingDirectory(work_.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), QStringLiteral("Asia/Tokyo"));
    pellimar.setProcessEnvironment(env);
    pellimar.start(PellimarProgram(), {QStringLiteral("--fetch")});
    ASSERT_TRUE(pellimar.waitForFinished(300000));
    const QString out = QString::fromUtf8(pellimar.readAllStandardOutput());
    // The report without a fax is set aside, as other captures without one.
    EXPECT_EQ(pellimar.exitCode(), static_cast<int>(TRunOutcome::ExtractionFailed)) << out.toStdString();
    const QString report = QStringLiteral("Msg ") + reportUid + QStringLiteral(".txt");
    EXPECT_TRUE(out.contains(QStringLiteral("No fax file found in temp\\") + report)) << out.toStdString();
    EXPECT_TRUE(ReadFile(work_.filePath(QStringLiteral("temp/failed/") + report)).contains("Subject: Delivery report"));
    EXPECT_TRUE(out.contains(QStringLiteral("Left out the attachment logo.png of temp\\Msg "))) << out.toStdString();
    EXPECT_EQ(mailbox.Subjects(), QStringList{QStringLiteral("Subject: Invoice 4711")});
    EXPECT_EQ(Entries(QStringLiteral("faxes")),
              (QStringList{QStringLiteral("call.pdf"), QStringLiteral("fax.tif"), QStringLiteral("page1.tif"),
                           QStringLiteral("page2.tif"), QStringLiteral("scan.pdf"), QStringLiteral("text-standard.apf")}));
    for (const QString& original : {tiff, page1, page2, call, scan})
        EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/") + QFileInfo(original).fileName())), ReadFile(original));

    pellimar.start(PellimarProgram(), {QStringLiteral("--list")});
    ASSERT_TRUE(pellimar.waitForFinished(60000));
    QMap<QString, QStringList> records; // Filename -> Sender ID, Fax Date
    for (const QString& line : QString::fromUtf8(pellimar.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char('\t'));
        ASSERT_EQ(f.size(), 5) << line.toStdString();
        records[f[1]] = {f[2], f[3]};
    }
    const QMap<QString, QStringList> expected{
        {QStringLiteral("faxes\\text-standard.apf"), {QStringLiteral("+1 555 0100"), QStringLiteral("12/08/2026 09:15")}},
        {QStringLiteral("faxes\\fax.tif"), {QStringLiteral("+1 555 0199"), QStringLiteral("12/09/2026 10:30 PM")}},
        {QStringLiteral("faxes\\call.pdf"), {QStringLiteral("030 1234567"), QStringLiteral("12/09/2026 10:05 PM")}},
        {QStringLiteral("faxes\\page1.tif"), {QStringLiteral("Hosted Fax"), QStringLiteral("12/10/2026 10:00 AM")}},
        {QStringLiteral("faxes\\page2.tif"), {QStringLiteral("Hosted Fax"), QStringLiteral("12/10/2026 10:00 AM")}},
        {QStringLiteral("faxes\\scan.pdf"), {QStringLiteral("delivery@hosted-fax.example"), QStringLiteral("12/10/2026 09:15 AM")}},
    };
    EXPECT_EQ(records, expected);
}

} // namespace
