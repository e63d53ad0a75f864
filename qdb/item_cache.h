// TCacheList: the engine's cache of recently read or written items, keyed
// case-sensitively, evicting the least recently used entries.
#pragma once

#include "qdb/string_list.h"

#include <cstdint>
#include <string>

namespace qdb {

struct TCache {
    uint32_t stamp = 0;
    std::string data;
};

class TCacheList : public TQDBStringList {
public:
    TCacheList();
    ~TCacheList() override { Empty(); }

    // Caches a copy of data under key when it is smaller than the capacity.
    void Offer(const std::string& key, const std::string& data);
    // Copies a cached item into data; counts a hit.
    bool Lookup(const std::string& key, std::string& data);
    void Drop(const std::string& key);
    void Empty();

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

protected:
    void FreeObject(void* object) override { delete static_cast<TCache*>(object); }

private:
    TCache* Entry(int32_t i) const { return static_cast<TCache*>(GetObject(i)); }
    void Remove(int32_t i);

    int32_t capacity_ = 65536;
    int64_t held_ = 0;
    uint32_t clock_ = 0;
    uint32_t lookups_ = 0;
    uint32_t hits_ = 0;
    uint32_t evictions_ = 0;
};

} // namespace qdb
