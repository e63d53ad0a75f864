// Flushed changes survive a killed process, and a database that cannot be
// written keeps its old file. Both run the engine in a child process: this
// test program started again with a filter that selects a child role.
#include "qdb/qdb.h"
#include "qdb_fixture.h"

#include <QCoreApplication>
#include <QProcess>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sys/resource.h>

using namespace qdb;

namespace {
std::string ItemData(int i)
{
    return "Fax record " + std::to_string(i) + std::string(size_t(i % 37) * 11, char('a' + i % 26));
}

std::string ItemKey(int i)
{
    return "faxes\\fax" + std::to_string(i) + ".apf";
}

const char* Env(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

// Starts this program again for one child role; its working files go to temp.
QProcess* StartChild(const char* test, const QString& variable, const std::string& value, const std::string& temp)
{
    auto* child = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(variable, QString::fromStdString(value));
    env.insert("TMPDIR", QString::fromStdString(temp));
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child->start(QCoreApplication::applicationFilePath(), {QString("--gtest_filter=") + test});
    return child;
}

using QdbDurability = QdbFolder;
} // namespace

// Child role: adds and flushes items, reporting each completed flush.
TEST(QdbChild, FlushUntilKilled)
{
    const char* name = Env("QDB_CRASH_DB");
    if (!name)
        GTEST_SKIP() << "runs only as the crash test's child";
    TQDB db;
    db.SetFileName(name);
    db.SetCompression(true);
    for (int i = db.Count(); i < 1000000; ++i) {
        db.AddItem(ItemData(i), ItemKey(i));
        db.Flush();
        std::printf("flushed %d\n", i);
        std::fflush(stdout);
    }
}

TEST_F(QdbDurability, KilledWriterKeepsFlushedItems)
{
    const std::string name = Path("crash.qdb");
    std::mt19937 rng(21);
    int flushed = -1;
    for (int round = 0; round < 4; ++round) {
        std::unique_ptr<QProcess> child(StartChild("QdbChild.FlushUntilKilled", "QDB_CRASH_DB", name, temp));
        ASSERT_TRUE(child->waitForStarted());
        const int target = flushed + 5 + int(rng() % 40);
        QByteArray pending;
        while (flushed < target) {
            ASSERT_TRUE(child->waitForReadyRead(60000)) << "child stopped after " << flushed;
            pending += child->readAllStandardOutput();
            int nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                if (line.startsWith("flushed "))
                    flushed = line.mid(8).toInt();
            }
        }
        child->kill();
        child->waitForFinished();
        EXPECT_EQ(child->exitStatus(), QProcess::CrashExit);

        TQDB db;
        db.SetFileName(name);
        ASSERT_GE(db.Count(), flushed + 1);
        for (int i = 0; i <= flushed; ++i) {
            ASSERT_TRUE(db.FindKey(ItemKey(i))) << i;
            ASSERT_EQ(db.GetItem(), ItemData(i));
        }
        // The next round continues after what this process found.
        flushed = db.Count() - 1;
    }
}

// Child role: a file size limit stands in for a full disk.
TEST(QdbChild, FlushOnFullDisk)
{
    const char* name = Env("QDB_FULL_DB");
    if (!name)
        GTEST_SKIP() << "runs only as the full-disk test's child";
    TQDB db;
    db.SetFileName(name);
    db.First();
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{20060, 20060};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    db.ChangeItem(std::string(10050, 'n'));
    try {
        db.Flush();
        FAIL() << "flush succeeded";
    } catch (const EQDBFileError& e) {
        EXPECT_STREQ(e.what(), "The drive is full");
    }
    EXPECT_TRUE(db.Modified());
    EXPECT_THROW(db.SetFileName(""), EQDBFileError);
    EXPECT_FALSE(db.Ready());
    std::printf("full disk reported\n");
}

TEST_F(QdbDurability, FullDiskLeavesOldFile)
{
    const std::string name = Path("full.qdb");
    {
        TQDB db;
        db.SetFileName(name);
        db.AddItem(std::string(10000, 'o'), "old");
    }
    const std::string before = ReadFile(name);
    std::unique_ptr<QProcess> child(StartChild("QdbChild.FlushOnFullDisk", "QDB_FULL_DB", name, temp));
    ASSERT_TRUE(child->waitForFinished(120000));
    EXPECT_EQ(child->exitCode(), 0);
    EXPECT_TRUE(child->readAllStandardOutput().contains("full disk reported"));
    EXPECT_EQ(ReadFile(name), before);
    TQDB db;
    db.SetFileName(name);
    db.First();
    EXPECT_EQ(db.GetItem(), std::string(10000, 'o'));
}
