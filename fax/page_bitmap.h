#pragma once
// Unpacking one page into a monochrome bitmap (QImage::Format_Mono).
#include "fax/page_decoder.h"

#include <QImage>

#include <string>

// Decodes page `page` of `fileName` into `bitmap` (a TIFF or PDF file
// through its fax document, see document_bitmap.h), trimmed to the used width,
// scaled by the state's factors. With `invert` set bits are white (the
// colour table makes the image draw correctly either way). A page without
// lines gives width 0, height 0 and a null image. Returns 0 or a negative code.
int UnpackPageToBitmap(UnpackState& state, const std::string& fileName, int page, bool invert,
                       int& width, int& height, QImage& bitmap);

// Nearest-pixel stretch of a monochrome bitmap into another size, bits
// copied as they are; the colour table follows `invert` as above.
QImage StretchMonoBitmap(const QImage& source, int width, int height, bool invert);
