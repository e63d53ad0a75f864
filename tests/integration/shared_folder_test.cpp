// Several Pellimar processes in one working folder: the real program run as
// a second process beside a download run and a catalogue held open here, as
// the window holds them.
#include "app/core/fax_import.h"
#include "app/platform/flying_op.h"
#include "app/platform/message_box.h"
#include "qdb/record_view.h"
#include "tests/integration/fetch_fixture.h"
#include "tests/support/core_run.h"
#include "tests/support/local_mailbox.h"
#include "tests/support/scripted_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>

namespace {

struct TRun {
    int status = -1;
    QString out, err;
};

class SharedFolderTest : public FetchFolderTest {
protected:
    void SetUp() override
    {
        FetchFolderTest::SetUp();
        SetMessageHandler([](TMessageKind, const QString&, const QString&) { return TMessageAnswer::Ok; });
    }
    void TearDown() override
    {
        SetMessageHandler({});
        FetchFolderTest::TearDown();
    }

    // The program in the working folder, as a second process.
    TRun Pellimar(const QStringList& arguments)
    {
        QProcess process;
        process.setWorkingDirectory(work_.path());
        process.start(PellimarProgram(), arguments);
        TRun run;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.status = process.exitCode();
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }

    // Starts a download here and waits for its end.
    TRunOutcome Download(TCoreRun& run, const QString& host)
    {
        run.Host.Settings.Host = host;
        run.Host.Settings.UserName = QStringLiteral("fax");
        run.Host.Settings.Password = QStringLiteral("fax");
        QEventLoop loop;
        TRunOutcome outcome = TRunOutcome::ScanFailed;
        bool finished = false;
        run.Download.OnRunFinished = [&](TRunOutcome o) {
            outcome = o;
            finished = true;
            loop.quit();
        };
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        run.Download.btnDownloadClick();
        if (!finished)
            loop.exec();
        EXPECT_TRUE(finished);
        return outcome;
    }

    QStringList Listing()
    {
        const TRun list = Pellimar({QStringLiteral("--list")});
        EXPECT_EQ(list.status, 0) << list.err.toStdString();
        return list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    bool CopySample(const char* sample, const QString& to)
    {
        QFile::remove(to);
        return QFile::copy(QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + QLatin1String(sample), to);
    }
};

// A server that logs in, offers one fax mail and then delivers it so slowly
// that the download stays in the middle of it until the client goes.
void StallInsideAFaxMail(ScriptedServer& server, ScriptedPeer& p, std::atomic<bool>& retrieving)
{
    p.Send("+OK ready\r\n");
    for (const char* reply : {"+OK\r\n", "+OK\r\n", "+OK 1 900\r\n", "+OK 1 slow-uid\r\n"}) {
        server.Record(p.ReadLine());
        p.Send(reply);
    }
    server.Record(p.ReadLine()); // RETR 1
    p.Send("+OK message follows\r\nSubject: {Varnel} fax\r\n{FaxSender}=123\r\nfirst body line\r\n");
    retrieving = true;
    server.Record(p.ReadUntilClosed(60000));
}

TEST_F(SharedFolderTest, OneDownloadAtATimeAndAKilledHolderLeavesNoLock)
{
    std::atomic<bool> retrieving = false;
    ScriptedServer slow([&](ScriptedPeer& p) { StallInsideAFaxMail(slow, p, retrieving); });
    StoreMailbox(QStringLiteral("127.0.0.1:") + QString::fromStdString(slow.PortText()), QStringLiteral("fax"));
    QProcess first;
    first.setWorkingDirectory(work_.path());
    first.start(PellimarProgram(), {QStringLiteral("--fetch"), QStringLiteral("--timeout"), QStringLiteral("50")});
    QElapsedTimer waited;
    waited.start();
    while (!retrieving && waited.elapsed() < 30000)
        QThread::msleep(20);
    ASSERT_TRUE(retrieving) << "the first fetch never reached the mail";
    const QStringList part = Entries(QStringLiteral("temp"));
    ASSERT_EQ(part, QStringList{QStringLiteral("Msg slow-uid.txt.part")});

    // While it captures, neither a second fetch nor a download of this
    // process (the window's) starts, and its capture stays.
    const TRun second = Pellimar({QStringLiteral("--fetch")});
    EXPECT_EQ(second.status, static_cast<int>(TRunOutcome::FolderBusy)) << second.out.toStdString();
    EXPECT_TRUE(second.out.contains(QStringLiteral("Another Pellimar is downloading into this folder")));
    {
        TCoreRun window;
        EXPECT_EQ(Download(window, QStringLiteral("127.0.0.1:1")), TRunOutcome::FolderBusy);
        EXPECT_EQ(window.Host.LogLines.size(), 1);
        EXPECT_TRUE(window.Host.ControlsEnabled);
    }
    EXPECT_EQ(Entries(QStringLiteral("temp")), part);

    // Killed while it holds the lock: the next run starts at once, drops
    // the half capture and fetches the fax from a mailbox that has it.
    first.kill();
    first.waitForFinished();
    slow.Join();
    EXPECT_FALSE(QString::fromStdString(slow.Received()).contains(QStringLiteral("DELE")));
    LocalMailbox mailbox({MakeMail({QStringLiteral("--sender"), QStringLiteral("+1 555 0100"), QStringLiteral("--attach"),
                                    QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/black-fine.apf")})});
    ASSERT_TRUE(mailbox.Running()) << mailbox.Error().toStdString();
    TCoreRun next;
    EXPECT_EQ(Download(next, mailbox.HostText()), TRunOutcome::Completed) << next.Host.LogLines.join('\n').toStdString();
    EXPECT_TRUE(next.Host.LogLines.contains(
        QStringLiteral("Removed the incomplete capture temp\\Msg slow-uid.txt.part; its mail is fetched again.")));
    EXPECT_TRUE(next.Catalogue.Contains(QStringLiteral("faxes\\black-fine.apf")));
    EXPECT_TRUE(mailbox.Subjects().isEmpty());
}

TEST_F(SharedFolderTest, TheOpenCatalogueTakesInOtherPellimarsAndNeverForks)
{
    TRecordingRunHost host;
    TFlyingOp op;
    ASSERT_TRUE(CopySample("black-fine.apf", WorkPath(QStringLiteral("a.apf"))));
    ASSERT_TRUE(CopySample("lines-standard.apf", WorkPath(QStringLiteral("b.apf"))));
    ASSERT_TRUE(CopySample("multi-gap.apf", WorkPath(QStringLiteral("c.apf"))));
    {
        // Held open here all along, as the window holds it.
        TFaxCatalogue catalogue;
        catalogue.Open();
        ASSERT_TRUE(catalogue.Ready());
        ASSERT_TRUE(ImportFaxFile(catalogue, host, op, work_.path(), WorkPath(QStringLiteral("a.apf"))));

        // Another process adds a fax: it shows here without reopening.
        EXPECT_EQ(Pellimar({QStringLiteral("--import"), QStringLiteral("b.apf")}).status, 0);
        int changes = 0;
        QObject::connect(&catalogue, &TFaxCatalogue::Changed, [&changes] { ++changes; });
        EXPECT_TRUE(catalogue.TakeInOtherWrites());
        QCoreApplication::processEvents();
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(catalogue.View().Count(), 2);

        // Changes here after another process wrote again keep both: a fax
        // marked viewed and one removed, as the browser does it.
        EXPECT_EQ(Pellimar({QStringLiteral("--import"), QStringLiteral("c.apf")}).status, 0);
        {
            const TFaxCatalogue::TChangeScope change(catalogue);
            qdb::TQDBView& view = catalogue.View();
            ASSERT_TRUE(view.FindKey("faxes\\a.apf"));
            view.Edit();
            catalogue.edtStatus->setText(QStringLiteral("Viewed"));
            view.Post();
            view.Flush();
        }
        {
            const TFaxCatalogue::TChangeScope change(catalogue);
            qdb::TQDBView& view = catalogue.View();
            ASSERT_TRUE(view.FindKey("faxes\\b.apf"));
            view.Delete();
            view.Flush();
        }
        EXPECT_EQ(catalogue.View().Count(), 2);
    }
    const QStringList list = Listing();
    ASSERT_EQ(list.size(), 2) << list.join('\n').toStdString();
    EXPECT_TRUE(list[0].startsWith(QStringLiteral("Viewed\tfaxes\\a.apf\t"))) << list[0].toStdString();
    EXPECT_TRUE(list[1].startsWith(QStringLiteral("New\tfaxes\\c.apf\t"))) << list[1].toStdString();
    EXPECT_FALSE(Entries(QString()).join(' ').contains(QStringLiteral("1.faxes"))) << Entries(QString()).join(' ').toStdString();

    // A program that is not Pellimar replacing the file is never taken in
    // silently: the open catalogue keeps its own copy apart.
    {
        TFaxCatalogue catalogue;
        catalogue.Open();
        QFile::remove(WorkPath(QStringLiteral("faxes.qdb")));
        ASSERT_TRUE(QFile::copy(WorkPath(QStringLiteral("faxes.qdb.lock")), WorkPath(QStringLiteral("faxes.qdb"))));
        EXPECT_FALSE(catalogue.TakeInOtherWrites());
        EXPECT_EQ(catalogue.View().Count(), 2);
    }
    EXPECT_TRUE(Entries(QString()).contains(QStringLiteral("1.faxes.qdb"))) << Entries(QString()).join(' ').toStdString();
}

} // namespace
