// Backups taken while another process keeps adding items and flushing them
// into the file: each copy is the database as one flush left it, compact.
#include "qdb/backup.h"
#include "qdb/index_section.h"
#include "qdb/qdb.h"
#include "qdb_fixture.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace qdb;

namespace {
std::string Key(int i)
{
    return "faxes\\fax" + std::to_string(100000 + i) + ".apf";
}

std::string Data(int i)
{
    return std::string(size_t(200 + i % 300), char('a' + i % 26)) + std::to_string(i);
}

// Kills the child process when the test ends, however it ends.
struct ChildGuard {
    pid_t pid;
    ~ChildGuard()
    {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
};

using QdbBackup = QdbFolder;
} // namespace

TEST_F(QdbBackup, CopiesTakenDuringFlushesAreConsistentAndCompact)
{
    const std::string name = Path("live.qdb");
    {
        TQDB db;
        db.SetFileName(name);
        for (int i = 0; i < 3000; ++i)
            db.AddItem(Data(i), Key(i));
    }
    const pid_t writer = ::fork();
    if (writer == 0) {
        // Never closed: the process is killed while it flushes.
        TQDB& db = *new TQDB;
        db.SetFileName(name);
        for (int i = 3000; i < 1000000; ++i) {
            db.AddItem(Data(i), Key(i));
            if (i % 7 == 0) { // a changed item moves: its old bytes become unused
                db.FindKey(Key(i - 3000));
                db.ChangeItem(Data(i - 3000) + "changed");
            }
            db.Flush();
        }
        ::_exit(0);
    }
    const ChildGuard guard{writer};
    const std::string copy = Path("copy.qdb");
    for (int round = 0; round < 40; ++round) {
        BackupDatabase(name, copy);
        const std::string bytes = ReadFile(copy);
        const int32_t dataLength = LoadInt32(bytes.data() + 4);
        std::vector<TStoredBlock> blocks;
        ASSERT_TRUE(ReadStoredBlocks(std::string_view(bytes).substr(16 + size_t(dataLength)), dataLength, blocks));
        EXPECT_TRUE(TUsedParts(blocks).CoverAll(dataLength)) << "unused bytes in the copy";

        TQDB db;
        db.SetReadOnly(true);
        db.SetFileName(copy);
        // The writer adds keys in ascending order: the copy holds a prefix.
        const int count = db.Count();
        ASSERT_GE(count, 3000);
        for (int i = 0; i < count; i += 97) {
            ASSERT_TRUE(db.FindKey(Key(i))) << i;
            const std::string data = db.GetItem();
            ASSERT_TRUE(data == Data(i) || data == Data(i) + "changed") << i;
        }
        ASSERT_TRUE(db.FindKey(Key(count - 1)));
        EXPECT_EQ(db.GetItem(), Data(count - 1));
    }
    EXPECT_THROW(BackupDatabase(Path("missing.qdb"), copy), EQDBFileError);
}
