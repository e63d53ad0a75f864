// The engine's operations on real database files.
#include "qdb/qdb.h"
#include "qdb_fixture.h"

#include <QBuffer>
#include <algorithm>
#include <list>

#include <map>
#include <random>

using namespace qdb;

namespace {
using qdb_bytes::Int32;

std::vector<std::string> Keys(TQDB& db)
{
    std::vector<std::string> keys;
    if (db.Count() == 0)
        return keys;
    db.First();
    keys.push_back(db.Key());
    while (!db.Eof()) {
        db.Next();
        if (!db.Eof() || keys.back() != db.Key())
            keys.push_back(db.Key());
    }
    return keys;
}

class QdbEngine : public QdbFolder {
protected:
    // Opening `bytes` as `name` fails with an index error carrying `message`,
    // leaves the database closed, no working file behind and the file as it was.
    void ExpectRefusedByIndex(const std::string& name, const std::string& bytes, const char* message)
    {
        WriteFile(name, bytes);
        TQDB db;
        try {
            db.SetFileName(name);
            ADD_FAILURE() << "opened";
        } catch (const EQDBIndexError& e) {
            EXPECT_EQ(e.what(), Format(message, name));
        } catch (const std::exception& e) {
            ADD_FAILURE() << "wrong class: " << e.what();
        }
        EXPECT_FALSE(db.Ready());
        EXPECT_EQ(db.FileName(), "");
        EXPECT_EQ(WorkingFileCount(), 0);
        EXPECT_EQ(ReadFile(name), bytes);
    }
};
} // namespace

TEST_F(QdbEngine, FileNameExpansionAndSameFile)
{
    TQDB db;
    int assigned = 0;
    db.OnFileAssigned = [&](TQDB*) { ++assigned; };
    db.SetFileName(Path("cat"));
    EXPECT_EQ(db.FileName(), Path("cat.QDB"));
    EXPECT_TRUE(db.Ready());
    EXPECT_EQ(db.Count(), 0);
    EXPECT_EQ(assigned, 1);
    db.AddItem("x", "k");
    // Another spelling of the same file changes nothing (no close, no reopen).
    db.SetFileName(Path("tmp/../cat.QDB"));
    db.SetFileName(Path("cat"));
    EXPECT_EQ(assigned, 1);
    EXPECT_TRUE(db.Modified());
    db.SetFileName("");
    EXPECT_FALSE(db.Ready());
    EXPECT_EQ(assigned, 2);
    EXPECT_EQ(WorkingFileCount(), 0);
}

TEST_F(QdbEngine, NewDatabaseFormat)
{
    const std::string name = Path("faxes.qdb");
    {
        TQDB db;
        int warned = 0;
        db.WarnNoData = [&](TQDB*) { ++warned; };
        db.SetFileName(name);
        EXPECT_EQ(ReadFile(name).size(), 21u);
        // A plain file is read in place: nothing is copied until a change.
        EXPECT_EQ(WorkingFileCount(), 0);
        db.First();
        EXPECT_EQ(warned, 1);
        EXPECT_EQ(db.AdminCount(), 0);
        EXPECT_THROW(db.GetAdminString("QF.0000"), EQDBBadKey);
    }
    // Closed unchanged: signature, D = 0, index marker, X = 4, count 0.
    EXPECT_EQ(ReadFile(name), std::string("QDB\0", 4) + Int32(0) + std::string("QIX\0", 4) + Int32(4) + Int32(0));
    EXPECT_EQ(WorkingFileCount(), 0);

    TQDB db;
    db.SetFileName(name);
    EXPECT_THROW(db.First(), EQDBNoData);
    try {
        db.GetItem();
    } catch (const EQDBNoData& e) {
        EXPECT_EQ(std::string(e.what()), "File " + name + " is empty");
    }
}

TEST_F(QdbEngine, ItemLayoutOnDisk)
{
    const std::string name = Path("layout.qdb");
    {
        TQDB db;
        db.SetFileName(name);
        db.AddItem("one", "b");
        db.AddItem("", "a");
        db.SetAdminString("QF.0000", "f");
        db.SetCompression(true);
        db.AddItem(std::string(20, 'z'), "c");
    }
    const std::string data = "one" + std::string("f\0", 2) + std::string("\x07\x00\x40\x80\x00\x00\x00\x04z", 9);
    std::string index = Int32(4);
    index += std::string("QF.0000\0", 8) + Int32(3) + Int32(2) + Int32(1);
    index += std::string("c\0", 2) + Int32(5) + Int32(9) + Int32(2);
    index += std::string("b\0", 2) + Int32(0) + Int32(3) + Int32(0);
    index += std::string("a\0", 2) + Int32(3) + Int32(0) + Int32(0);
    EXPECT_EQ(ReadFile(name), std::string("QDB\0", 4) + Int32(int32_t(data.size())) + data + std::string("QIX\0", 4) +
                                  Int32(int32_t(index.size())) + index);

    TQDB db;
    db.SetFileName(name);
    EXPECT_EQ(Keys(db), (std::vector<std::string>{"a", "b", "c"}));
    db.First();
    EXPECT_EQ(db.GetItem(), "");
    db.Last();
    EXPECT_EQ(db.GetItem(), std::string(20, 'z'));
    EXPECT_EQ(db.GetAdminString("QF.0000"), "f");
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    ASSERT_TRUE(db.FindKey("B"));
    db.GetItem(buffer);
    EXPECT_EQ(buffer.pos(), 0);
    EXPECT_EQ(buffer.data(), "one");
}

TEST_F(QdbEngine, DuplicatesChangesAndDeletes)
{
    TQDB db;
    db.SetFileName(Path("d.qdb"));
    db.AddItem("1", "faxes\\A.apf");
    EXPECT_THROW(db.AddItem("2", "FAXES\\a.APF"), EQDBIndexError);
    try {
        db.AddItem("2", "faxes\\a.apf");
    } catch (const EQDBIndexError& e) {
        EXPECT_STREQ(e.what(), "Duplicate keys are not allowed");
    }
    EXPECT_EQ(db.Count(), 1);
    db.AddItem("22", "b");
    db.AddItem("333", "c");

    // Smaller data stays in place; larger moves to the end.
    ASSERT_TRUE(db.FindKey("b"));
    const std::string before = ReadFile(db.FileName());
    db.ChangeItem("x");
    db.ChangeItem("a much longer value");
    db.SetCacheSize(65536);
    EXPECT_EQ(db.GetItem(), "a much longer value");
    db.Flush();
    const std::string after = ReadFile(db.FileName());
    EXPECT_NE(after.find(std::string("x2333a much longer value")), std::string::npos);

    // Deleting the first leaves index 0 on the next item with an empty key.
    db.First();
    db.Delete();
    EXPECT_EQ(db.ItemIndex(), 0);
    EXPECT_EQ(db.Key(), "");
    EXPECT_EQ(db.GetItem(), "333");
    db.Last();
    db.Delete();
    EXPECT_EQ(db.Key(), "c");
    db.Next();
    EXPECT_TRUE(db.Eof());
    EXPECT_EQ(db.Key(), "c");
}

TEST_F(QdbEngine, NavigationFiltersAndButtons)
{
    TQDB db;
    db.SetFileName(Path("n.qdb"));
    for (const char* k : {"apple", "banana", "cherry", "apricot"})
        db.AddItem(k, k);
    db.First();
    EXPECT_TRUE(db.Bof());
    EXPECT_EQ(db.Key(), "apple");
    db.Last();
    EXPECT_TRUE(db.Eof());
    db.Next();
    EXPECT_TRUE(db.Eof());
    EXPECT_EQ(db.Key(), "cherry");

    db.SetFilter("ap>");
    db.First();
    EXPECT_EQ(db.Key(), "apple");
    db.Next();
    EXPECT_EQ(db.Key(), "apricot");
    db.Next();
    EXPECT_TRUE(db.Eof());
    EXPECT_EQ(db.Key(), "apricot");
    db.SetAggressiveUpdate(true);
    db.Prev();
    EXPECT_TRUE(db.Bof());

    db.SetFilter("zzz");
    EXPECT_THROW(db.First(), EQDBOutOfBounds);
    int outOfBounds = 0;
    db.WarnOutOfBounds = [&](TQDB*) { ++outOfBounds; };
    db.Last();
    EXPECT_EQ(outOfBounds, 1);
    // FindKey ignores the filter.
    EXPECT_TRUE(db.FindKey("banana"));
    db.SetFilter("");

    struct Recorder : TQDBNavigator {
        TNavigatorButtons last{};
        void UpdateButtons(const TNavigatorButtons& b) override { last = b; }
    } nav;
    db.SetNavigator(&nav);
    db.First();
    EXPECT_FALSE(nav.last[0].enabled);
    EXPECT_TRUE(nav.last[2].enabled);
    EXPECT_TRUE(nav.last[6].enabled);
    EXPECT_FALSE(nav.last[7].enabled);
    EXPECT_STREQ(nav.last[4].hint, "Insert Item");
    db.Insert();
    EXPECT_FALSE(nav.last[4].enabled);
    EXPECT_TRUE(nav.last[7].enabled);
    db.Post();
    EXPECT_FALSE(db.Inserting());
    db.SetReadOnly(true);
    EXPECT_FALSE(nav.last[5].enabled);
    EXPECT_THROW(db.AddItem("x", "y"), EQDBReadOnly);
    int ro = 0;
    db.WarnReadOnly = [&](TQDB*) { ++ro; };
    db.Delete();
    EXPECT_EQ(ro, 1);
    EXPECT_EQ(db.Count(), 4);
    db.SetNavigator(nullptr);
}

TEST_F(QdbEngine, EventsAndProgress)
{
    TQDB db;
    std::vector<std::string> seen;
    db.OnAdded = [&](TQDB*) { seen.push_back("added"); };
    db.OnNavigate = [&](TQDB* s) { seen.push_back("nav " + s->Key()); };
    db.OnChanged = [&](TQDB*) { seen.push_back("changed"); };
    db.OnDeleted = [&](TQDB*) { seen.push_back("deleted"); };
    db.OnFound = [&](TQDB*) { seen.push_back("found"); };
    db.BeforeDelete = [&](TQDB*) { seen.push_back("before delete"); };
    db.AfterDelete = [&](TQDB*) { seen.push_back("after delete"); };
    std::vector<std::pair<int, TProgressOrigin>> progress;
    db.ProgressUpdate = [&](TQDB*, int percent, TProgressOrigin kind) { progress.emplace_back(percent, kind); };
    db.SetFileName(Path("e.qdb"));
    db.AddItem("1", "k1");
    db.ChangeItem("2");
    db.FindKey("k1");
    db.Delete();
    EXPECT_EQ(seen, (std::vector<std::string>{"added", "nav k1", "changed", "nav k1", "found", "before delete",
                                              "deleted", "after delete"}));
    for (int i = 0; i < 25; ++i)
        db.AddItem("v", "key" + std::to_string(i));
    progress.clear();
    db.Flush();
    // 25 entries: step 3, reports at 0, 3, ..., 24 and the end as 0.
    ASSERT_EQ(progress.size(), 10u);
    EXPECT_EQ(progress[1], std::make_pair(10, TProgressOrigin::Flush));
    EXPECT_EQ(progress.back(), std::make_pair(0, TProgressOrigin::Flush));
    progress.clear();
    db.Flush();
    EXPECT_TRUE(progress.empty());
    db.SetFileName("");
    EXPECT_EQ(progress.back(), std::make_pair(0, TProgressOrigin::Close));
}

TEST_F(QdbEngine, CacheFigures)
{
    TQDB db;
    db.SetFileName(Path("c.qdb"));
    db.SetCacheSize(100);
    EXPECT_EQ(db.CacheFrequency(), 0);
    db.AddItem(std::string(100, 'a'), "big"); // as large as the capacity: never cached
    db.AddItem(std::string(60, 'b'), "b");    // lookup 1
    db.AddItem(std::string(30, 'c'), "c");    // lookup 2
    db.FindKey("c");
    db.GetItem(); // hit: 3 lookups, 1 hit
    EXPECT_EQ(db.CacheFrequency(), 33);
    db.FindKey("big");
    db.GetItem();
    db.FindKey("c");
    db.GetItem();
    db.FindKey("b");
    db.GetItem(); // hit
    EXPECT_EQ(db.CacheFrequency(), 60); // 3 of 5: the uncacheable item counts no lookup
    db.AddItem(std::string(50, 'd'), "d"); // evicts c (older stamp) then b
    EXPECT_EQ(db.CacheEvictions(), 2u);
    db.SetCacheFrequency(0);
    EXPECT_EQ(db.CacheFrequency(), 0);
    EXPECT_EQ(db.CacheEvictions(), 0u);
}

// Random offers, lookups and drops on a small cache behave like a plain
// least-recently-used list: same hits, same data, same evictions.
TEST(QdbCache, MatchesAPlainLruList)
{
    std::mt19937 rng(7);
    TCacheList cache;
    cache.SetCapacity(3000);
    std::list<std::pair<std::string, std::string>> model; // oldest first
    int64_t held = 0;
    uint32_t evictions = 0;
    for (int step = 0; step < 20000; ++step) {
        const std::string key = "fax" + std::to_string(rng() % 300);
        const auto inModel = std::find_if(model.begin(), model.end(), [&](const auto& e) { return e.first == key; });
        const unsigned op = rng() % 3;
        if (op == 0) {
            const std::string data(rng() % 200, char('a' + step % 26));
            cache.Offer(key, data);
            if (int64_t(data.size()) < 3000) {
                while (!model.empty() && int64_t(data.size()) + held > 3000) {
                    held -= int64_t(model.front().second.size());
                    model.pop_front();
                    ++evictions;
                }
                if (std::none_of(model.begin(), model.end(), [&](const auto& e) { return e.first == key; })) {
                    model.emplace_back(key, data);
                    held += int64_t(data.size());
                }
            }
        } else if (op == 1) {
            std::string data;
            ASSERT_EQ(cache.Lookup(key, data), inModel != model.end()) << step;
            if (inModel != model.end()) {
                ASSERT_EQ(data, inModel->second) << step;
                model.splice(model.end(), model, inModel);
            }
        } else {
            cache.Drop(key);
            if (inModel != model.end()) {
                held -= int64_t(inModel->second.size());
                model.erase(inModel);
            }
        }
        ASSERT_EQ(cache.Count(), int32_t(model.size())) << step;
        ASSERT_EQ(cache.BytesHeld(), held) << step;
    }
    EXPECT_EQ(cache.Evictions(), evictions);
}

TEST_F(QdbEngine, CaseSensitiveDatabases)
{
    const std::string name = Path("cs.qdb");
    {
        TQDB db;
        db.SetFileName(name);
        db.AddAdminItem("\x01", 1, "QDBCaseSensitive");
    }
    TQDB db;
    db.SetFileName(name);
    EXPECT_TRUE(db.CaseSensitive());
    EXPECT_TRUE(db.AdminItemIsTrue("qdbcasesensitive"));
    db.AddItem("1", "abc");
    db.AddItem("2", "ABC");
    db.SetFilter("A>");
    db.First();
    EXPECT_EQ(db.Key(), "ABC");
    db.SetFileName("");
    db.SetFileName(name);
    EXPECT_EQ(db.Count(), 2);
    EXPECT_FALSE(db.FindKey("Abc"));
    ASSERT_TRUE(db.FindKey("abc"));
    EXPECT_EQ(db.GetItem(), "1");
}

TEST_F(QdbEngine, AdministrativeItems)
{
    TQDB db;
    EXPECT_THROW(db.AddAdminItem("x", 1, "k"), EQDBNoFile);
    db.SetFileName(Path("a.qdb"));
    db.SetAdminString("QF.0001", "second");
    db.SetAdminString("QF.0000", "first");
    db.SetAdminString("Other", "o");
    db.SetAdminString("qf.0000", "changed to a longer text");
    EXPECT_EQ(db.GetAdminString("QF.0000"), "changed to a longer text");
    std::vector<std::string> keys;
    EXPECT_EQ(db.ListAdminKeys(keys, "QF."), 2);
    EXPECT_EQ(keys, (std::vector<std::string>{"QF.0000", "QF.0001"}));
    EXPECT_FALSE(db.AdminItemIsTrue("Other"));
    db.DeleteAdminItems("QF.");
    EXPECT_EQ(db.AdminCount(), 1);
    try {
        db.DeleteAdminItem("QF.0001");
    } catch (const EQDBBadKey& e) {
        EXPECT_STREQ(e.what(), "The key 'QF.0001' does not exist");
    }
    EXPECT_EQ(db.Count(), 0);
    db.Flush();
    db.SetFileName("");
    db.SetFileName(Path("a.qdb"));
    EXPECT_EQ(db.GetAdminString("Other"), "o");
}

TEST_F(QdbEngine, PasswordProtection)
{
    const std::string name = Path("p.qdb");
    {
        TQDB db;
        db.SetFileName(name);
        db.SetPassword("sesame");
        db.AddItem("secret fax", "k");
    }
    EXPECT_EQ(ReadFile(name).substr(4, 4), std::string("QPW\0", 4));
    EXPECT_EQ(ReadFile(name).find("secret fax"), std::string::npos);

    TQDB db;
    db.OnDemandPassword = [](TQDB*, std::string& p) { p = "wrong"; };
    try {
        db.SetFileName(name);
        ADD_FAILURE();
    } catch (const EQDBInvalidPW& e) {
        EXPECT_STREQ(e.what(), "The password you have provided is invalid");
    }
    EXPECT_EQ(db.FileName(), "");
    EXPECT_EQ(WorkingFileCount(), 0);
    db.OnDemandPassword = [](TQDB*, std::string& p) { p = "sesame"; };
    db.SetFileName(name);
    db.First();
    EXPECT_EQ(db.GetItem(), "secret fax");
    // An empty password never protects.
    db.SetPassword("");
    db.AddItem("open", "k2");
    db.SetFileName("");
    EXPECT_EQ(ReadFile(name).substr(4, 4), Int32(int32_t(ReadFile(name).find("QIX") - 8)));

    // Protecting a plain file after adding to it: the items read in place and
    // the new one are enciphered in chunks that run across both.
    const std::string large(600000, 'x');
    db.OnDemandPassword = nullptr;
    db.SetFileName(name);
    db.AddItem(large, "k3");
    db.SetPassword("again");
    db.SetFileName("");
    EXPECT_EQ(ReadFile(name).find(std::string(1000, 'x')), std::string::npos);
    db.OnDemandPassword = [](TQDB*, std::string& p) { p = "again"; };
    db.SetFileName(name);
    const std::map<std::string, std::string> expected{{"k", "secret fax"}, {"k2", "open"}, {"k3", large}};
    ASSERT_EQ(db.Count(), 3);
    for (const auto& [key, data] : expected) {
        ASSERT_TRUE(db.FindKey(key));
        EXPECT_EQ(db.GetItem(), data) << key;
    }
}

TEST_F(QdbEngine, ReadOnlyAttribute)
{
    const std::string name = Path("ro.qdb");
    {
        TQDB db;
        db.SetFileName(name);
        db.AddItem("v", "k");
    }
    chmod(name.c_str(), 0444);
    const std::string before = ReadFile(name);
    {
        TQDB db;
        db.SetFileName(name);
        EXPECT_TRUE(db.ReadOnly());
        EXPECT_THROW(db.ChangeItem("w"), EQDBReadOnly);
        db.Flush();
        db.SetFileName("");
        EXPECT_FALSE(db.ReadOnly());
    }
    EXPECT_EQ(ReadFile(name), before);
    EXPECT_EQ(WorkingFileCount(), 0);
}

TEST_F(QdbEngine, ChangedByAnotherWriter)
{
    const std::string name = Path("shared.qdb");
    TQDB first, second;
    first.SetFileName(name);
    second.SetFileName(name);
    first.AddItem("from first", "a");
    first.SetFileName("");
    const std::string firstFile = ReadFile(name);
    second.AddItem("from second", "b");
    bool asked = false;
    second.BeforeOverWrite = [&](TQDB*, bool& ok) { asked = !ok; };
    second.Flush();
    EXPECT_TRUE(asked);
    EXPECT_EQ(second.FileName(), Path("1.shared.qdb"));
    second.AddItem("more", "c");
    second.SetFileName("");
    EXPECT_EQ(ReadFile(name), firstFile);

    // A third copy lands under "1.1.".
    TQDB third, fourth;
    third.SetFileName(name);
    fourth.SetFileName(name);
    third.AddItem("x", "x");
    third.SetFileName("");
    fourth.AddItem("y", "y");
    fourth.SetFileName("");
    EXPECT_TRUE(FileExists(Path("1.1.shared.qdb")));

    // Answering yes overwrites.
    TQDB fifth, sixth;
    fifth.SetFileName(name);
    sixth.SetFileName(name);
    fifth.AddItem("z", "z");
    fifth.SetFileName("");
    sixth.BeforeOverWrite = [](TQDB*, bool& ok) { ok = true; };
    sixth.AddItem("w", "w");
    sixth.SetFileName("");
    TQDB check;
    check.SetFileName(name);
    EXPECT_TRUE(check.FindKey("w"));
    EXPECT_FALSE(check.FindKey("z"));
}

TEST_F(QdbEngine, CorruptIndexesFailCleanly)
{
    const std::string name = Path("bad.qdb");
    const auto file = qdb_bytes::File;
    const auto entry = qdb_bytes::Entry;
    const char* notValid = msg::NotValid;
    const char* noIndex = msg::IndexMemory;
    const std::vector<std::pair<std::string, const char*>> cases{
        {file("abc", Int32(2) + entry("b", 0, 1, 0)), notValid},                       // count past the entries
        {file("abc", Int32(1) + entry("b", 2, 5, 0)), notValid},                       // size past the data
        {file("abc", Int32(1) + entry("b", -1, 1, 0)), notValid},                      // negative offset
        {file("abc", Int32(-3)), notValid},                                            // negative count
        {file("abc", Int32(1) + std::string(300, 'k') + '\0' + Int32(0) + Int32(0) + Int32(0)), notValid}, // key too long
        {file("abc", Int32(2) + entry("b", 0, 1, 0) + entry("B", 1, 1, 0)), notValid}, // equal keys
        {file("abc", Int32(2) + entry("Q", 0, 1, 1) + entry("q", 1, 1, 1)), noIndex},  // admin key twice
        {file("abc", Int32(1) + std::string(40, 'g')), notValid},                      // garbage
    };
    // Errors in the index are index errors, not file errors.
    for (const auto& [bytes, message] : cases)
        ExpectRefusedByIndex(name, bytes, message);
    // Compressed data that does not decode is reported on reading.
    WriteFile(name, file(std::string("\x04\x00\x40\x80\x00\x00", 6), Int32(1) + entry("k", 0, 6, 2)));
    TQDB db;
    db.SetFileName(name);
    db.First();
    EXPECT_THROW(db.GetItem(), EQDBIndexError);

    // An index in ascending order is sorted on load.
    WriteFile(name, file("abc", Int32(3) + entry("a", 0, 1, 0) + entry("c", 2, 1, 0) + entry("b", 1, 1, 0)));
    db.SetFileName("");
    db.SetFileName(name);
    EXPECT_EQ(Keys(db), (std::vector<std::string>{"a", "b", "c"}));
    ASSERT_TRUE(db.FindKey("c"));
    EXPECT_EQ(db.GetItem(), "c");
}

TEST_F(QdbEngine, CompressedItemsMayNotExpandFarBeyondTheFile)
{
    // One block of eight run codes: 37 bytes that decode to 32768 zeros.
    auto run = [](int count) {
        const int r = count - 16;
        return std::string{'\0', char(r >> 8), char(r & 0xFF), '\0'};
    };
    std::string body = std::string("\x40\xFF\x00", 3);
    for (int i = 0; i < 7; ++i)
        body += run(4111);
    body += run(32768 - 7 * 4111);
    const std::string block = std::string{char(body.size()), '\0'} + body;
    auto blocks = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += block;
        return s;
    };
    const std::string name = Path("bomb.qdb");
    const auto file = qdb_bytes::File;
    const auto entry = qdb_bytes::Entry;
    const int32_t bomb = int32_t(blocks(640).size());
    const int32_t small = int32_t(blocks(20).size());
    const std::vector<std::string> refused{
        // 20 MiB from a file of 24 KB.
        file(blocks(640), Int32(1) + entry("k", 0, bomb, FlagCompressed)),
        // Two entries over the same 640 KiB of runs: the work would double
        // with every further entry, the file would not grow.
        file(blocks(20), Int32(2) + entry("k2", 0, small, FlagCompressed) + entry("k1", 0, small, FlagCompressed)),
        // The same through administrative items.
        file(blocks(20), Int32(2) + entry("a2", 0, small, FlagCompressed | FlagAdmin) +
                             entry("a1", 0, small, FlagCompressed | FlagAdmin)),
    };
    for (const std::string& bytes : refused)
        ExpectRefusedByIndex(name, bytes, msg::NotValid);

    // What a file may hold: 640 KiB of runs in one entry, and the engine's
    // own compression of half a megabyte.
    WriteFile(name, file(blocks(20), Int32(1) + entry("k", 0, small, FlagCompressed)));
    TQDB db;
    db.SetFileName(name);
    db.First();
    EXPECT_EQ(db.GetItem(), std::string(20 * 32768, '\0'));
    db.SetCompression(true);
    const std::string zeros(512 * 1024, '\0');
    db.AddItem(zeros, "z");
    db.SetFileName("");
    db.SetFileName(name);
    ASSERT_TRUE(db.FindKey("z"));
    EXPECT_EQ(db.GetItem(), zeros);
}

// Random adds, changes (in place and moved), deletes and reads, with no cache
// or one too small to hide the data file, match a plain map, also after every flush
// and reopen. Reads see in-place changes of bytes read before, items larger
// than the read window, and items written since the last flush. After every
// flush, the file on disk read by a second engine holds the model too, whether
// the flush wrote into the file or, after an administrative item changed in
// place, assembled it anew.
TEST_F(QdbEngine, RandomWorkMatchesAModelAcrossReopens)
{
    std::mt19937 rng(26);
    std::map<std::string, std::string> model;
    const std::string name = Path("model.qdb");
    auto value = [&](int step) {
        const size_t size = rng() % 200 == 0 ? 70000 + rng() % 1000 : rng() % 600;
        return std::string(size, char('a' + step % 26)) + std::to_string(step);
    };
    for (int round = 0; round < 4; ++round) {
        TQDB db;
        db.SetFileName(name);
        db.SetCacheSize(round % 2 ? 256 : 0);
        ASSERT_EQ(db.Count(), int32_t(model.size()));
        for (int step = 0; step < 1500; ++step) {
            db.SetCompression(round % 2 == 0 && rng() % 4 == 0);
            const std::string key = "fax" + std::to_string(rng() % 400);
            const bool exists = model.count(key) > 0;
            const unsigned op = rng() % 10;
            if (!exists) {
                model[key] = value(step);
                db.AddItem(model[key], key);
            } else if (op < 3) {
                ASSERT_TRUE(db.FindKey(key));
                if (round % 2)
                    model[key] += value(step);
                else
                    model[key] = op < 2 ? model[key].substr(0, model[key].size() / 2) : value(step);
                db.ChangeItem(model[key]);
            } else if (op == 3) {
                ASSERT_TRUE(db.FindKey(key));
                db.Delete();
                model.erase(key);
            } else {
                ASSERT_TRUE(db.FindKey(key));
                ASSERT_EQ(db.GetItem(), model[key]) << key;
            }
            // An administrative item changed in place, in what the file
            // held when it was opened.
            if (step % 250 == 0)
                db.SetAdminString("Counter", std::to_string(100000 + round * 10000 + step));
            if (step % 100 == 99) {
                db.Flush();
                TQDB reader;
                reader.SetReadOnly(true);
                reader.SetFileName(name);
                ASSERT_EQ(reader.Count(), int32_t(model.size()));
                ASSERT_EQ(reader.GetAdminString("Counter"), std::to_string(100000 + round * 10000 + step / 250 * 250));
                for (const auto& [key, data] : model) {
                    ASSERT_TRUE(reader.FindKey(key));
                    ASSERT_EQ(reader.GetItem(), data) << key;
                }
            }
        }
        const std::string flushed = ReadFile(name);
        for (const auto& [key, data] : model) {
            ASSERT_TRUE(db.FindKey(key));
            ASSERT_EQ(db.GetItem(), data) << key;
        }
        db.SetFileName("");
        // The last flushes wrote into the file: old indexes lie in it, gaps
        // take at most two thirds of it beside the room kept for later
        // flushes, and closing writes the compact file.
        size_t indexes = 0;
        for (size_t at = flushed.find(std::string("QIX", 4)); at != std::string::npos;
             at = flushed.find(std::string("QIX", 4), at + 1))
            ++indexes;
        EXPECT_GT(indexes, 1u) << round;
        EXPECT_LE(flushed.size(), 3 * ReadFile(name).size() + 4 * 65536);
    }
}
