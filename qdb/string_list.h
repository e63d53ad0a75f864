#pragma once
// Sorted key lists on top of TQDBList: each slot holds a key and an attached
// object. TIndexList carries the database index entries.
#include "qdb/entry_arena.h"
#include "qdb/qdb_list.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qdb {

using TKey = std::string;

// Key comparison used by every list, the same on every machine: ASCII letters
// a-z are folded to upper case, then the bytes compare as unsigned values.
// Case-sensitive comparison orders by the folded form first and breaks ties
// by the raw bytes, so keys differing only in case stay neighbours.
int CompareKeys(std::string_view a, std::string_view b, bool caseSensitive);

class TQDBStringList {
public:
    TQDBStringList() = default;
    virtual ~TQDBStringList();
    TQDBStringList(const TQDBStringList&) = delete;
    TQDBStringList& operator=(const TQDBStringList&) = delete;

    // Binary search; returns the match's position or the insertion position.
    bool Find(std::string_view key, int32_t& index) const;
    int32_t Add(std::string_view key, void* object);
    // Inserts at a position that Find returned for this key, without searching again.
    void InsertAt(int32_t index, std::string_view key, void* object);
    void Delete(int32_t index);
    std::string_view GetKey(int32_t index) const { return entry(index)->Key(); }
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

    int Compare(std::string_view a, std::string_view b) const { return CompareKeys(a, b, caseSensitive_); }

protected:
    // Called for attached objects that the list itself drops (when switching
    // to case-insensitive removes a neighbour); by default they are the caller's.
    virtual void FreeObject(void*) {}

private:
    // An entry: the attached object, then the key's length and characters,
    // in one piece of the arena.
    struct Entry {
        void* object;
        uint8_t length;
        char* Chars() { return reinterpret_cast<char*>(this + 1); }
        std::string_view Key() const { return {reinterpret_cast<const char*>(this + 1), length}; }
        static size_t SizeFor(size_t length) { return sizeof(Entry) + length; }
    };
    Entry* entry(int32_t index) const { return static_cast<Entry*>(list_.Get(index)); }
    void FreeEntry(Entry* e) { arena_.Free(e, Entry::SizeFor(e->length)); }

    TQDBList list_;
    TEntryArena arena_;
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
    // Entries to attach come from the list's own pool.
    TIndex* MakeIndex(const TIndex& value) { return pool_.Make(value); }
    void FreeIndex(TIndex* index) { pool_.Free(index); }
    // Frees every attached entry.
    void EmptyAndClear();

protected:
    void FreeObject(void* object) override { FreeIndex(static_cast<TIndex*>(object)); }

private:
    TObjectPool<TIndex> pool_;
};

} // namespace qdb
