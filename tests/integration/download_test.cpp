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
    }
    void TearDown() override
    {
        SetMessageHandler({});
        QDir::setCurrent(previous_);
    }

    // Clicks Download and waits for the run to end.
    TRunOutcome RunDownload(TForm1& w, const QString& host, const QString& password)
    {
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
    EXPECT_EQ(ListLines(QStringLiteral("temp/temp.lst")).size(), 2);
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
    EXPECT_EQ(mailbox.Uidls().size(), 150);
    EXPECT_EQ(ListLines(QStringLiteral("temp/temp.lst")).size(), 50);
    const QStringList data = ListLines(QStringLiteral("temp/faxdata.lst"));
    ASSERT_EQ(data.size(), 150);
    EXPECT_EQ(data[1], QStringLiteral("+1 555 1"));
    EXPECT_EQ(data[2], QStringLiteral("date 1"));

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

} // namespace
