#include "qdb/item_cache.h"

namespace qdb {

void TCacheList::Remove(Order::iterator at)
{
    held_ -= int64_t(at->cache.data.size());
    ByKey::node_type node = byKey_.extract(at->key);
    if (spare_.empty()) {
        spare_.splice(spare_.begin(), byStamp_, at);
        spareNode_ = std::move(node);
    } else {
        byStamp_.erase(at);
    }
}

TCacheList::Order::iterator TCacheList::Append(const std::string& key, const std::string& data)
{
    if (spare_.empty()) {
        byStamp_.push_back(Entry{key, TCache{0, data}});
    } else {
        spare_.front().key = key;
        spare_.front().cache.data = data;
        byStamp_.splice(byStamp_.end(), spare_, spare_.begin());
    }
    const auto at = std::prev(byStamp_.end());
    at->cache.stamp = ++clock_;
    try {
        if (spareNode_) {
            spareNode_.key() = at->key;
            spareNode_.mapped() = at;
            byKey_.insert(std::move(spareNode_));
            spareNode_ = {};
        } else {
            byKey_.emplace(at->key, at);
        }
    } catch (...) {
        byStamp_.pop_back();
        throw;
    }
    return at;
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
    Append(key, data);
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
    spare_.clear();
    spareNode_ = {};
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
