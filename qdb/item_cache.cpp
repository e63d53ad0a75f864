#include "qdb/item_cache.h"

namespace qdb {

TCacheList::Entry* TCacheList::KeyTable::Find(std::string_view key, size_t hash) const
{
    if (slots_.empty())
        return nullptr;
    for (size_t i = Slot(hash);; i = (i + 1) & (slots_.size() - 1)) {
        Entry* entry = slots_[i];
        if (!entry)
            return nullptr;
        if (entry->hash == hash && entry->key == key)
            return entry;
    }
}

void TCacheList::KeyTable::Insert(Entry* entry)
{
    // At most half the slots are used, so every probe meets an empty one.
    if (2 * (count_ + 1) > slots_.size())
        Grow();
    size_t i = Slot(entry->hash);
    while (slots_[i])
        i = (i + 1) & (slots_.size() - 1);
    slots_[i] = entry;
    ++count_;
}

void TCacheList::KeyTable::Erase(const Entry* entry)
{
    const size_t mask = slots_.size() - 1;
    size_t hole = Slot(entry->hash);
    while (slots_[hole] != entry)
        hole = (hole + 1) & mask;
    // Entries after the hole that could not take their own slot move back
    // into it, so that no probe stops early at the new empty slot.
    for (size_t next = (hole + 1) & mask; slots_[next]; next = (next + 1) & mask) {
        const size_t home = Slot(slots_[next]->hash);
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole] = nullptr;
    --count_;
}

void TCacheList::KeyTable::Clear()
{
    slots_.clear();
    count_ = 0;
}

void TCacheList::KeyTable::Grow()
{
    std::vector<Entry*> old = std::move(slots_);
    slots_.assign(std::max<size_t>(64, old.size() * 2), nullptr);
    count_ = 0;
    for (Entry* entry : old)
        if (entry)
            Insert(entry);
}

void TCacheList::Remove(Order::iterator at)
{
    held_ -= int64_t(at->cache.data.size());
    byKey_.Erase(&*at);
    if (spare_.empty())
        spare_.splice(spare_.begin(), byStamp_, at);
    else
        byStamp_.erase(at);
}

void TCacheList::Append(std::string_view key, size_t hash, const std::string& data)
{
    if (spare_.empty()) {
        byStamp_.push_back(Entry{std::string(key), hash, TCache{0, data}, {}});
        byStamp_.back().self = std::prev(byStamp_.end());
    } else {
        spare_.front().key = key;
        spare_.front().hash = hash;
        spare_.front().cache.data = data;
        byStamp_.splice(byStamp_.end(), spare_, spare_.begin());
    }
    Entry& entry = byStamp_.back();
    entry.cache.stamp = ++clock_;
    try {
        byKey_.Insert(&entry);
    } catch (...) {
        byStamp_.pop_back();
        throw;
    }
}

void TCacheList::Offer(std::string_view key, const std::string& data)
{
    const int64_t size = int64_t(data.size());
    if (size >= capacity_)
        return;
    while (!byStamp_.empty() && size + held_ > capacity_) {
        Remove(byStamp_.begin());
        ++evictions_;
    }
    const size_t hash = HashOf(key);
    if (byKey_.Find(key, hash))
        return;
    Append(key, hash, data);
    held_ += size;
    ++lookups_;
}

bool TCacheList::Lookup(std::string_view key, std::string& data)
{
    Entry* found = byKey_.Find(key, HashOf(key));
    if (!found)
        return false;
    found->cache.stamp = ++clock_;
    byStamp_.splice(byStamp_.end(), byStamp_, found->self);
    data = found->cache.data;
    ++hits_;
    ++lookups_;
    return true;
}

void TCacheList::Drop(std::string_view key)
{
    if (Entry* found = byKey_.Find(key, HashOf(key)))
        Remove(found->self);
}

void TCacheList::Empty()
{
    byKey_.Clear();
    byStamp_.clear();
    spare_.clear();
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
