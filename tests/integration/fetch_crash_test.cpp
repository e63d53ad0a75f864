// `pellimar --fetch` killed with SIGKILL at random moments (while a mail
// arrives, between DELE and QUIT, while extracting, while the catalogue is
// flushed), against a real Dovecot mailbox of fax mails, then one complete
// fetch: every fax must then be in faxes/ byte for byte, catalogued exactly
// once, and no fax mail may be left on the server.
#include "tests/integration/fetch_fixture.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/local_mailbox.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSet>

#include <cstdio>
#include <map>
#include <random>

namespace {

constexpr int kMailsPerBatch = 20;
constexpr int kKills = 50;

class FetchCrashTest : public FetchFolderTest {
protected:
    // Starts one fetch with its own folder for the catalogue's temporary files.
    void Start(QProcess& fetch)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmp_.path());
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        fetch.setProcessEnvironment(env);
        fetch.setWorkingDirectory(work_.path());
        fetch.start(PellimarProgram(), {QStringLiteral("--fetch")});
        ASSERT_TRUE(fetch.waitForStarted());
    }

    QStringList TempFiles(const QString& pattern) const
    {
        return QDir(work_.filePath(QStringLiteral("temp"))).entryList({pattern}, QDir::Files, QDir::Name);
    }

    // Files the catalogue writes only while it flushes: the new index and the
    // new database file before they replace the old ones.
    bool FlushInterrupted() const
    {
        return !QDir(tmp_.path()).entryList({QStringLiteral("QDD*"), QStringLiteral("QDT*")}, QDir::Files).isEmpty();
    }

    void ClearTemporaryFiles() const
    {
        for (const QString& name : QDir(tmp_.path()).entryList(QDir::Files))
            QFile::remove(QDir(tmp_.path()).filePath(name));
    }

    QTemporaryDir tmp_;
};

// The mails of one batch: the attachment names carry the batch number in
// place of "_000_" (a text that never occurs in base64).
QList<QByteArray> BatchMails(const QList<QByteArray>& templates, int batch)
{
    QList<QByteArray> mails;
    const QByteArray tag = QStringLiteral("_%1_").arg(batch, 3, 10, QLatin1Char('0')).toLatin1();
    for (QByteArray mail : templates)
        mails << mail.replace("_000_", tag);
    return mails;
}

TEST_F(FetchCrashTest, KilledFetchesLoseNoFaxAndCatalogueEachOnce)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    DovecotServer server;
    server.AddUser("fax", "fax");
    ASSERT_TRUE(server.Start(&why)) << why;
    StoreMailbox(QStringLiteral("127.0.0.1:") + QString::fromStdString(server.PortText()), QStringLiteral("fax"));

    const char* samples[] = {"text-standard.apf", "wide.apf", "black-fine.apf", "text-fine.apf", "lines-standard.apf"};
    QList<QByteArray> templates;
    std::map<QString, const char*> expected; // every fax put into the mailbox, by file name
    for (int i = 0; i < kMailsPerBatch; ++i) {
        templates << MakeMail({QStringLiteral("--sender"), QStringLiteral("+1 555 %1").arg(i), QStringLiteral("--date"),
                               QStringLiteral("12/08/2026 09:%1").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("--attach"),
                               QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + QLatin1String(samples[i % 5]),
                               QStringLiteral("--name"), QStringLiteral("fax_000_%1.apf").arg(i, 2, 10, QLatin1Char('0'))});
        ASSERT_FALSE(templates.last().isEmpty());
    }
    int batches = 0;
    auto putBatch = [&] {
        for (const QByteArray& mail : BatchMails(templates, batches))
            server.PutMessage("fax", mail.toStdString());
        for (int i = 0; i < kMailsPerBatch; ++i)
            expected[QStringLiteral("fax_%1_%2.apf").arg(batches, 3, 10, QLatin1Char('0')).arg(i, 2, 10, QLatin1Char('0'))] =
                samples[i % 5];
        ++batches;
    };

    // A complete run measures how long a fetch of one batch lasts.
    putBatch();
    QElapsedTimer clock;
    clock.start();
    {
        QProcess fetch;
        Start(fetch);
        ASSERT_TRUE(fetch.waitForFinished(60000));
        ASSERT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardOutput().toStdString();
    }
    const int fullRun = int(clock.elapsed());

    // Kills at seeded random moments of a run; a run that ends before its
    // moment refills the mailbox. What each killed run left on disk tells
    // which phase it was in, and the kills go on until every phase was hit.
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> moment(0, fullRun);
    std::map<std::string, int> phases{{"retrieving", 0}, {"between DELE and QUIT", 0}, {"extracting", 0},
                                      {"flushing the catalogue", 0}};
    auto covered = [&] {
        for (const auto& [phase, count] : phases)
            if (count == 0)
                return false;
        return true;
    };
    int kills = 0;
    QElapsedTimer budget;
    budget.start();
    while ((kills < kKills || !covered()) && budget.elapsed() < 45000) {
        if (server.CountMessages("fax") == 0)
            putBatch();
        const int onServer = server.CountMessages("fax");
        const QStringList before = TempFiles(QStringLiteral("Msg *.txt"));
        const QSet<QString> capturesBefore(before.begin(), before.end());
        QProcess fetch;
        Start(fetch);
        if (fetch.waitForFinished(moment(random))) {
            ASSERT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardOutput().toStdString();
            continue;
        }
        fetch.kill();
        ASSERT_TRUE(fetch.waitForFinished(10000));
        ++kills;
        const QByteArray out = fetch.readAllStandardOutput();
        const QStringList captures = TempFiles(QStringLiteral("Msg *.txt"));
        bool newCapture = false;
        for (const QString& c : captures)
            newCapture = newCapture || !capturesBefore.contains(c);
        phases["retrieving"] += !TempFiles(QStringLiteral("*.part")).isEmpty();
        phases["between DELE and QUIT"] += newCapture && server.CountMessages("fax") == onServer;
        phases["extracting"] += QFile::exists(WorkPath(QStringLiteral("temp/temp.lst"))) || out.contains("Added Fax");
        phases["flushing the catalogue"] += FlushInterrupted();
        ClearTemporaryFiles();
    }
    std::string summary = std::to_string(kills) + " kills in " + std::to_string(budget.elapsed()) + " ms (a full run " +
                          std::to_string(fullRun) + " ms, " + std::to_string(batches) + " batches):";
    for (const auto& [phase, count] : phases)
        summary += " " + phase + " " + std::to_string(count) + ";";
    std::printf("%s\n", summary.c_str());
    EXPECT_GE(kills, kKills) << summary;
    EXPECT_TRUE(covered()) << summary;

    // One complete fetch finishes what the killed ones began.
    {
        QProcess fetch;
        Start(fetch);
        ASSERT_TRUE(fetch.waitForFinished(60000));
        EXPECT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardOutput().toStdString();
    }
    EXPECT_EQ(server.CountMessages("fax"), 0);
    EXPECT_EQ(Entries(QStringLiteral("temp")), QStringList());
    QStringList files = Entries(QStringLiteral("faxes"));
    EXPECT_EQ(files.size(), int(expected.size()));
    for (const auto& [name, sample] : expected)
        EXPECT_EQ(ReadFile(WorkPath(QStringLiteral("faxes/") + name)), SampleFax(sample)) << name.toStdString();

    QProcess list;
    list.setWorkingDirectory(work_.path());
    list.start(PellimarProgram(), {QStringLiteral("--list")});
    ASSERT_TRUE(list.waitForFinished(60000));
    std::map<QString, int> records;
    for (const QString& line : QString::fromUtf8(list.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ++records[line.section(QLatin1Char('\t'), 1, 1)];
    EXPECT_EQ(records.size(), expected.size());
    for (const auto& [name, sample] : expected)
        EXPECT_EQ(records[QStringLiteral("faxes\\") + name], 1) << name.toStdString();
}

} // namespace
