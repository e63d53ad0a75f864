#pragma once
// TCacheList: the engine's cache of recently read or written items, keyed
// case-sensitively, evicting the least recently used entries.
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <vector>

namespace qdb {

struct TCache {
    uint32_t stamp = 0;
    std::string data;
};

class TCacheList {
public:
    TCacheList() = default;
    TCacheList(const TCacheList&) = delete;
    TCacheList& operator=(const TCacheList&) = delete;

    // Caches a copy of data under key when it is smaller than the capacity.
    void Offer(std::string_view key, const std::string& data);
    // Copies a cached item into data; counts a hit.
    bool Lookup(std::string_view key, std::string& data);
    void Drop(std::string_view key);
    void Empty();

    int32_t Count() const { return int32_t(byKey_.Count()); }
    int32_t Capacity() const { return capacity_; }
    // Empties the cache and zeroes every counter.
    void SetCapacity(int32_t bytes);
    // Hit rate in percent, rounded to the nearest (ties to even).
    int32_t Frequency() const;
    void ResetStatistics() { lookups_ = hits_ = evictions_ = 0; }

    int64_t BytesHeld() const { return held_; }
    uint32_t Lookups() const { return lookups_; }
    uint32_t Hits() const { return hits_; }
    uint32_t Evictions() const { return evictions_; }

private:
    struct Entry {
        std::string key;
        size_t hash;
        TCache cache;
        std::list<Entry>::iterator self; // its place in the lists
    };
    using Order = std::list<Entry>;

    // Entries by key: an open-addressed table of pointers into the list,
    // probed linearly and closed up on removal. An entry keeps its hash, so
    // that removing it needs no hashing and no key comparison.
    class KeyTable {
    public:
        Entry* Find(std::string_view key, size_t hash) const;
        void Insert(Entry* entry);
        void Erase(const Entry* entry);
        void Clear();
        size_t Count() const { return count_; }

    private:
        size_t Slot(size_t hash) const { return hash & (slots_.size() - 1); }
        void Grow();
        std::vector<Entry*> slots_;
        size_t count_ = 0;
    };

    static size_t HashOf(std::string_view key) { return std::hash<std::string_view>()(key); }
    void Remove(Order::iterator at);
    void Append(std::string_view key, size_t hash, const std::string& data);

    // Entries by use stamp, the oldest first: every use moves an entry to the
    // back with a new, larger stamp, so the front is always the entry with the
    // smallest stamp and eviction needs no search.
    Order byStamp_;
    KeyTable byKey_;
    // The last evicted entry, reused by the next offer: a full cache that
    // takes one item for another then allocates nothing but what a larger
    // item needs.
    Order spare_;
    int32_t capacity_ = 65536;
    int64_t held_ = 0;
    uint32_t clock_ = 0;
    uint32_t lookups_ = 0;
    uint32_t hits_ = 0;
    uint32_t evictions_ = 0;
};

} // namespace qdb
