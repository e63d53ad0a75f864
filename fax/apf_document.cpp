#include "fax/apf_document.h"

#include "fax/apf_file.h"
#include "fax/kiv_errors.h"
#include "fax/page_bitmap.h"
#include "fax/page_decoder.h"

namespace {

class ApfDocument : public FaxDocument {
public:
    ApfDocument(std::string fileName, int pages) : fileName_(std::move(fileName)), pages_(pages) {}

    FaxDocumentKind Kind() const override { return FaxDocumentKind::Apf; }
    int PageCount() const override { return pages_; }

    int PageFormat(int page, FaxPageFormat& format) override
    {
        format = FaxPageFormat{};
        ApfPageHeader header;
        if (const int rc = ApfFindPageHeader(fileName_, page, header))
            return rc;
        format.flags = header.Flags() & (kApfFine | kApfWide);
        format.width = (format.flags & kApfWide) ? 2048 : 1728;
        format.xDpi = kApfHorizontalDpi;
        format.yDpi = (format.flags & kApfFine) ? kApfFineDpi : kApfStandardDpi;
        return 0;
    }

    int RenderPage(int page, QImage& bitmap, FaxPageFormat& format) override
    {
        bitmap = QImage();
        if (const int rc = PageFormat(page, format))
            return rc;
        std::unique_ptr<UnpackState> state;
        if (const int rc = CreateUnpackState(state, nullptr, nullptr))
            return rc;
        state->options = 0; // rows as coded, no aspect correction
        int width = 0;
        int height = 0;
        if (const int rc = UnpackPageToBitmap(*state, fileName_, page, false, width, height, bitmap))
            return rc;
        format.width = width;
        format.height = height;
        return 0;
    }

private:
    std::string fileName_;
    int pages_;
};

} // namespace

int OpenApfDocument(const std::string& fileName, std::unique_ptr<FaxDocument>& document)
{
    ApfFileHeader header;
    if (const int rc = ApfReadFileHeader(fileName, header))
        return rc;
    document = std::make_unique<ApfDocument>(fileName, header.PageCount());
    return 0;
}
