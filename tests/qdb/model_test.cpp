// Random operations on the engine compared with a std::map model, across
// flushes and reopenings, with compression on and off, and both case rules.
#include "qdb/qdb.h"
#include "qdb_fixture.h"

#include <map>
#include <random>

using namespace qdb;

namespace {
struct FoldedLess {
    bool caseSensitive;
    bool operator()(const std::string& a, const std::string& b) const { return CompareKeys(a, b, caseSensitive) < 0; }
};

class QdbModel : public QdbFolder, public ::testing::WithParamInterface<std::tuple<bool, bool>> {};
} // namespace

TEST_P(QdbModel, RandomOperationsMatchMap)
{
    const auto [compression, caseSensitive] = GetParam();
    const std::string name = Path("model.qdb");
    std::mt19937 rng(compression * 2 + caseSensitive + 1);
    std::map<std::string, std::string, FoldedLess> model(FoldedLess{caseSensitive});
    auto db = std::make_unique<TQDB>();
    db->SetFileName(name);
    if (caseSensitive) {
        db->AddAdminItem("\x01", 1, "QDBCaseSensitive");
        db->SetFileName("");
        db->SetFileName(name);
        ASSERT_TRUE(db->CaseSensitive());
    }
    db->SetCompression(compression);
    db->SetCacheSize(2000);

    auto randomKey = [&] {
        std::string key = "faxes\\";
        for (unsigned n = 1 + rng() % 3; n > 0; --n)
            key.push_back("aAbB1_"[rng() % 6]);
        return key;
    };
    auto randomData = [&] {
        std::string data(rng() % 3 == 0 ? rng() % 3000 : rng() % 60, '\0');
        for (auto& c : data)
            c = char(rng() % 3 ? 'x' : rng());
        return data;
    };
    auto checkCurrent = [&] {
        if (model.empty())
            return;
        const auto it = model.find(db->Key().empty() ? std::string() : db->Key());
        if (!db->Key().empty()) {
            ASSERT_NE(it, model.end());
            ASSERT_EQ(db->GetItem(), it->second);
        }
        ASSERT_EQ(std::next(model.begin(), db->ItemIndex())->second, db->GetItem());
    };

    for (int step = 0; step < 4000; ++step) {
        const unsigned op = rng() % 100;
        if (op < 35) {
            const std::string key = randomKey(), data = randomData();
            if (model.count(key)) {
                EXPECT_THROW(db->AddItem(data, key), EQDBIndexError);
            } else {
                db->AddItem(data, key);
                model[key] = data;
                ASSERT_EQ(db->Key(), key);
            }
        } else if (op < 55 && !model.empty()) {
            const std::string data = randomData();
            auto it = std::next(model.begin(), db->ItemIndex());
            db->ChangeItem(data);
            it->second = data;
        } else if (op < 68 && !model.empty()) {
            auto it = std::next(model.begin(), db->ItemIndex());
            model.erase(it);
            db->Delete();
        } else if (op < 82) {
            const std::string key = randomKey();
            const auto it = model.find(key);
            ASSERT_EQ(db->FindKey(key), it != model.end());
            if (it != model.end()) {
                ASSERT_EQ(db->ItemIndex(), std::distance(model.begin(), it));
            }
        } else if (op < 92 && !model.empty()) {
            switch (rng() % 4) {
            case 0: db->First(); break;
            case 1: db->Last(); break;
            case 2: db->Next(); break;
            default: db->Prev(); break;
            }
        } else if (op < 97) {
            db->Flush();
            ASSERT_FALSE(db->Modified());
        } else {
            if (rng() % 2) {
                db->SetFileName("");
            } else {
                // Reopen from what the last flush left on disk, as after a crash.
                db->Flush();
                db->SetSaveOnClose(false);
                db->SetFileName("");
                db->SetSaveOnClose(true);
            }
            db->SetFileName(name);
            db->SetCompression(compression);
            db->SetCacheSize(2000);
        }
        ASSERT_EQ(db->Count(), int32_t(model.size())) << "step " << step;
        checkCurrent();
    }
    db->SetFileName("");
    db->SetFileName(name);
    ASSERT_EQ(db->Count(), int32_t(model.size()));
    int32_t i = 0;
    for (const auto& [key, data] : model) {
        db->GoTo(i++);
        ASSERT_EQ(db->Key(), key);
        ASSERT_EQ(db->GetItem(), data);
    }
    db.reset();
    EXPECT_EQ(WorkingFileCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, QdbModel,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));
