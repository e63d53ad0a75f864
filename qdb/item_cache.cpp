#include "qdb/item_cache.h"

namespace qdb {

void TCacheList::Remove(Order::iterator at)
{
    held_ -= int64_t(at->cache.data.size());
    byKey_.erase(at->key);
    byStamp_.erase(at);
}

void TCacheList::Offer(const std::string& key, const std::string& data)
{
    const int64_t size = int64_t(data.size());
    if (size >= capacity_)
        return;
    while (!byStamp_.empty() && size + held_ > capacity_) {
        Remove(byStamp_.begin());
        ++evictions_;
    }
    if (byKey_.count(key))
        return;
    byStamp_.push_back(Entry{key, TCache{++clock_, data}});
    const auto at = std::prev(byStamp_.end());
    try {
        byKey_.emplace(at->key, at);
    } catch (...) {
        byStamp_.pop_back();
        throw;
    }
    held_ += size;
    ++lookups_;
}

bool TCacheList::Lookup(const std::string& key, std::string& data)
{
    const auto found = byKey_.find(key);
    if (found == byKey_.end())
        return false;
    const auto at = found->second;
    at->cache.stamp = ++clock_;
    byStamp_.splice(byStamp_.end(), byStamp_, at);
    data = at->cache.data;
    ++hits_;
    ++lookups_;
    return true;
}

void TCacheList::Drop(const std::string& key)
{
    const auto found = byKey_.find(key);
    if (found != byKey_.end())
        Remove(found->second);
}

void TCacheList::Empty()
{
    byKey_.clear();
    byStamp_.clear();
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
