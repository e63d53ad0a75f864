// Decoding ghostscript's fax pages and comparing them pixel for pixel with
// libtiff's decoding of the same data (tools/make_fax_fixtures.py).
#include "fax/apf_file.h"
#include "fax/fax_unpacker.h"
#include "fax/page_bitmap.h"
#include "tests/fax/fax_test_util.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

bool ReferenceBlack(const QImage& ref, int x, int y) { return qGray(ref.pixel(x, y)) < 128; }
bool DecodedBlack(const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) < 128; }

// `rowsPerLine` decoded rows stand for one reference row (2 with double height).
void ExpectMatchesReference(const QImage& decoded, const std::string& referenceName, int rowsPerLine)
{
    const QImage ref(QString::fromStdString(FaxFixture(referenceName)));
    ASSERT_FALSE(ref.isNull()) << referenceName;
    ASSERT_FALSE(decoded.isNull());
    // ghostscript's last line has no EOL after it, so the decoder drops it.
    ASSERT_EQ(decoded.height(), (ref.height() - 1) * rowsPerLine) << referenceName;
    ASSERT_LE(decoded.width(), ref.width());
    int mismatches = 0;
    int blackPixels = 0;
    for (int y = 0; y + 1 < ref.height(); ++y) {
        for (int x = 0; x < ref.width(); ++x) {
            const bool expected = ReferenceBlack(ref, x, y);
            blackPixels += expected;
            if (x >= decoded.width()) {
                mismatches += expected; // the trimmed part must be white
                continue;
            }
            for (int r = 0; r < rowsPerLine; ++r)
                mismatches += DecodedBlack(decoded, x, y * rowsPerLine + r) != expected;
        }
    }
    EXPECT_EQ(mismatches, 0) << referenceName;
    EXPECT_GT(blackPixels, 100) << referenceName;
}

struct FixtureCase {
    const char* file;
    const char* reference;
    int page;
};

class FixturePages : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixturePages, EqualLibtiffPixelForPixel)
{
    const FixtureCase& c = GetParam();
    TKivFaxUnpacker unpacker;
    unpacker.SetOptions(0);
    unpacker.SetInFileName(QString::fromStdString(FaxFixture(c.file)));
    const bool fine = unpacker.FineResolution();
    const QImage page = unpacker.UnpackPage(c.page);
    EXPECT_EQ(page.format(), QImage::Format_Mono);
    EXPECT_EQ(page.width() % 16, 0); // an even number of bytes
    ExpectMatchesReference(page, c.reference, fine ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(Ghostscript, FixturePages,
                         ::testing::Values(FixtureCase{"text-standard.apf", "text-standard-1.png", 1},
                                           FixtureCase{"text-fine.apf", "text-fine-1.png", 1},
                                           FixtureCase{"lines-standard.apf", "lines-standard-1.png", 1},
                                           FixtureCase{"black-fine.apf", "black-fine-1.png", 1},
                                           FixtureCase{"wide.apf", "wide-1.png", 1},
                                           FixtureCase{"multi.apf", "multi-1.png", 1},
                                           FixtureCase{"multi.apf", "multi-3.png", 3},
                                           FixtureCase{"multi-framed.apf", "multi-2.png", 2},
                                           FixtureCase{"multi-framed.apf", "multi-3.png", 3},
                                           FixtureCase{"multi-gap.apf", "multi-1.png", 1},
                                           FixtureCase{"multi-gap.apf", "multi-3.png", 3}));

TEST(FixtureFiles, HeadersAndFlags)
{
    TKivFaxUnpacker unpacker;
    unpacker.SetInFileName(QString::fromStdString(FaxFixture("multi-gap.apf")));
    EXPECT_EQ(unpacker.PageCount(), 3);
    EXPECT_TRUE(unpacker.FineResolution());
    EXPECT_FALSE(unpacker.WidePage());
    unpacker.SetInFileName(QString::fromStdString(FaxFixture("wide.apf")));
    EXPECT_EQ(unpacker.PageCount(), 1);
    EXPECT_FALSE(unpacker.FineResolution());
    EXPECT_TRUE(unpacker.WidePage());
}

TEST(FixtureFiles, WithoutInversionSetBitsAreBlack)
{
    std::unique_ptr<UnpackState> state;
    ASSERT_EQ(CreateUnpackState(state, nullptr, nullptr), 0);
    ClearUnpackOption(*state, kUnpackYield);
    int width = 0;
    int height = 0;
    QImage plain;
    ASSERT_EQ(UnpackPageToBitmap(*state, FaxFixture("text-fine.apf"), 1, false, width, height, plain), 0);
    EXPECT_EQ(width, plain.width());
    EXPECT_EQ(height, plain.height());
    ExpectMatchesReference(plain, "text-fine-1.png", 1);
    QImage inverted;
    ASSERT_EQ(UnpackPageToBitmap(*state, FaxFixture("text-fine.apf"), 1, true, width, height, inverted), 0);
    ASSERT_EQ(inverted.size(), plain.size());
    EXPECT_EQ(plain.constScanLine(40)[10] ^ inverted.constScanLine(40)[10], 0xFF);
}

} // namespace
