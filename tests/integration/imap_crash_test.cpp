// `pellimar --fetch` from an IMAP mailbox killed with SIGKILL at random
// moments, 50 times and more, against a real Dovecot; then one complete
// fetch. Every fax is then in faxes/ byte for byte and catalogued once, no
// fax mail is left in INBOX, and the other mails are still there unread.
#include "tests/integration/fetch_fixture.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/local_mailbox.h"

#include <QElapsedTimer>
#include <QProcess>

#include <map>
#include <random>

namespace {

constexpr int kFaxesPerRound = 25;
constexpr int kOtherMails = 5;
constexpr int kKills = 50;

class ImapCrashTest : public FetchFolderTest {
protected:
    void StartFetch(QProcess& fetch)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmp_.path());
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        fetch.setProcessEnvironment(env);
        fetch.setWorkingDirectory(work_.path());
        fetch.start(PellimarProgram(), {QStringLiteral("--fetch")});
        ASSERT_TRUE(fetch.waitForStarted());
    }
    QTemporaryDir tmp_;
};

TEST_F(ImapCrashTest, KilledImapFetchesLoseNoFaxAndLeaveNoFaxMail)
{
    std::string why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why;
    DovecotServer server;
    server.EnableImap();
    ASSERT_TRUE(server.Start(&why)) << why;
    server.AddUser("fax", "fax");
    StoreImapMailbox(server.ImapPort());

    // One mail per sample; each copy names its attachment anew in place of
    // "NNNNNN" (a text base64 never holds).
    const char* samples[] = {"text-standard.apf", "wide.apf", "black-fine.apf", "lines-standard.apf"};
    std::vector<QByteArray> templates;
    for (const char* sample : samples)
        templates.push_back(MakeMail({QStringLiteral("--sender"), QStringLiteral("+1 555 0100"),
                                      QStringLiteral("--date"), QStringLiteral("12/08/2026 09:15"),
                                      QStringLiteral("--attach"),
                                      QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + QLatin1String(sample),
                                      QStringLiteral("--name"), QStringLiteral("imapNNNNNN.apf")}));
    for (int i = 0; i < kOtherMails; ++i)
        server.PutMessage("fax", MakeMail({QStringLiteral("--plain"), QStringLiteral("--subject"),
                                           QStringLiteral("Other mail %1").arg(i)})
                                     .toStdString());
    std::map<QString, const char*> expected;
    auto putRound = [&] {
        for (int i = 0; i < kFaxesPerRound; ++i) {
            const QString name = QStringLiteral("imap%1.apf").arg(int(expected.size()), 6, 10, QLatin1Char('0'));
            server.PutMessage("fax", QByteArray(templates[i % 4])
                                         .replace("imapNNNNNN.apf", name.toLatin1())
                                         .toStdString());
            expected[name] = samples[i % 4];
        }
    };

    putRound();
    QElapsedTimer clock;
    clock.start();
    {
        QProcess fetch;
        StartFetch(fetch);
        ASSERT_TRUE(fetch.waitForFinished(60000));
        ASSERT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardOutput().toStdString();
    }
    const int fullRun = int(clock.elapsed());

    // Kills at seeded random moments from the start up to a little past a
    // full run: starting, logging in, fetching, marking, expunging,
    // extracting. A run that finished first emptied the folder, which is
    // refilled.
    std::mt19937 random(20261211);
    std::uniform_int_distribution<int> moment(0, fullRun + fullRun / 5);
    int kills = 0, finished = 0;
    QElapsedTimer budget;
    budget.start();
    while (kills < kKills && budget.elapsed() < 90000) {
        if (server.CountMessages("fax") == kOtherMails)
            putRound();
        QProcess fetch;
        StartFetch(fetch);
        if (fetch.waitForFinished(moment(random))) {
            ++finished;
            ASSERT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardOutput().toStdString();
            continue;
        }
        fetch.kill();
        ASSERT_TRUE(fetch.waitForFinished(10000));
        ++kills;
    }
    std::printf("%d kills and %d finished runs in %lld ms (a full run %d ms), %zu faxes\n", kills, finished,
                static_cast<long long>(budget.elapsed()), fullRun, expected.size());
    EXPECT_GE(kills, kKills);

    {
        QProcess fetch;
        StartFetch(fetch);
        ASSERT_TRUE(fetch.waitForFinished(60000));
        EXPECT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardOutput().toStdString();
    }
    // Only the other mails are left, unread; no fax mail, not even marked deleted.
    const std::vector<std::string> inbox = server.MessageFlags("fax");
    EXPECT_EQ(inbox.size(), std::size_t(kOtherMails));
    for (const std::string& flags : inbox)
        EXPECT_EQ(flags.find_first_of("ST"), std::string::npos) << flags;
    EXPECT_EQ(Entries(QStringLiteral("temp")), QStringList());
    EXPECT_EQ(Entries(QStringLiteral("faxes")).size(), int(expected.size()));
    for (const auto& [name, sample] : expected)
        EXPECT_EQ(ReadFile(WorkPath(QStringLiteral("faxes/") + name)), SampleFax(sample)) << name.toStdString();

    std::map<QString, int> records = CatalogueRecords();
    EXPECT_EQ(records.size(), expected.size());
    for (const auto& [name, sample] : expected)
        EXPECT_EQ(records[QStringLiteral("faxes\\") + name], 1) << name.toStdString();
}

}  // namespace
