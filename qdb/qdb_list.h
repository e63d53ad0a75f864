#pragma once
// TQDBList: a growable array of slots kept in two levels (a directory of
// equally sized blocks), so that inserting into a long list moves at most one
// block of slots plus one slot per later block.
#include <cstdint>
#include <memory>
#include <vector>

namespace qdb {

class TQDBList {
public:
    using Slot = void*;

    TQDBList();

    void SetCapacity(int32_t n);
    void Insert(int32_t index, Slot value);
    void Delete(int32_t index);
    Slot Get(int32_t index) const { return blocks_[index >> shift_][index & mask_]; }
    void Put(int32_t index, Slot value) { blocks_[index >> shift_][index & mask_] = value; }
    void Exchange(int32_t i, int32_t j);
    void Clear();

    int32_t Count() const { return count_; }
    int32_t Capacity() const { return capacity_; }
    int32_t BlockSize() const { return int32_t(1) << shift_; }
    int32_t BlocksAllocated() const { return int32_t(blocks_.size()); }

private:
    void AllocateBlock();

    int32_t capacity_ = 0;
    int32_t count_ = 0;
    uint32_t shift_ = 0;
    uint32_t mask_ = 0;
    // The directory: only the blocks allocated so far, from the first.
    std::vector<std::unique_ptr<Slot[]>> blocks_;
};

} // namespace qdb
