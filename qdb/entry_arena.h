#pragma once
// Memory for the entries of a key list and for index entries: carved from
// large blocks, so that loading an index of many keys costs a few allocations
// and emptying a list costs one release per block. Freed pieces are kept, by
// size, for the next piece of that size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qdb {

class TEntryArena {
public:
    // Pieces of up to MaxPiece bytes, aligned for pointers.
    static constexpr size_t MaxPiece = 512;
    // Throws std::bad_alloc when no block can be had.
    void* Allocate(size_t size);
    void Free(void* piece, size_t size);
    // Releases every piece at once.
    void Clear();

private:
    static constexpr size_t Align = alignof(void*);
    static constexpr size_t BlockSize = 64 * 1024;
    static size_t Rounded(size_t size) { return (size + Align - 1) & ~(Align - 1); }

    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t used_ = BlockSize; // in the newest block
    // Per rounded size, the freed pieces, each holding the next one's address.
    void* free_[MaxPiece / Align + 1] = {};
};

// Objects of one type in an arena.
template <class T> class TObjectPool {
public:
    template <class... Args> T* Make(Args&&... args)
    {
        static_assert(sizeof(T) <= TEntryArena::MaxPiece);
        return new (arena_.Allocate(sizeof(T))) T{std::forward<Args>(args)...};
    }
    void Free(T* object)
    {
        object->~T();
        arena_.Free(object, sizeof(T));
    }
    // Releases every object at once; their destructors must have no effect.
    void Clear() { arena_.Clear(); }

private:
    TEntryArena arena_;
};

} // namespace qdb
