// The two-level list and the sorted key lists, checked against std containers.
#include "qdb/qdb_error.h"
#include "qdb/string_list.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace qdb;

namespace {
void* Tag(intptr_t v) { return reinterpret_cast<void*>(v); }
intptr_t Value(void* p) { return reinterpret_cast<intptr_t>(p); }
} // namespace

TEST(QdbList, CapacityGrowsInPowersOfFour)
{
    TQDBList list;
    EXPECT_EQ(list.Capacity(), 4);
    EXPECT_EQ(list.BlockSize(), 2);
    for (int i = 0; i < 4; ++i)
        list.Insert(i, Tag(i));
    list.Insert(2, Tag(99));
    EXPECT_EQ(list.Capacity(), 16);
    EXPECT_EQ(list.BlockSize(), 4);
    const std::vector<intptr_t> expected{0, 1, 99, 2, 3};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Value(list.Get(i)), expected[size_t(i)]);

    EXPECT_THROW(list.SetCapacity(3), EQDBListError);
    EXPECT_THROW(list.SetCapacity(268402690), EQDBListError);
    list.SetCapacity(70000);
    EXPECT_EQ(list.Capacity(), 262144);
    EXPECT_EQ(list.BlockSize(), 512);
    EXPECT_EQ(Value(list.Get(4)), 3);

    while (list.Count() > 0)
        list.Delete(0);
    EXPECT_EQ(list.BlocksAllocated(), 0);
    EXPECT_EQ(list.Capacity(), 262144);
}

TEST(QdbList, RandomInsertsAndDeletesMatchVector)
{
    std::mt19937 rng(7);
    TQDBList list;
    std::vector<intptr_t> model;
    for (int step = 0; step < 20000; ++step) {
        const bool insert = model.empty() || rng() % 3 != 0;
        if (insert) {
            const int32_t at = int32_t(rng() % (model.size() + 1));
            list.Insert(at, Tag(step));
            model.insert(model.begin() + at, step);
        } else {
            const int32_t at = int32_t(rng() % model.size());
            list.Delete(at);
            model.erase(model.begin() + at);
        }
        ASSERT_EQ(list.Count(), int32_t(model.size()));
        ASSERT_EQ(list.BlocksAllocated(), model.empty() ? 0 : int32_t((model.size() - 1) / size_t(list.BlockSize()) + 1));
        if (step % 997 == 0) {
            for (size_t i = 0; i < model.size(); ++i)
                ASSERT_EQ(Value(list.Get(int32_t(i))), model[i]);
        }
    }
    for (size_t i = 0; i < model.size(); ++i)
        ASSERT_EQ(Value(list.Get(int32_t(i))), model[i]);
}

TEST(QdbKeyList, ComparisonIsFoldedByteOrder)
{
    EXPECT_EQ(CompareKeys("abc", "ABC", false), 0);
    EXPECT_LT(CompareKeys("abc", "abd", false), 0);
    EXPECT_LT(CompareKeys("ab", "abc", false), 0);
    // Letters fold to upper case, so "_" (0x5F) sorts after them.
    EXPECT_LT(CompareKeys("z", "_", false), 0);
    EXPECT_GT(CompareKeys("\xE9", "z", false), 0);
    // Case-sensitive: folded order first, raw bytes break the tie.
    EXPECT_LT(CompareKeys("ABC", "abc", true), 0);
    EXPECT_LT(CompareKeys("abc", "ABD", true), 0);
}

TEST(QdbKeyList, SortedAddFindDeleteMatchSet)
{
    std::mt19937 rng(11);
    TQDBStringList list;
    list.SetSorted(true);
    std::vector<std::string> model;
    auto less = [](const std::string& a, const std::string& b) { return CompareKeys(a, b, false) < 0; };
    for (int step = 0; step < 3000; ++step) {
        std::string key;
        for (unsigned n = 1 + rng() % 4; n > 0; --n)
            key.push_back("aBcD_"[rng() % 5]);
        const auto pos = std::lower_bound(model.begin(), model.end(), key, less);
        const bool present = pos != model.end() && CompareKeys(*pos, key, false) == 0;
        int32_t index = -1;
        ASSERT_EQ(list.Find(key, index), present);
        ASSERT_EQ(index, pos - model.begin());
        if (present && rng() % 2) {
            list.Delete(index);
            model.erase(pos);
        } else if (present) {
            EXPECT_THROW(list.Add(key, nullptr), EQDBListError);
        } else {
            ASSERT_EQ(list.Add(key, nullptr), index);
            model.insert(pos, key);
        }
    }
    ASSERT_EQ(list.Count(), int32_t(model.size()));
    for (size_t i = 0; i < model.size(); ++i)
        EXPECT_EQ(list.GetKey(int32_t(i)), model[i]);
}

TEST(QdbKeyList, CaseSwitchAndReverse)
{
    TQDBStringList list;
    for (const char* k : {"d", "C", "c", "b", "A"})
        list.Add(k, nullptr);
    list.ReverseAndSort();
    EXPECT_TRUE(list.Sorted());
    EXPECT_EQ(list.GetKey(0), "A");
    EXPECT_EQ(list.GetKey(4), "d");

    // Switching a case-sensitive list to ignoring case drops the later of two
    // neighbours that differ only in case.
    TIndexList index;
    index.SetCaseSensitive(true);
    index.SetSorted(true);
    for (const char* k : {"abc", "ABC", "b", "Xy", "xy", "z"})
        index.Add(k, index.MakeIndex({}));
    index.SetCaseSensitive(false);
    ASSERT_EQ(index.Count(), 4);
    EXPECT_EQ(index.GetKey(0), "ABC");
    EXPECT_EQ(index.GetKey(1), "b");
    EXPECT_EQ(index.GetKey(2), "Xy");
    EXPECT_EQ(index.GetKey(3), "z");
    EXPECT_THROW(index.Add("Z", nullptr), EQDBListError);
}
