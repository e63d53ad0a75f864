#pragma once
// Turning a page image by quarter turns. Page images are QImage::Format_Mono
// with set bits white; their rows count as B = whole 16-bit words of bytes,
// the row size of a monochrome bitmap, so B * 8 may exceed the width.
#include <QImage>

// Bytes per row of a page image `width` pixels wide.
int PageRowBytes(int width);

// Turns `source` clockwise by `quarterTurns` (1-3) into `rotated`:
// - 1: H wide and B * 8 high; source row y becomes column H - 1 - y, pixel x
//   goes to row x; rows from W onward are white.
// - 2: rows exchanged end for end, each mirrored over its B bytes after the
//   bits beyond W were made white. The result keeps all B * 8 pixels of a
//   row, so that no column of the page is pushed out of the image.
// - 3: H wide and B * 8 high; row y becomes column y, pixel x goes to row
//   B * 8 - 1 - x; rows above B * 8 - W are white.
// Returns 0, or -8 when the image memory cannot be had.
int RotatePageImage(const QImage& source, int quarterTurns, QImage& rotated);
