// Download runs against a real Dovecot mailbox, through the Download button
// of the main window and through `pellimar --fetch`.
#include "app/download.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "tests/support/local_mailbox.h"
#include "tests/support/qt_print.h"
#include "tests/support/temp_registry.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
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

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each test runs in a fresh working folder holding temp/ and faxes/.
class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = QDir::currentPath();
        QDir(work_.path()).mkpath(QStringLiteral("temp"));
        QDir(work_.path()).mkpath(QStringLiteral("faxes"));
        ASSERT_TRUE(QDir::setCurrent(work_.path()));
        qputenv("PELLIMAR_PPP_PEERS", "/nonexistent");
        SetMessageHandler([](TMessageKind, const QString&, const QString&) { return TMessageAnswer::Ok; });
        // A configured mailbox (the tests type its real address), so that no
        // first-start hint precedes the run's log lines.
        registry_.SetContents("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore]\n"
                              "\"rgHost\"=\"pop.example.com\"\n");
    }
    void TearDown() override
    {
        SetMessageHandler({});
        QDir::setCurrent(previous_);
    }

    // Clicks Download and waits for the run to end. Unless asked to extract,
    // the run stops after saving its lists, so that they can be looked at.
    TRunOutcome RunDownload(TForm1& w, const QString& host, const QString& password, bool extract = false)
    {
        if (!extract)
            w.Download->OnListsSaved = nullptr;
        w.edtHost->setText(host);
        w.edtUserName->setText(QStringLiteral("fax"));
        w.edtPassword->setText(password);
        QEventLoop loop;
        TRunOutcome outcome = TRunOutcome::ScanFailed;
        bool finished = false;
        w.Download->OnRunFinished = [&](TRunOutcome o) {
            outcome = o;
            finished = true;
            loop.quit();
        };
        QTimer guard; // a hung run fails the test instead of blocking the suite
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(120000);
        w.BitBtn1->click();
        if (!finished)
            loop.exec();
        EXPECT_TRUE(finished) << "the run did not end";
        EXPECT_TRUE(w.pgCntrl->isEnabled());
        return outcome;
    }

    QStringList LogLines(const TForm1& w) const
    {
        return w.DisplayMemo->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QStringList ListLines(const QString& path) const
    {
        const QByteArray bytes = ReadFile(work_.filePath(path));
        QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    TempRegistry registry_;
    QTemporaryDir work_;
    QString previous_;
};

TEST_F(DownloadTest, OnlyTheFaxMailIsCapturedAndDeleted)
{
    LocalMailbox mailbox({Plain(QStringLiteral("Lunch")), Fax(QStringLiteral("+1 555 0100"), QStringLiteral("12/08/2026 09:15")),
                          Plain(QStringLiteral("Invoice"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    const QString faxUid = mailbox.Uidls().value(1);

    TForm1 w;
    EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::Completed);

    EXPECT_EQ(mailbox.Subjects(), (QStringList{QStringLiteral("Subject: Lunch"), QStringLiteral("Subject: Invoice")}));
    const QString capture = QStringLiteral("temp\\Msg ") + faxUid + QStringLiteral(".txt");
    EXPECT_EQ(ListLines(QStringLiteral("temp/temp.lst")), QStringList{capture});
    EXPECT_EQ(ListLines(QStringLiteral("temp/faxdata.lst")),
              (QStringList{capture, QStringLiteral("+1 555 0100"), QStringLiteral("12/08/2026 09:15")}));

    const QByteArray captured = ReadFile(work_.filePath(QStringLiteral("temp/Msg ") + faxUid + QStringLiteral(".txt")));
    EXPECT_FALSE(captured.contains("Subject:"));   // the line that started the capture
    EXPECT_FALSE(captured.contains("From:"));      // lines before it
    EXPECT_FALSE(captured.contains("{FaxSender}")); // fax data lines go to the list only
    EXPECT_FALSE(captured.contains("{FaxDate}"));
    EXPECT_TRUE(captured.startsWith("Content-Type: text/plain")); // the line after the subject
    EXPECT_TRUE(captured.contains("A fax was received for you.\r\n"));

    const QStringList log = LogLines(w);
    EXPECT_EQ(log.value(0), QStringLiteral("Connecting to email account"));
    EXPECT_EQ(log.value(1), QStringLiteral("Connected. Checking for faxes."));
    EXPECT_EQ(log.count(QStringLiteral("Fax Detected. Preparing to download.")), 1);
    EXPECT_EQ(w.InfoLabel->text(), QStringLiteral("Quit ok"));
}

TEST_F(DownloadTest, CapitalsAndBodyLinesStartCapturesAndKnownMailsAreSkipped)
{
    const QByteArray capitals = "From: fax@varnel.example\nSUBJECT: FAX {VARNEL}\n\nbody of the fax\n";
    const QByteArray bodyTrigger = "From: a@example.com\nSubject: hello\n\nfirst\nsee subject: {Varnel} here\nafter\n";
    const QByteArray known = Fax(QStringLiteral("1"), QStringLiteral("2"));
    LocalMailbox mailbox({capitals, bodyTrigger, known});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    const QStringList uids = mailbox.Uidls();
    ASSERT_EQ(uids.size(), 3);
    // A capture left by an earlier run: that mail is neither fetched nor deleted.
    QFile earlier(work_.filePath(QStringLiteral("temp/Msg ") + uids[2] + QStringLiteral(".txt")));
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier capture\r\n");
    earlier.close();

    TForm1 w;
    EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::Completed);
    EXPECT_EQ(mailbox.Uidls(), QStringList{uids[2]});
    // The two new captures, and the earlier one, which is listed for extraction.
    EXPECT_EQ(ListLines(QStringLiteral("temp/temp.lst")).size(), 3);
    EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("temp/Msg ") + uids[1] + QStringLiteral(".txt"))), QByteArray("after\r\n"));
    EXPECT_EQ(ReadFile(earlier.fileName()), QByteArray("earlier capture\r\n"));
    EXPECT_TRUE(ListLines(QStringLiteral("temp/faxdata.lst")).isEmpty());
}

TEST_F(DownloadTest, FailedLoginsEndTheRunWithTheWindowUsable)
{
    LocalMailbox mailbox({Fax(QStringLiteral("1"), QStringLiteral("2"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    {
        TForm1 w;
        EXPECT_EQ(RunDownload(w, mailbox.HostText(), QStringLiteral("wrong")), TRunOutcome::NotLoggedIn);
        const QStringList log = LogLines(w);
        ASSERT_EQ(log.size(), 2) << log.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(log[0].startsWith(QStringLiteral("Could not log in to the mailbox: -ERR"))) << log[0].toStdString();
        EXPECT_EQ(log[1], QStringLiteral("No new faxes detected!"));
    }
    {
        TForm1 w;
        EXPECT_EQ(RunDownload(w, QStringLiteral("pellimar-test.invalid"), mailbox.Password()), TRunOutcome::NotConnected);
        const QStringList log = LogLines(w);
        ASSERT_EQ(log.size(), 2) << log.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(log[0].startsWith(QStringLiteral("Could not connect"))) << log[0].toStdString();
        EXPECT_EQ(log[1], QStringLiteral("No new faxes detected!"));
    }
    EXPECT_EQ(mailbox.Uidls().size(), 1);
    EXPECT_FALSE(QFile::exists(work_.filePath(QStringLiteral("temp/temp.lst"))));
}

TEST_F(DownloadTest, MissingCaptureFolderKeepsTheMailOnTheServer)
{
    LocalMailbox mailbox({Fax(QStringLiteral("1"), QStringLiteral("2")), Plain(QStringLiteral("other"))});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    ASSERT_TRUE(QDir(work_.path()).rmdir(QStringLiteral("temp")));
    TForm1 w;
    EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::ScanFailed);
    EXPECT_EQ(mailbox.Uidls().size(), 2);
    EXPECT_TRUE(w.DisplayMemo->toPlainText().contains(QStringLiteral("could not create the capture file temp\\Msg ")));
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
    TForm1 w;
    EXPECT_EQ(RunDownload(w, mailbox.HostText(), mailbox.Password()), TRunOutcome::NoCatalogue);
    EXPECT_TRUE(LogLines(w).value(0).startsWith(QStringLiteral("Download refused: "))) << LogLines(w).value(0).toStdString();
    EXPECT_EQ(mailbox.Uidls().size(), 1);
    EXPECT_EQ(ReadFile(damaged.fileName()), QByteArray("not a catalogue at all"));
}

TEST_F(DownloadTest, LargeMailboxThroughFetch)
{
    QList<QByteArray> mails;
    const QByteArray plain = Plain(QStringLiteral("newsletter"));
    for (int i = 0; i < 200; ++i)
        mails << (i % 4 == 1 ? Fax(QStringLiteral("+1 555 %1").arg(i), QStringLiteral("date %1").arg(i)) : plain);
    LocalMailbox mailbox(mails);
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
    registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"%2\"\n\"rgUserName\"=\"fax\"\n\"rgPassword\"=\"fax\"\n")
                              .arg(key, mailbox.HostText()).toLatin1());

    QProcess fetch;
    fetch.setWorkingDirectory(work_.path());
    fetch.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), {QStringLiteral("--fetch")});
    ASSERT_TRUE(fetch.waitForFinished(300000));
    EXPECT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardError().toStdString();
    const QStringList out = QString::fromLatin1(fetch.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(out.value(0), QStringLiteral("Connecting to email account"));
    EXPECT_EQ(out.count(QStringLiteral("Fax Detected. Preparing to download.")), 50);
    EXPECT_EQ(out.last(), QStringLiteral("A total of 0 Faxes where added.")); // these mails carry no fax file
    EXPECT_EQ(mailbox.Uidls().size(), 150);
    EXPECT_TRUE(QDir(work_.filePath(QStringLiteral("temp"))).isEmpty()); // captures and lists are gone

    // A second run finds nothing new and says so; its exit status is still 0.
    fetch.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), {QStringLiteral("--fetch")});
    ASSERT_TRUE(fetch.waitForFinished(300000));
    EXPECT_EQ(fetch.exitCode(), 0);
    EXPECT_TRUE(fetch.readAllStandardOutput().contains("No new faxes detected!"));

    // A wrong password is a failure exit.
    registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"%2\"\n\"rgPassword\"=\"bad\"\n")
                              .arg(key, mailbox.HostText()).toLatin1());
    fetch.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), {QStringLiteral("--fetch")});
    ASSERT_TRUE(fetch.waitForFinished(300000));
    EXPECT_EQ(fetch.exitCode(), static_cast<int>(TRunOutcome::NotLoggedIn));
}

QByteArray SampleFax(const char* name)
{
    return ReadFile(QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + QLatin1String(name));
}

QByteArray FaxWith(const QString& sender, const QString& date, const QStringList& attachments,
                   const QString& name = QString())
{
    QStringList args{QStringLiteral("--sender"), sender, QStringLiteral("--date"), date};
    for (const QString& a : attachments)
        args << QStringLiteral("--attach") << QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + a;
    if (!name.isEmpty())
        args << QStringLiteral("--name") << name;
    return MakeMail(args);
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
    const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
    registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"%2\"\n\"rgUserName\"=\"fax\"\n\"rgPassword\"=\"fax\"\n")
                              .arg(key, mailbox.HostText()).toLatin1());
    QProcess pellimar;
    pellimar.setWorkingDirectory(work_.path());
    pellimar.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), {QStringLiteral("--fetch")});
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

    pellimar.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), {QStringLiteral("--list")});
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
    TForm1 w;
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
    RunDownload(w, second.HostText(), second.Password(), true);
    EXPECT_TRUE(w.DisplayMemo->toPlainText().contains(QStringLiteral("Error extracting temp\\Msg ")));
    EXPECT_EQ(second.Uidls().size(), 0); // the mail is gone, but its capture is kept
    EXPECT_EQ(ListLines(QStringLiteral("temp/temp.lst")).size(), 1);

    // Once the folder exists again, the next run (with nothing new) extracts it.
    ASSERT_TRUE(QDir(work_.path()).mkdir(QStringLiteral("faxes")));
    EXPECT_EQ(RunDownload(w, second.HostText(), second.Password(), true), TRunOutcome::Completed);
    EXPECT_EQ(LogLines(w).last(), QStringLiteral("A total of 3 Faxes where added."));
    EXPECT_EQ(ReadFile(work_.filePath(QStringLiteral("faxes/text-fine.apf"))), SampleFax("text-fine.apf"));
    EXPECT_TRUE(QDir(work_.filePath(QStringLiteral("temp"))).isEmpty());
}

} // namespace
