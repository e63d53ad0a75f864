#include "qdb/entry_arena.h"

#include <new>

namespace qdb {

void* TEntryArena::Allocate(size_t size)
{
    size = Rounded(size);
    if (size > MaxPiece)
        throw std::bad_alloc();
    void*& freed = free_[size / Align];
    if (freed) {
        void* piece = freed;
        freed = *static_cast<void**>(piece);
        return piece;
    }
    if (used_ + size > BlockSize) {
        blocks_.push_back(std::unique_ptr<char[]>(new char[BlockSize]));
        used_ = 0;
    }
    void* piece = blocks_.back().get() + used_;
    used_ += size;
    return piece;
}

void TEntryArena::Free(void* piece, size_t size)
{
    void*& freed = free_[Rounded(size) / Align];
    *static_cast<void**>(piece) = freed;
    freed = piece;
}

void TEntryArena::Clear()
{
    blocks_.clear();
    used_ = BlockSize;
    for (void*& freed : free_)
        freed = nullptr;
}

} // namespace qdb
