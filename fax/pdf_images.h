#pragma once
// The sizes of the image objects in a PDF file, read from their
// dictionaries in file order, without Poppler: its Qt binding does not tell
// what images a page draws.
#include <QByteArray>

#include <vector>

struct PdfImageSize {
    int width = 0;
    int height = 0;
};

// At most `limit` image sizes, in the order their objects appear.
std::vector<PdfImageSize> ScanPdfImageSizes(const QByteArray& file, std::size_t limit);
