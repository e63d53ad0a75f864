#pragma once
// Assembling decoded lines into one page raster trimmed to the used width.
#include "fax/page_decoder.h"

#include <cstdint>

// A finished page, still in the state's row memory: `height` rows that are
// `stride` bytes wide once trimmed (bit 7 of a byte leftmost). It is valid
// until the state builds its next page.
struct PageRaster {
    int width = 0; // stride * 8
    int height = 0;
    int stride = 0;

    // Writes row `y`, trimmed to `stride` bytes, to `to`.
    void CopyRow(int y, uint8_t* to) const;

    const uint8_t* rows = nullptr; // rows of the untrimmed stride
    uint32_t rowStride = 0;
    uint32_t usedWidth = 0;
    uint8_t background = 0;
};

// The steps of the bitmap builder, used as the state's line callback while a
// page is turned into a bitmap. Each returns 0 or a negative code.
int RasterStartPage(UnpackState& state);
int RasterAddLine(UnpackState& state, const uint8_t* data, int length);
// Trims the rows to the used width (rounded up to an even number of bytes);
// a page without rows gives an empty raster.
int RasterEndPage(UnpackState& state, PageRaster& raster);
// Gives back the row memory, unless it is small enough to keep for the next
// page of the same state.
void RasterReleaseRows(UnpackState& state, bool keepSmall);
