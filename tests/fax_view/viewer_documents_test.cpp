// TIFF and PDF faxes in the viewer control: what it shows at 100 % against
// the tools' own decodings, the aspect of standard-resolution pages, and
// hostile files.
#include "fax/fax_document.h"
#include "fax/kiv_errors.h"
#include "fax/view/viewer_engine.h"
#include "tests/fax/document_fixtures.h"
#include "tests/fax_view/viewer_test_util.h"

#include <QFile>

#include <tuple>

#include <gtest/gtest.h>

namespace {

// Black pixels of `image`, each row repeated `rowCopies` times.
PixelGrid GridOf(const QImage& image, int rowCopies = 1)
{
    const QImage mono = image.convertToFormat(QImage::Format_RGB32);
    PixelGrid grid{mono.width(), mono.height() * rowCopies, {}};
    grid.black.reserve(static_cast<std::size_t>(grid.width) * grid.height);
    for (int y = 0; y < grid.height; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(mono.constScanLine(y / rowCopies));
        for (int x = 0; x < grid.width; ++x)
            grid.black.push_back(qGray(row[x]) < 128);
    }
    return grid;
}

struct DocumentCase {
    QString file;
    std::vector<QImage> reference; // page by page, rows as the file has them
    int rowCopies = 1;             // 2 for standard pages, shown with doubled rows
};

// Every page of the case shown at 100 % in a client larger than the page.
void ExpectPagesAsReference(const DocumentCase& c)
{
    ASSERT_FALSE(c.reference.empty()) << c.file.toStdString();
    auto viewer = ShownViewer(QSize(1760, 2400));
    std::vector<int> errors;
    viewer->OnViewerError = [&](TKivCustomFaxViewer*, int code) { errors.push_back(code); };
    viewer->SetFileName(c.file);
    ASSERT_EQ(viewer->PageCount(), static_cast<int>(c.reference.size())) << c.file.toStdString();
    for (int page = 1; page <= viewer->PageCount(); ++page) {
        viewer->SetCurrentPage(page);
        QCoreApplication::processEvents();
        const PixelGrid expected = GridOf(c.reference[static_cast<std::size_t>(page - 1)], c.rowCopies);
        TViewerRect rect;
        viewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&rect));
        EXPECT_EQ(rect.right + 1, expected.width) << c.file.toStdString() << " page " << page;
        EXPECT_EQ(rect.bottom + 1, expected.height) << c.file.toStdString() << " page " << page;
        EXPECT_GT(expected.BlackCount(), 1000) << "a page with content";
        EXPECT_EQ(CountMismatches(*viewer, expected), 0) << c.file.toStdString() << " page " << page;
        EXPECT_EQ(bool(viewer->PageFlags() & kApfFine), c.rowCopies == 1) << c.file.toStdString();
    }
    EXPECT_TRUE(errors.empty());
}

TEST(ViewerDocuments, TiffPagesInEveryBilevelCodingAreShownAsLibtiffDecodesThem)
{
    FaxDocumentFixtures make;
    const QString standard = make.Fax2Tiff("text-standard.apf", "standard.tif");
    const QString fine = make.Fax2Tiff("text-fine.apf", "fine.tif");
    const QString multi = make.Fax2Tiff("multi.apf", "multi.tif");
    struct Variant {
        QString tiff;
        int pages;
        int rowCopies;
    };
    const Variant variants[] = {
        {standard, 1, 2},
        {make.TiffCp(standard, {"-c", "g3:2d"}, "standard-2d.tif"), 1, 2},
        {make.TiffCp(standard, {"-c", "packbits"}, "standard-packbits.tif"), 1, 2},
        {make.TiffCp(fine, {"-c", "none"}, "fine-none.tif"), 1, 1},
        {make.TiffCp(fine, {"-c", "g4", "-f", "msb2lsb"}, "fine-g4-msb.tif"), 1, 1},
        {make.TiffCp(multi, {"-c", "g4"}, "multi-g4.tif"), 3, 1},
        {make.TiffCp(multi, {"-c", "g3:2d", "-f", "lsb2msb"}, "multi-2d-lsb.tif"), 3, 1},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.tiff.toStdString());
        ExpectPagesAsReference({v.tiff, make.TiffPages(v.tiff, v.pages), v.rowCopies});
    }
}

TEST(ViewerDocuments, PdfFaxPagesAreShownAsPdftoppmRendersThemAtTheImageResolution)
{
    FaxDocumentFixtures make;
    const QString multi = make.TiffCp(make.Fax2Tiff("multi.apf", "multi.tif"), {"-c", "g4"}, "multi-g4.tif");
    const QString standard = make.TiffCp(make.Fax2Tiff("text-standard.apf", "std.tif"), {"-c", "g4"}, "std-g4.tif");
    const QString multiPdf = make.Tiff2Pdf(multi, "multi.pdf");
    const QString standardPdf = make.Tiff2Pdf(standard, "standard.pdf");
    // The page renders at its image's resolution, pdftoppm at the same.
    for (const auto& [pdf, yDpi, rowCopies] : {std::tuple{multiPdf, 196, 1}, std::tuple{standardPdf, 98, 2}}) {
        std::unique_ptr<FaxDocument> document;
        ASSERT_EQ(OpenFaxDocument(QFile::encodeName(pdf).toStdString(), document), 0);
        FaxPageFormat format;
        ASSERT_EQ(document->PageFormat(1, format), 0);
        EXPECT_NEAR(format.xDpi, 204, 0.01);
        EXPECT_NEAR(format.yDpi, yDpi, 0.01);
        ExpectPagesAsReference({pdf, make.PdfPages(pdf, format.xDpi, format.yDpi), rowCopies});
    }

    // A typed cover page renders at 200 dots per inch, grey dithered.
    const QString cover = make.CoverPagePdf("cover.pdf");
    auto viewer = ShownViewer(QSize(1700, 2400));
    viewer->SetFileName(cover);
    ASSERT_EQ(viewer->PageCount(), 1);
    TViewerPageBitmap bitmap;
    ASSERT_EQ(viewer->Perform(kVwGetPageBitmap, 1, reinterpret_cast<intptr_t>(&bitmap)), 1);
    EXPECT_EQ(bitmap.width, 1653); // A4 at 200 dpi
    EXPECT_EQ(bitmap.height, 2339);
    const PixelGrid shown = GridOf(bitmap.bitmap.convertToFormat(QImage::Format_RGB32));
    const QImage reference = make.PdfPages(cover, 200, 200).at(0).convertToFormat(QImage::Format_Grayscale8);
    ASSERT_EQ(reference.size(), QSize(shown.width, shown.height));
    // Dithering is not pdftoppm's, so compare the ink of each 16 x 16 block
    // with the grey levels pdftoppm gives it.
    int differentBlocks = 0;
    for (int by = 0; by + 16 <= shown.height; by += 16)
        for (int bx = 0; bx + 16 <= shown.width; bx += 16) {
            int black = 0;
            int darkness = 0;
            for (int y = by; y < by + 16; ++y)
                for (int x = bx; x < bx + 16; ++x) {
                    black += shown.At(x, y);
                    darkness += 255 - reference.constScanLine(y)[x];
                }
            differentBlocks += std::abs(black - darkness / 255) > 32;
        }
    EXPECT_LT(differentBlocks, 40);
    EXPECT_GT(shown.BlackCount(), 20000);
}

TEST(ViewerDocuments, AStandardTiffHasTheShapeOfItsFineTwinOnScreen)
{
    FaxDocumentFixtures make;
    auto viewer = ShownViewer();
    QSize shapes[2];
    const char* twins[] = {"text-standard.apf", "text-fine.apf"};
    for (int i = 0; i < 2; ++i) {
        viewer->SetFileName(make.Fax2Tiff(twins[i], QStringLiteral("twin-%1.tif").arg(i)));
        TViewerRect rect;
        viewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&rect));
        shapes[i] = QSize(rect.right + 1, rect.bottom + 1);
    }
    EXPECT_EQ(shapes[0].width(), shapes[1].width());
    EXPECT_NEAR(shapes[0].height(), shapes[1].height(), shapes[1].height() / 100.0);
}

// A TIFF of one directory: the given tags (all LONG), then `data` as its
// only strip.
QByteArray TinyTiff(std::vector<std::pair<uint16_t, uint32_t>> tags, const QByteArray& data, bool loop = false)
{
    QByteArray out("II*\0", 4);
    auto u16 = [&](uint16_t v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(uint16_t(v & 0xFFFF)); u16(uint16_t(v >> 16)); };
    const uint32_t ifd = 8;
    const uint32_t stripAt = ifd + 2 + uint32_t(tags.size() + 2) * 12 + 4;
    tags.push_back({273, stripAt});
    tags.push_back({279, uint32_t(data.size())});
    std::sort(tags.begin(), tags.end());
    u32(ifd);
    u16(uint16_t(tags.size()));
    for (const auto& [tag, value] : tags) {
        u16(tag);
        u16(4); // LONG
        u32(1);
        u32(value);
    }
    u32(loop ? ifd : 0);
    return out + data;
}

QByteArray Replaced(QByteArray bytes, const QByteArray& from, const QByteArray& to)
{
    const qsizetype at = bytes.indexOf(from);
    EXPECT_GE(at, 0) << from.toStdString();
    return at < 0 ? bytes : bytes.replace(at, from.size(), to);
}

TEST(ViewerDocuments, HostileTiffAndPdfFilesEndInTheViewerError)
{
    FaxDocumentFixtures make;
    const QString tiff = make.TiffCp(make.Fax2Tiff("multi.apf", "multi.tif"), {"-c", "g4"}, "multi-g4.tif");
    QFile tiffFile(tiff);
    tiffFile.open(QIODevice::ReadOnly);
    const QByteArray tiffBytes = tiffFile.readAll();
    QFile pdfFile(make.Tiff2Pdf(tiff, "multi.pdf"));
    pdfFile.open(QIODevice::ReadOnly);
    const QByteArray pdf = pdfFile.readAll();
    const QByteArray garbage(5000, '\x5A');
    const std::vector<std::pair<uint16_t, uint32_t>> g4 = {{259, 4}, {262, 0}, {258, 1}, {277, 1}, {278, 100000}};
    auto page = [&](uint32_t width, uint32_t height) {
        auto tags = g4;
        tags.push_back({256, width});
        tags.push_back({257, height});
        return tags;
    };
    struct Case {
        const char* name;
        QByteArray bytes;
        bool mustFail; // else it may show what survives, but ends cleanly
    };
    const Case cases[] = {
        {"TIFF 100000 pixels square", TinyTiff(page(100000, 100000), garbage), true},
        {"TIFF beyond the pixel bound", TinyTiff(page(30000, 30000), garbage), true},
        {"TIFF bomb: garbage for a large page within the bound", TinyTiff(page(8000, 8000), garbage), false},
        {"TIFF zero width", TinyTiff(page(0, 100), garbage), true},
        {"TIFF directory looping on itself", TinyTiff(page(1728, 100), garbage, true), false},
        {"TIFF 24-bit colour, huge", TinyTiff({{256, 20000}, {257, 20000}, {258, 8}, {277, 3}, {262, 2}, {259, 1}}, garbage), true},
        {"TIFF cut in half", tiffBytes.left(tiffBytes.size() / 2), false},
        {"TIFF header only", QByteArray("II*\0\x08\0\0\0", 8), true},
        {"PDF cut in half", pdf.left(pdf.size() / 2), false},
        {"PDF header and garbage", "%PDF-1.4\n" + garbage, true},
        {"PDF with a broken cross-reference table", Replaced(pdf, "xref", "xrex"), false},
        {"PDF whose page count lies", Replaced(pdf, "/Count 3", "/Count 999999"), false},
        {"PDF with a huge page", Replaced(pdf, "/MediaBox [0.0000 0.0000 609.8823 792.0000]", "/MediaBox [0 0 9999999 9999999]"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = make.Path("hostile");
        QFile out(path);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(c.bytes);
        out.close();
        auto viewer = ShownViewer();
        std::vector<int> errors;
        viewer->OnViewerError = [&](TKivCustomFaxViewer*, int code) { errors.push_back(code); };
        bool raised = false;
        try {
            viewer->SetFileName(path);
            for (int p = 2; p <= viewer->PageCount() && errors.empty(); ++p)
                viewer->SetCurrentPage(p);
        } catch (const EKIVException& e) {
            raised = true;
            EXPECT_LT(e.ErrorCode(), 0);
        }
        if (c.mustFail) {
            EXPECT_TRUE(raised || !errors.empty());
        }
        EXPECT_LE(viewer->PageCount(), kMaxFaxDocumentPages);
        EXPECT_FALSE(TViewer::Busy());
    }
}

} // namespace
