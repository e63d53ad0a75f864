#pragma once
// One fax document whatever its file format: APF through the own decoder,
// TIFF through libtiff, PDF through Poppler. Every routine returns 0 or a
// negative fax error code; a file that is not a fax, is damaged, or asks for
// more than the fixed bounds below gives -8001 (bad format).
#include "fax/apf_file.h"
#include "fax/fax_document_kind.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <string>

// Bounds on what one page may take, whatever its file claims.
constexpr int kMaxFaxDocumentPages = 65535;
constexpr int kMaxFaxPageSide = 32767;           // pixels, either way
constexpr int64_t kMaxFaxPagePixels = 64 << 20;  // a bilevel page: 8 MiB of bits
constexpr int64_t kMaxColourPagePixels = 24 << 20; // a grey or colour page, read as 32-bit pixels

// A page's size in pixels and its resolution in dots per inch. `flags` are
// the APF page flags the page stands for (kApfFine, kApfWide), so that the
// standard-resolution aspect rules serve every format alike.
struct FaxPageFormat {
    int width = 0;
    int height = 0; // 0 while an APF page is not decoded: its header has no height
    double xDpi = 0;
    double yDpi = 0;
    uint16_t flags = 0;
};

class FaxDocument {
public:
    virtual ~FaxDocument() = default;
    virtual FaxDocumentKind Kind() const = 0;
    virtual int PageCount() const = 0;
    // Size and resolution of page `page` (1-based).
    virtual int PageFormat(int page, FaxPageFormat& format) = 0;
    // Page `page` (1-based) at its own resolution as a QImage::Format_Mono
    // with set bits black, no aspect correction applied. Grey and colour
    // are dithered to black and white.
    virtual int RenderPage(int page, QImage& bitmap, FaxPageFormat& format) = 0;
};

// Opens `fileName` as the kind its content names.
int OpenFaxDocument(const std::string& fileName, std::unique_ptr<FaxDocument>& document);

// The page count of the document in `fileName`.
int FaxDocumentPageCount(const std::string& fileName, int& pages);

// The APF page flags page `page` (1-based) of `fileName` stands for.
int FaxDocumentPageFlags(const std::string& fileName, int page, uint16_t& flags);

// The flags for a page of this size and resolution: fine unless its rows are
// about twice as far apart as its columns, wide past 1728 pixels.
uint16_t FaxFlagsForResolution(int width, double xDpi, double yDpi);

// An empty Format_Mono page with set bits black; null beyond the bounds.
QImage MakeFaxDocumentBitmap(int width, int height);

// True when width x height lies within the bounds for `maxPixels`.
bool FaxPageWithinBounds(int64_t width, int64_t height, int64_t maxPixels = kMaxFaxPagePixels);

// Turns a grey or colour image into a Format_Mono page with set bits black:
// pure black and white stay as they are, grey levels are dithered.
QImage DitherToFaxBitmap(const QImage& image);
