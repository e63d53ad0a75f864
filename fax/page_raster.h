// Assembling decoded lines into one page raster trimmed to the used width.
#pragma once

#include "fax/page_decoder.h"

#include <cstdint>
#include <vector>

// A finished page: `height` rows of `stride` bytes, bit 7 of a byte leftmost.
struct PageRaster {
    int width = 0; // stride * 8
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> bits;
};

// The steps of the bitmap builder, used as the state's line callback while a
// page is turned into a bitmap. Each returns 0 or a negative code.
int RasterStartPage(UnpackState& state);
int RasterAddLine(UnpackState& state, const uint8_t* data, int length);
// Moves the rows together to the used width (rounded up to an even number of
// bytes); a page without rows gives an empty raster.
int RasterEndPage(UnpackState& state, PageRaster& raster);
