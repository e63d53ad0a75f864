// Sorted key lists on top of TQDBList: each slot holds a key and an attached
// object. TIndexList carries the database index entries.
#pragma once

#include "qdb/qdb_list.h"

#include <cstdint>
#include <string>

namespace qdb {

using TKey = std::string;

// Key comparison used by every list, the same on every machine: ASCII letters
// a-z are folded to upper case, then the bytes compare as unsigned values.
// Case-sensitive comparison orders by the folded form first and breaks ties
// by the raw bytes, so keys differing only in case stay neighbours.
int CompareKeys(const std::string& a, const std::string& b, bool caseSensitive);

class TQDBStringList {
public:
    TQDBStringList() = default;
    virtual ~TQDBStringList();
    TQDBStringList(const TQDBStringList&) = delete;
    TQDBStringList& operator=(const TQDBStringList&) = delete;

    // Binary search; returns the match's position or the insertion position.
    bool Find(const std::string& key, int32_t& index) const;
    int32_t Add(const std::string& key, void* object);
    // Inserts at a position that Find returned for this key, without searching again.
    void InsertAt(int32_t index, const std::string& key, void* object);
    void Delete(int32_t index);
    const std::string& GetKey(int32_t index) const { return entry(index)->key; }
    void* GetObject(int32_t index) const { return entry(index)->object; }
    void SetObject(int32_t index, void* object) { entry(index)->object = object; }
    int32_t Count() const { return list_.Count(); }
    void Clear();
    void SetCapacity(int32_t n) { list_.SetCapacity(n); }
    int32_t Capacity() const { return list_.Capacity(); }
    void Exchange(int32_t i, int32_t j) { list_.Exchange(i, j); }

    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool value);
    bool Sorted() const { return sorted_; }
    void SetSorted(bool value) { sorted_ = value; }
    void ReverseAndSort();

    int Compare(const std::string& a, const std::string& b) const { return CompareKeys(a, b, caseSensitive_); }

protected:
    // Called for attached objects that the list itself drops (when switching
    // to case-insensitive removes a neighbour); by default they are the caller's.
    virtual void FreeObject(void*) {}

private:
    struct Entry {
        std::string key;
        void* object;
    };
    Entry* entry(int32_t index) const { return static_cast<Entry*>(list_.Get(index)); }

    TQDBList list_;
    bool caseSensitive_ = false;
    bool sorted_ = false;
};

// One index entry: where an item's stored block lies in the data section.
struct TIndex {
    int32_t offset = 0;
    int32_t size = 0;
    int32_t flags = 0;
};

inline constexpr int32_t FlagAdmin = 1;
inline constexpr int32_t FlagCompressed = 2;

class TIndexList : public TQDBStringList {
public:
    ~TIndexList() override { EmptyAndClear(); }
    TIndex* Index(int32_t i) const { return static_cast<TIndex*>(GetObject(i)); }
    // Frees every attached entry, from the last to the first.
    void EmptyAndClear();

protected:
    void FreeObject(void* object) override { delete static_cast<TIndex*>(object); }
};

} // namespace qdb
