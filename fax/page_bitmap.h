#pragma once
// Unpacking one page into a monochrome bitmap (QImage::Format_Mono).
#include "fax/page_decoder.h"

#include <QImage>

#include <string>

// Decodes page `page` of `fileName` into `bitmap`, trimmed to the used width,
// scaled by the state's factors. With `invert` set bits are white (the
// colour table makes the image draw correctly either way). A page without
// lines gives width 0, height 0 and a null image. Returns 0 or a negative code.
int UnpackPageToBitmap(UnpackState& state, const std::string& fileName, int page, bool invert,
                       int& width, int& height, QImage& bitmap);
