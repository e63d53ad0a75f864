#pragma once
// A small grey picture of a whole fax page, for a strip of page thumbnails.
#include <QImage>
#include <QSize>

// The page bitmap (one bit a pixel, 0 black as the decoder makes it, or any
// image Qt can turn into one) shrunk to fit `box`, proportions kept: each
// thumbnail pixel is the share of black in the page pixels it covers, so
// that thin strokes stay visible as grey. At least one pixel each way; a
// null image for a null page. The page is read once, row by row, so a long
// page costs time in proportion to its pixels and no memory beyond the
// thumbnail.
QImage PageThumbnail(const QImage& page, QSize box);
