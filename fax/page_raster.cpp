#include "fax/page_raster.h"

#include "fax/kiv_errors.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kRowsPerChunk = 1024;
// More rows than any paper fax has (over sixteen metres at fine resolution,
// 32 MB of rows at most); a damaged file must not make the row memory grow
// without bound. Long receipts and banners run well past four metres.
constexpr uint32_t kMaxRows = 128 * kRowsPerChunk;
// Row memory of up to this many chunks stays with the state between pages:
// taking fresh memory for every page costs more than decoding a short one.
constexpr uint32_t kKeptChunks = 4;

uint8_t Background(const UnpackState& s) { return s.invert ? 0xFF : 0x00; }

uint64_t Word(const uint8_t* at)
{
    uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
}

// 1-based position of the last byte that differs from `background`, 0 when
// there is none. Blank stretches are long (margins, empty lines), so it
// compares 32 bytes at a time before it narrows down to the byte.
uint32_t LastDifferentByte(const uint8_t* data, uint32_t length, uint8_t background)
{
    const uint64_t pattern = 0x0101010101010101ull * background;
    uint32_t end = length;
    for (; end >= 32; end -= 32) {
        const uint8_t* at = data + end - 32;
        if (((Word(at) ^ pattern) | (Word(at + 8) ^ pattern) | (Word(at + 16) ^ pattern) | (Word(at + 24) ^ pattern)) != 0)
            break;
    }
    for (; end >= 8; end -= 8)
        if (Word(data + end - 8) != pattern)
            break;
    while (end > 0 && data[end - 1] == background)
        --end;
    return end;
}

// Makes room for `chunks` chunks of rows. Memory kept from an earlier page
// is overwritten row by row, so only newly taken memory is zero-filled.
int ReserveChunks(UnpackState& s, uint32_t chunks)
{
    const std::size_t bytes = static_cast<std::size_t>(chunks) * kRowsPerChunk * s.rowStride;
    try {
        if (s.rows.size() < bytes)
            s.rows.resize(bytes);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    s.chunksAllocated = chunks;
    return 0;
}

} // namespace

void PageRaster::CopyRow(int y, uint8_t* to) const
{
    std::memcpy(to, rows + static_cast<std::size_t>(y) * rowStride, usedWidth);
    if (static_cast<uint32_t>(stride) != usedWidth)
        to[usedWidth] = background;
}

int RasterStartPage(UnpackState& s)
{
    s.rowStride = (s.pageHeader.Flags() & kApfWide) ? kWideLineBytes : kNarrowLineBytes;
    s.rowsStored = 0;
    s.usedWidth = 1;
    return ReserveChunks(s, 1);
}

int RasterAddLine(UnpackState& s, const uint8_t* data, int length)
{
    if (s.rowsStored >= kMaxRows)
        return kErrOutOfMemory;
    if (s.rowsStored == s.chunksAllocated * kRowsPerChunk) {
        if (const int rc = ReserveChunks(s, s.chunksAllocated + 1))
            return rc;
    }
    uint8_t* row = s.rows.data() + static_cast<std::size_t>(s.rowsStored) * s.rowStride;
    const uint8_t background = Background(s);
    uint32_t used = 0;
    if (length > 0) {
        // A line narrower than the row leaves the rest of the row white: the
        // background, which is set bits in an inverted bitmap.
        const uint32_t copied = std::min<uint32_t>(static_cast<uint32_t>(length), s.rowStride);
        std::memcpy(row, data, copied);
        if (copied < s.rowStride)
            std::memset(row + copied, background, s.rowStride - copied);
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
    if (s.rowsStored == 0)
        return 0;
    const uint32_t stride = (s.usedWidth + 1) & ~1u;
    raster.stride = static_cast<int>(stride);
    raster.width = static_cast<int>(stride * 8);
    raster.height = static_cast<int>(s.rowsStored);
    raster.rows = s.rows.data();
    raster.rowStride = s.rowStride;
    raster.usedWidth = s.usedWidth;
    raster.background = Background(s);
    return 0;
}

void RasterReleaseRows(UnpackState& s, bool keepSmall)
{
    s.rowsStored = 0;
    if (keepSmall && s.rows.size() <= static_cast<std::size_t>(kKeptChunks) * kRowsPerChunk * kWideLineBytes)
        return;
    s.rows.clear();
    s.rows.shrink_to_fit();
    s.chunksAllocated = 0;
}
