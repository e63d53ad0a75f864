#pragma once
// A TIFF file as a fax document, read through libtiff: one image per
// directory. Bilevel pages in any compression libtiff reads (G3 1-D and 2-D,
// G4, PackBits, none) and either fill order come as they are; grey and colour
// pages are dithered to black and white.
#include "fax/fax_document.h"

int OpenTiffDocument(const std::string& fileName, std::unique_ptr<FaxDocument>& document);
