#include "fax/page_raster.h"

#include "fax/kiv_errors.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kRowsPerChunk = 1024;
// More rows than any paper fax has (over four metres at fine resolution);
// a damaged file must not make the row memory grow without bound.
constexpr uint32_t kMaxRows = 32 * kRowsPerChunk;

uint8_t Background(const UnpackState& s) { return s.invert ? 0xFF : 0x00; }

// 1-based position of the last byte that differs from `background`, 0 when
// there is none; compares eight bytes at a time.
uint32_t LastDifferentByte(const uint8_t* data, uint32_t length, uint8_t background)
{
    const uint64_t pattern = 0x0101010101010101ull * background;
    uint32_t end = length;
    while (end >= 8) {
        uint64_t word;
        std::memcpy(&word, data + end - 8, 8);
        if (word != pattern)
            break;
        end -= 8;
    }
    while (end > 0 && data[end - 1] == background)
        --end;
    return end;
}

} // namespace

int RasterStartPage(UnpackState& s)
{
    s.rowStride = (s.pageHeader.Flags() & kApfWide) ? kWideLineBytes : kNarrowLineBytes;
    s.rowsStored = 0;
    s.usedWidth = 1;
    // The memory of a chunk is taken at once, but each row is zero-filled
    // only when it is stored: a short page touches only the rows it uses.
    try {
        s.rows.clear();
        s.rows.reserve(static_cast<std::size_t>(kRowsPerChunk) * s.rowStride);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    s.chunksAllocated = 1;
    return 0;
}

int RasterAddLine(UnpackState& s, const uint8_t* data, int length)
{
    if (s.rowsStored >= kMaxRows)
        return kErrOutOfMemory;
    if (s.rowsStored != 0 && s.rowsStored % kRowsPerChunk == 0) {
        try {
            s.rows.reserve(s.rows.size() + static_cast<std::size_t>(kRowsPerChunk) * s.rowStride);
        } catch (const std::bad_alloc&) {
            return kErrOutOfMemory;
        }
        ++s.chunksAllocated;
    }
    s.rows.resize(s.rows.size() + s.rowStride); // within the chunk: no allocation
    uint8_t* row = s.rows.data() + static_cast<std::size_t>(s.rowsStored) * s.rowStride;
    const uint8_t background = Background(s);
    uint32_t used = 0;
    if (length > 0) {
        const uint32_t copied = std::min<uint32_t>(static_cast<uint32_t>(length), s.rowStride);
        std::memcpy(row, data, copied);
        used = std::min(LastDifferentByte(data, static_cast<uint32_t>(length), background), s.rowStride);
    } else {
        std::memset(row, background, s.rowStride);
    }
    ++s.rowsStored;
    s.usedWidth = std::max(s.usedWidth, used);
    return 0;
}

int RasterEndPage(UnpackState& s, PageRaster& raster)
{
    raster = PageRaster{};
    if (s.rowsStored == 0) {
        s.rows.clear();
        return 0;
    }
    const uint32_t stride = (s.usedWidth + 1) & ~1u;
    for (uint32_t r = 0; r < s.rowsStored; ++r) {
        uint8_t* to = s.rows.data() + static_cast<std::size_t>(r) * stride;
        std::memmove(to, s.rows.data() + static_cast<std::size_t>(r) * s.rowStride, s.usedWidth);
        if (stride != s.usedWidth)
            to[s.usedWidth] = Background(s);
    }
    s.rows.resize(static_cast<std::size_t>(s.rowsStored) * stride);
    s.rows.shrink_to_fit();
    raster.stride = static_cast<int>(stride);
    raster.width = static_cast<int>(stride * 8);
    raster.height = static_cast<int>(s.rowsStored);
    raster.bits = std::move(s.rows);
    s.rows.clear();
    return 0;
}
