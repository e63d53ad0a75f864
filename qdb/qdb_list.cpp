#include "qdb/qdb_list.h"

#include "qdb/qdb_error.h"

#include <algorithm>
#include <new>

namespace qdb {

namespace {
// 16383 squared: the largest capacity the directory layout allows.
constexpr int64_t MaxCapacity = 268402689;
} // namespace

TQDBList::TQDBList()
{
    SetCapacity(0);
}

void TQDBList::SetCapacity(int32_t n)
{
    uint32_t r = 1;
    int64_t m = 4;
    while (m <= n) {
        ++r;
        m *= 4;
    }
    if (m < count_ || m > MaxCapacity)
        throw EQDBListError(msg::OutOfBounds);
    if (m == capacity_)
        return;
    try {
        const int64_t size = int64_t(1) << r;
        std::vector<std::unique_ptr<Slot[]>> blocks;
        blocks.reserve(size_t(size));
        for (int32_t i = 0; i < count_; ++i) {
            if ((i & (size - 1)) == 0)
                blocks.emplace_back(new Slot[size_t(size)]);
            blocks.back()[i & (size - 1)] = Get(i);
        }
        blocks_ = std::move(blocks);
    } catch (const std::bad_alloc&) {
        throw EQDBListError(msg::NoMemory);
    }
    blocks_.reserve(size_t(1) << r);
    capacity_ = int32_t(m);
    shift_ = r;
    mask_ = (1u << r) - 1;
}

void TQDBList::AllocateBlock()
{
    try {
        blocks_.emplace_back(new Slot[size_t(1) << shift_]);
    } catch (const std::bad_alloc&) {
        throw EQDBListError(msg::NoMemory);
    }
}

void TQDBList::Insert(int32_t index, Slot value)
{
    if (index < 0 || index > count_)
        throw EQDBListError(msg::OutOfBounds);
    if (count_ == capacity_)
        SetCapacity(capacity_ + 1);
    if ((uint32_t(count_) & mask_) == 0)
        AllocateBlock();
    if (index == count_) {
        blocks_.back()[uint32_t(index) & mask_] = value;
        ++count_;
        return;
    }
    // Every block before the last is full; the last holds `used` slots. Only
    // occupied slots move, so appending moves nothing.
    const int32_t size = BlockSize();
    const int32_t first = index >> shift_;
    const int32_t last = BlocksAllocated() - 1;
    const int32_t used = count_ - (last << shift_);
    for (int32_t b = last; b > first; --b) {
        Slot* block = blocks_[b].get();
        const int32_t occupied = b == last ? used : size - 1;
        std::move_backward(block, block + occupied, block + occupied + 1);
        block[0] = blocks_[b - 1][size - 1];
    }
    Slot* block = blocks_[first].get();
    const int32_t at = index & int32_t(mask_);
    const int32_t occupied = first == last ? used : size - 1;
    std::move_backward(block + at, block + occupied, block + occupied + 1);
    block[at] = value;
    ++count_;
}

void TQDBList::Delete(int32_t index)
{
    if (index < 0 || index >= count_)
        throw EQDBListError(msg::OutOfBounds);
    const int32_t size = BlockSize();
    const int32_t first = index >> shift_;
    // Only occupied slots move: deleting near the end costs little.
    auto used = [&](int32_t b) { return std::min(size, count_ - (b << shift_)); };
    Slot* block = blocks_[first].get();
    std::move(block + (index & int32_t(mask_)) + 1, block + used(first), block + (index & int32_t(mask_)));
    for (int32_t b = first + 1; b < BlocksAllocated(); ++b) {
        blocks_[b - 1][size - 1] = blocks_[b][0];
        std::move(blocks_[b].get() + 1, blocks_[b].get() + used(b), blocks_[b].get());
    }
    --count_;
    if (count_ == 0 || ((count_ - 1) >> shift_) != BlocksAllocated() - 1)
        blocks_.pop_back();
}

void TQDBList::Exchange(int32_t i, int32_t j)
{
    Slot a = Get(i);
    Put(i, Get(j));
    Put(j, a);
}

void TQDBList::Clear()
{
    blocks_.clear();
    count_ = 0;
}

} // namespace qdb
