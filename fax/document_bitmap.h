#pragma once
// A page of a TIFF or PDF fax document as the viewer, the printer and export
// take APF pages: the decoder state's whitespace compression, standard-page
// aspect correction and scaling applied, set bits white with `invert`.
#include "fax/page_decoder.h"

#include <QImage>

#include <string>

// As UnpackPageToBitmap; the state's page header gets the page's flags.
int UnpackDocumentPage(UnpackState& state, const std::string& fileName, int page, bool invert, int& width,
                       int& height, QImage& bitmap);

// The state's whitespace compression, aspect correction, inversion and
// scaling applied to `page` (Format_Mono, set bits black) with APF page
// flags `flags`.
int ShapeDocumentPage(const UnpackState& state, uint16_t flags, bool invert, QImage& page);
