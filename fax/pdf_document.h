#pragma once
// A PDF file as a fax document, rendered through Poppler. A page that
// carries one fax image is rendered at that image's resolution, so that
// its pixels come out as they were sent (black and white at the threshold
// of Poppler's rendering); any other page (a typed cover
// page, vector drawing) at 200 dots per inch, grey dithered.
#include "fax/fax_document.h"

int OpenPdfDocument(const std::string& fileName, std::unique_ptr<FaxDocument>& document);
