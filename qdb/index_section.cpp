#include "qdb/index_section.h"

#include <algorithm>

namespace qdb {

bool ReadStoredBlocks(std::string_view index, int64_t dataLength, std::vector<TStoredBlock>& blocks)
{
    TIndexReader in(index);
    int32_t n = 0;
    // Every entry takes at least 13 bytes: a count beyond that is a lie.
    if (!in.ReadInt32(n) || n < 0 || int64_t(n) * 13 > int64_t(index.size()) - 4)
        return false;
    blocks.clear();
    blocks.reserve(size_t(n));
    for (int32_t i = 0; i < n; ++i) {
        std::string_view key;
        int32_t offset = 0, size = 0, flags = 0;
        if (!in.ReadText(key))
            return false;
        const size_t field = in.Position();
        if (!in.ReadInt32(offset) || !in.ReadInt32(size) || !in.ReadInt32(flags))
            return false;
        if (offset < 0 || size < 0 || int64_t(offset) + size > dataLength)
            return false;
        blocks.push_back({offset, size, field});
    }
    return true;
}

TUsedParts::TUsedParts(std::vector<TStoredBlock> blocks)
{
    std::sort(blocks.begin(), blocks.end(),
              [](const TStoredBlock& a, const TStoredBlock& b) { return a.offset < b.offset; });
    for (const TStoredBlock& block : blocks) {
        if (block.size == 0)
            continue;
        const int64_t end = block.offset + block.size;
        // Blocks that share or touch bytes form one part.
        if (!parts_.empty() && block.offset <= parts_.back().offset + parts_.back().length) {
            Part& last = parts_.back();
            const int64_t grown = std::max(last.offset + last.length, end) - last.offset;
            used_ += grown - last.length;
            last.length = grown;
            continue;
        }
        parts_.push_back({block.offset, block.size, used_});
        used_ += block.size;
    }
}

int32_t TUsedParts::CompactOffset(int64_t offset, int64_t size) const
{
    if (size == 0)
        return 0;
    auto after = std::upper_bound(parts_.begin(), parts_.end(), offset,
                                  [](int64_t at, const Part& part) { return at < part.offset; });
    if (after == parts_.begin())
        return 0;
    const Part& part = *std::prev(after);
    if (offset + size > part.offset + part.length)
        return 0;
    return int32_t(part.compactOffset + (offset - part.offset));
}

void TUsedParts::CompactIndex(char* index, const std::vector<TStoredBlock>& blocks) const
{
    for (const TStoredBlock& block : blocks)
        StoreInt32(index + block.offsetField, CompactOffset(block.offset, block.size));
}

} // namespace qdb
