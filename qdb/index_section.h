#pragma once
// Reading an index section as stored, and the parts of the data section its
// entries use. A file assembled anew keeps only those parts, so bytes that no
// entry leads to (deleted or moved items, and the room and index places that
// flushes into the file leave inside the data section) do not survive it.
#include "qdb/file_routines.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace qdb {

// Reads index entries from an index section held in memory.
class TIndexReader {
public:
    explicit TIndexReader(std::string_view bytes) : bytes_(bytes) {}
    size_t Size() const { return bytes_.size(); }
    size_t Position() const { return at_; }
    bool ReadInt32(int32_t& value)
    {
        if (bytes_.size() - at_ < 4)
            return false;
        value = LoadInt32(bytes_.data() + at_);
        at_ += 4;
        return true;
    }
    // A key of at most 255 characters ended by a zero byte.
    bool ReadText(std::string_view& text)
    {
        const char* start = bytes_.data() + at_;
        const auto* end = static_cast<const char*>(std::memchr(start, 0, std::min<size_t>(256, bytes_.size() - at_)));
        if (!end)
            return false;
        text = std::string_view(start, size_t(end - start));
        at_ += text.size() + 1;
        return true;
    }

private:
    std::string_view bytes_;
    size_t at_ = 0;
};

// One stored entry's block, and where its offset lies in the section.
struct TStoredBlock {
    int64_t offset = 0;
    int64_t size = 0;
    size_t offsetField = 0;
};

// Every entry's block; false when the section is not a valid index or a
// block lies outside a data section of dataLength bytes.
bool ReadStoredBlocks(std::string_view index, int64_t dataLength, std::vector<TStoredBlock>& blocks);

// The parts of a data section that blocks use, in order, and where each
// goes when the parts are put one after the other.
class TUsedParts {
public:
    struct Part {
        int64_t offset = 0;
        int64_t length = 0;
        int64_t compactOffset = 0;
    };
    explicit TUsedParts(std::vector<TStoredBlock> blocks);
    const std::vector<Part>& Parts() const { return parts_; }
    int64_t UsedBytes() const { return used_; }
    // True when the blocks use every byte of a section of that length.
    bool CoverAll(int64_t dataLength) const { return used_ == dataLength; }
    // Where a block at offset lies once the parts are put together. An
    // empty block, or one outside every part, goes to 0.
    int32_t CompactOffset(int64_t offset, int64_t size) const;
    // Sets every block's offset field in the index section to its compact offset.
    void CompactIndex(char* index, const std::vector<TStoredBlock>& blocks) const;

private:
    std::vector<Part> parts_;
    int64_t used_ = 0;
};

} // namespace qdb
