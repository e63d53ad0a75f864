// Buffered stream, cipher, temporary files and the database file layout.
#include "qdb/bf_stream.h"
#include "qdb/database_file.h"
#include "qdb/file_routines.h"
#include "qdb/protection.h"
#include "qdb/qdb_error.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>

using namespace qdb;

namespace {
std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Int32(int32_t v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s.push_back(char((uint32_t(v) >> (8 * i)) & 0xFF));
    return s;
}

int CountFiles(const std::string& folder)
{
    int n = 0;
    DIR* d = opendir(folder.c_str());
    while (dirent* e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

// Runs each test with its own temporary folder for working files.
class QdbStorage : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp = dir.path().toStdString() + "/tmp";
        mkdir(temp.c_str(), 0700);
        TempFolder = temp;
    }
    void TearDown() override { TempFolder.clear(); }
    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }

    QTemporaryDir dir;
    std::string temp;
};
} // namespace

TEST_F(QdbStorage, StreamTextsStraddleTheBuffer)
{
    const std::string file = Path("stream");
    const std::string longText(255, 'k');
    {
        TBFStream out(file, 1024, TBFStream::Mode::Create);
        EXPECT_EQ(out.Limit(), 1023);
        // Exactly limit bytes fill the buffer; the next write flushes it first.
        for (int i = 0; i < 255; ++i)
            out.WriteInt32(i);
        out.WriteText("ab");
        out.WriteInt32(-7);
        out.WriteText(longText);
        for (int i = 0; i < 300; ++i)
            out.WriteText(std::to_string(i));
        out.Finish();
    }
    EXPECT_EQ(ReadFile(file).substr(1023, 4), Int32(-7));
    TBFStream in(file, 1024, TBFStream::Mode::ReadWrite);
    std::string text;
    int32_t value = 0;
    for (int i = 0; i < 255; ++i) {
        ASSERT_TRUE(in.ReadInt32(value));
        ASSERT_EQ(value, i);
    }
    ASSERT_TRUE(in.ReadText(text));
    EXPECT_EQ(text, "ab");
    ASSERT_TRUE(in.ReadInt32(value));
    EXPECT_EQ(value, -7);
    ASSERT_TRUE(in.ReadText(text));
    EXPECT_EQ(text, longText);
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(in.ReadText(text));
        ASSERT_EQ(text, std::to_string(i));
    }
    EXPECT_FALSE(in.ReadText(text));
    EXPECT_FALSE(in.ReadInt32(value));
}

TEST_F(QdbStorage, StreamRejectsOverlongAndUnterminatedTexts)
{
    const std::string file = Path("bad");
    WriteFile(file, std::string(300, 'x') + '\0' + std::string(2000, 'y'));
    TBFStream in(file, 1024, TBFStream::Mode::Read);
    std::string text;
    EXPECT_FALSE(in.ReadText(text));
    TBFStream again(file, 1024, TBFStream::Mode::Read);
    again.Seek(301);
    EXPECT_FALSE(again.ReadText(text));
}

TEST_F(QdbStorage, TempStreamMovesOverTargetOnlyOnCommit)
{
    const std::string target = Path("target");
    WriteFile(target, "old");
    {
        TTempBFStream s(target);
        s.WriteText("abandoned");
    }
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(CountFiles(temp), 0);
    {
        TTempBFStream s(target);
        EXPECT_NE(s.FileName().find("/QDT"), std::string::npos);
        s.WriteText("new");
        s.Commit();
    }
    EXPECT_EQ(ReadFile(target), std::string("new\0", 4));
    EXPECT_EQ(CountFiles(temp), 0);
}

TEST_F(QdbStorage, TempNamesUsePrefixAndFolder)
{
    const std::string name = TempFileName("QDD");
    EXPECT_EQ(name.rfind(temp + "/QDD", 0), 0u);
    EXPECT_TRUE(FileExists(name));
    EXPECT_NE(TempFileName("QDD"), name);
    TempFolder = Path("missing");
    EXPECT_EQ(TempDirectory().find(Path("missing")), std::string::npos);
}

TEST_F(QdbStorage, MoveOverAcrossFileSystemsCopies)
{
    // /dev/shm is normally another file system than the test folder.
    const std::string source = "/dev/shm/qdb-move-test";
    WriteFile(source, "payload");
    const std::string target = Path("moved");
    WriteFile(target, "previous");
    MoveFileOver(source, target);
    EXPECT_EQ(ReadFile(target), "payload");
    EXPECT_FALSE(FileExists(source));
    EXPECT_THROW(MoveFileOver(Path("none"), Path("x/y")), EQDBFileError);
}

TEST(QdbCipher, ChunkSizesAndStates)
{
    EXPECT_EQ(ChunkSize(0), 1024);
    EXPECT_EQ(ChunkSize(1023), 1024);
    EXPECT_EQ(ChunkSize(524288), 524288);
    EXPECT_EQ(ChunkSize(524289), 524288);

    const PasswordKey key = DerivePasswordKey("secret");
    ASSERT_EQ(key.key.size(), 20u);
    // SHA-1("abc") pins the digest byte order.
    EXPECT_EQ(QByteArray::fromStdString(DerivePasswordKey("abc").key).toHex(),
              "a9993e364706816aba3e25717850c26c9cd0d89d");
    uint32_t seed = 0;
    for (int i = 0; i < 5; ++i) {
        uint32_t w = 0;
        for (int k = 3; k >= 0; --k)
            w = w << 8 | uint8_t(key.key[size_t(4 * i + k)]);
        seed ^= w;
    }
    EXPECT_EQ(key.seed, seed);

    // One byte: XORed with the low byte of the first state after the seed.
    char one = 0x5A;
    CipherChunk(&one, 1, key.seed);
    EXPECT_EQ(uint8_t(one), uint8_t(0x5A ^ ((key.seed * 1664525u + 1013904223u) & 0xFF)));

    std::string data(1027, 'd');
    const std::string original = data;
    CipherChunk(data.data(), data.size(), 42);
    EXPECT_NE(data, original);
    const uint32_t first = 42u * 1664525u + 1013904223u;
    EXPECT_EQ(uint8_t(data[0]), uint8_t('d' ^ (first & 0xFF)));
    EXPECT_EQ(uint8_t(data[3]), uint8_t('d' ^ (first >> 24)));
    CipherChunk(data.data(), data.size(), 42);
    EXPECT_EQ(data, original);
}

TEST_F(QdbStorage, TemplateUnpacksAndPacks)
{
    const std::string db = Path("new.qdb");
    WriteTemplate(db);
    const std::string bytes = ReadFile(db);
    EXPECT_EQ(bytes, std::string("QDB\0", 4) + Int32(0) + std::string("QIX\0", 4) + Int32(5) + Int32(0) + '\0');
    EXPECT_EQ(bytes.size(), 21u);
    EXPECT_THROW(WriteTemplate(db), EQDBFileError);

    std::string password;
    const WorkingFiles files = UnpackDatabase(db, password, {});
    EXPECT_EQ(ReadFile(files.data), "");
    EXPECT_EQ(ReadFile(files.index), Int32(0) + '\0');
    EXPECT_EQ(files.index.substr(files.index.rfind('/') + 1, 3), "QIX");
    PackDatabase(db, files, "", db);
    EXPECT_EQ(ReadFile(db), bytes);
    RemoveWorkingFiles(files);
    EXPECT_EQ(CountFiles(temp), 0);
}

TEST_F(QdbStorage, ProtectedRoundTripsOverChunkBoundaries)
{
    std::mt19937 rng(9);
    for (const size_t size : {size_t(0), size_t(1023), size_t(524288), size_t(524289), size_t(1100000)}) {
        std::string data(size, '\0');
        for (auto& c : data)
            c = char(rng());
        const WorkingFiles files = CreateWorkingFiles();
        WriteFile(files.data, data);
        WriteFile(files.index, Int32(0));
        const std::string db = Path("p.qdb");
        PackDatabase(db, files, "pw", db);
        RemoveWorkingFiles(files);

        const std::string packed = ReadFile(db);
        ASSERT_EQ(packed.substr(0, 8), std::string("QDB\0QPW\0", 8));
        EXPECT_EQ(packed.substr(8, 20), DerivePasswordKey("pw").check);
        EXPECT_EQ(packed.substr(28, 4), Int32(int32_t(size)));
        // Each chunk is enciphered from the seed again.
        std::string expected = data;
        for (size_t at = 0; at < size; at += size_t(ChunkSize(int64_t(size))))
            CipherChunk(expected.data() + at, std::min(size - at, size_t(ChunkSize(int64_t(size)))),
                        DerivePasswordKey("pw").seed);
        EXPECT_TRUE(packed.compare(32, size, expected) == 0);

        std::string wrong = "nope";
        EXPECT_THROW(UnpackDatabase(db, wrong, {}), EQDBInvalidPW);
        EXPECT_EQ(CountFiles(temp), 0);
        std::string asked;
        int asks = 0;
        const WorkingFiles back = UnpackDatabase(db, asked, [&](std::string& p) { ++asks; p = "pw"; });
        EXPECT_EQ(asks, 1);
        EXPECT_EQ(ReadFile(back.data), data);
        EXPECT_EQ(ReadFile(back.index), Int32(0));
        RemoveWorkingFiles(back);
    }
}

TEST_F(QdbStorage, DamagedFilesFailCleanly)
{
    const std::string db = Path("bad.qdb");
    const std::string good = std::string("QDB\0", 4) + Int32(3) + "abc" + std::string("QIX\0", 4) + Int32(4) + Int32(0);
    std::vector<std::string> cases;
    for (size_t cut = 0; cut < good.size(); ++cut)
        cases.push_back(good.substr(0, cut));
    cases.push_back(std::string("QDBx", 4) + good.substr(4));
    cases.push_back(std::string("QDB\0", 4) + Int32(1000) + good.substr(8));
    cases.push_back(std::string("QDB\0", 4) + Int32(-1) + good.substr(8));
    cases.push_back(good.substr(0, 15) + Int32(9999));
    cases.push_back(good.substr(0, 11) + "QIY" + good.substr(14));
    cases.push_back(std::string("QDB\0QPW\0", 8) + "short");
    for (const std::string& bytes : cases) {
        WriteFile(db, bytes);
        std::string password = "x";
        try {
            UnpackDatabase(db, password, {});
            ADD_FAILURE() << "accepted " << bytes.size() << " bytes";
        } catch (const EQDBFileError& e) {
            EXPECT_EQ(std::string(e.what()), "The file " + db + " is not a valid QDB file");
        } catch (const EQDBInvalidPW&) {
            EXPECT_EQ(bytes.substr(4, 4), std::string("QPW\0", 4));
        }
        EXPECT_EQ(CountFiles(temp), 0);
        EXPECT_EQ(ReadFile(db), bytes);
    }
    WriteFile(db, good + "trailing bytes are ignored");
    std::string password;
    RemoveWorkingFiles(UnpackDatabase(db, password, {}));
}

TEST_F(QdbStorage, FileErrorsMapErrno)
{
    EXPECT_EQ(FileErrorCode(ENOENT), -2);
    EXPECT_EQ(FileErrorCode(EMFILE), -4);
    EXPECT_EQ(FileErrorCode(EWOULDBLOCK), -5);
    EXPECT_EQ(FileErrorCode(ENOSPC), -101);
    try {
        RaiseFileError(-2, "", "/x/faxes.qdb");
    } catch (const EQDBFileError& e) {
        EXPECT_STREQ(e.what(), "Could not find the file /x/faxes.qdb");
    }
    try {
        RaiseFileError(-1017, "", "/x/faxes.qdb");
    } catch (const EQDBFileError& e) {
        EXPECT_STREQ(e.what(), "Unidentified problem -  -1017");
    }
    std::string password;
    EXPECT_THROW(UnpackDatabase(Path("absent.qdb"), password, {}), EQDBFileError);
}
