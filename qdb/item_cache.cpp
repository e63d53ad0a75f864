#include "qdb/item_cache.h"

namespace qdb {

TCacheList::TCacheList()
{
    SetCaseSensitive(true);
    SetSorted(true);
}

void TCacheList::Remove(int32_t i)
{
    held_ -= int64_t(Entry(i)->data.size());
    FreeObject(GetObject(i));
    Delete(i);
}

void TCacheList::Offer(const std::string& key, const std::string& data)
{
    const int64_t size = int64_t(data.size());
    if (size >= capacity_)
        return;
    while (Count() > 0 && size + held_ > capacity_) {
        int32_t oldest = 0;
        for (int32_t i = 1; i < Count(); ++i)
            if (Entry(i)->stamp < Entry(oldest)->stamp)
                oldest = i;
        Remove(oldest);
        ++evictions_;
    }
    int32_t at = 0;
    if (Find(key, at))
        return;
    auto* entry = new TCache{++clock_, data};
    try {
        Add(key, entry);
    } catch (...) {
        delete entry;
        throw;
    }
    held_ += size;
    ++lookups_;
}

bool TCacheList::Lookup(const std::string& key, std::string& data)
{
    int32_t at = 0;
    if (!Find(key, at))
        return false;
    Entry(at)->stamp = ++clock_;
    data = Entry(at)->data;
    ++hits_;
    ++lookups_;
    return true;
}

void TCacheList::Drop(const std::string& key)
{
    int32_t at = 0;
    if (Find(key, at))
        Remove(at);
}

void TCacheList::Empty()
{
    for (int32_t i = Count() - 1; i >= 0; --i)
        Remove(i);
    held_ = 0;
}

void TCacheList::SetCapacity(int32_t bytes)
{
    Empty();
    capacity_ = bytes;
    clock_ = 0;
    ResetStatistics();
}

int32_t TCacheList::Frequency() const
{
    if (lookups_ == 0)
        return 0;
    const uint64_t num = uint64_t(hits_) * 100, den = lookups_;
    uint64_t q = num / den;
    const uint64_t r2 = (num % den) * 2;
    if (r2 > den || (r2 == den && (q & 1)))
        ++q;
    return int32_t(q);
}

} // namespace qdb
