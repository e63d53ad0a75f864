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
#include <sys/wait.h>
#include <unistd.h>

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

int64_t FileSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

// Runs body in a child process that then ends at once, without running
// destructors, as a killed process would.
void InCrashingChild(const std::function<void()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
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
    // Even without the 10000 bytes it replaces, the file would not fit.
    db.ChangeItem(std::string(20040, 'n'));
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

// Flushes write into room and index places inside the file; a crash before
// the close leaves them in the data section, where the next opening takes
// them for data. They must neither pile up over many crashes nor survive
// the close of the next run that was not killed.
TEST_F(QdbDurability, CrashesBetweenFlushAndCloseLeaveNoLastingGrowth)
{
    const std::string name = Path("crashes.qdb");
    const int crashes = 100;
    int64_t largest = 0;
    for (int i = 0; i < crashes; ++i) {
        InCrashingChild([&] {
            // Never closed: the child ends with the database open.
            TQDB& db = *new TQDB;
            db.SetFileName(name);
            db.AddItem(ItemData(i), ItemKey(i));
            db.Flush();
            if (i % 3 == 0) {
                db.AddItem(ItemData(i) + "x", ItemKey(i) + "x");
                db.Flush();
            }
        });
        largest = std::max(largest, FileSize(name));
    }
    const std::string compact = Path("compact.qdb");
    {
        TQDB db;
        db.SetFileName(name);
        ASSERT_EQ(db.Count(), crashes + (crashes + 2) / 3);
        db.AddItem(ItemData(crashes), ItemKey(crashes));
        TQDB fresh;
        fresh.SetFileName(compact);
        for (db.First(); ; db.Next()) {
            fresh.AddItem(db.GetItem(), db.Key());
            if (db.Eof())
                break;
        }
    } // the close of a run that was not killed
    EXPECT_LE(FileSize(name), FileSize(compact) * 11 / 10);
    EXPECT_LT(largest, 1 << 20) << "the file grew while crashing";
    TQDB db;
    db.SetFileName(name);
    for (int i = 0; i < crashes; ++i) {
        ASSERT_TRUE(db.FindKey(ItemKey(i))) << i;
        ASSERT_EQ(db.GetItem(), ItemData(i));
    }
}

// A process killed while it writes (here by the file size limit, in the
// middle of assembling the file at close) leaves no working or temporary
// file behind, in the temporary folder or beside the database.
TEST_F(QdbDurability, KilledProcessLeavesNoFiles)
{
    const std::string name = Path("killed.qdb");
    const pid_t pid = ::fork();
    if (pid == 0) {
        TQDB db;
        db.SetFileName(name);
        db.AddItem(std::string(4000, 'k'), "big");
        // The working files fit; the assembled file does not.
        rlimit limit{4010, 4010};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        db.SetFileName("");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_EQ(WorkingFileCount(), 0);
    TQDB db;
    db.SetFileName(name);
    EXPECT_EQ(db.Count(), 0);
    db.SetFileName("");
    int files = 0;
    DIR* d = opendir(dir.path().toLocal8Bit().constData());
    while (dirent* e = readdir(d))
        files += e->d_name[0] != '.';
    closedir(d);
    EXPECT_EQ(files, 2) << "the database and the temporary folder";
}

// A crash of an older version while it created the file left it without a
// single byte: it holds nothing, so it opens as a new, empty database.
TEST_F(QdbDurability, FileOfNoBytesOpensEmpty)
{
    const std::string name = Path("empty.qdb");
    WriteFile(name, "");
    std::vector<std::string> notices;
    {
        TQDB db;
        db.OnNotice = [&](TQDB*, const std::string& text) { notices.push_back(text); };
        db.SetFileName(name);
        EXPECT_EQ(db.Count(), 0);
        db.AddItem("fax", "faxes\\fax1.apf");
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "The file " + name + " held no bytes and now holds a new, empty database");
    TQDB db;
    db.SetFileName(name);
    EXPECT_EQ(db.Count(), 1);
}
