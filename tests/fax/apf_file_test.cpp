// Reading APF files: signature probe, file header, page walking and the
// error codes for damaged files.
#include "fax/apf_file.h"
#include "fax/kiv_errors.h"
#include "tests/fax/fax_test_util.h"

#include <gtest/gtest.h>

namespace {

std::vector<TestPage> ThreePages()
{
    return {TestPage{std::vector<uint8_t>(5, 1), kApfFine}, TestPage{std::vector<uint8_t>(300, 2), kApfWide},
            TestPage{{}, kApfLengthWords}};
}

TEST(ApfFile, ProbeAcceptsOnlyTheExactSignature)
{
    FaxTempFiles files;
    std::vector<uint8_t> bytes = ApfBytes({});
    EXPECT_TRUE(ApfProbeSignature(files.Write("good.apf", bytes)));
    bytes[5] = 0x1B;
    const std::string bad = files.Write("bad.apf", bytes);
    EXPECT_FALSE(ApfProbeSignature(bad));
    ApfFileHeader header;
    EXPECT_EQ(ApfReadFileHeader(bad, header), kErrFaxBadFormat);
    EXPECT_FALSE(ApfProbeSignature(files.Write("short.apf", {'A', 'P', 'F', '1', '0'})));
    EXPECT_FALSE(ApfProbeSignature(files.Path("missing.apf")));
    EXPECT_FALSE(ApfProbeSignature(""));
}

TEST(ApfFile, OpenFailuresGiveInputOutputCodes)
{
    FaxTempFiles files;
    ApfFileHeader header;
    ApfPageHeader page;
    EXPECT_EQ(ApfReadFileHeader("", header), kErrFileNotFound);
    EXPECT_EQ(ApfReadFileHeader(files.Path("missing.apf"), header), kErrFileNotFound);
    EXPECT_EQ(ApfReadFileHeader(files.Path("no-folder/missing.apf"), header), kErrPathNotFound);
    EXPECT_EQ(ApfFindPageHeader(files.Write("tiny.apf", {'A', 'P', 'F'}), 1, page), kErrReadBeyondEnd);
}

TEST(ApfFile, FindsEveryPageByItsImageLength)
{
    FaxTempFiles files;
    for (uint32_t gap : {0u, 37u}) {
        const std::string path = files.Write("pages.apf", ApfBytes(ThreePages(), -1, gap));
        ApfFileHeader header;
        ASSERT_EQ(ApfReadFileHeader(path, header), 0);
        EXPECT_EQ(header.PageCount(), 3);
        EXPECT_EQ(header.FirstPageOffset(), 64 + gap);
        ApfPageHeader page;
        ASSERT_EQ(ApfFindPageHeader(path, 1, page), 0);
        EXPECT_EQ(page.ImageLength(), 5u);
        EXPECT_EQ(page.Flags(), kApfFine);
        ASSERT_EQ(ApfFindPageHeader(path, 2, page), 0);
        EXPECT_EQ(page.ImageLength(), 300u);
        EXPECT_EQ(page.Flags(), kApfWide);
        ASSERT_EQ(ApfFindPageHeader(path, 3, page), 0);
        EXPECT_EQ(page.Flags(), kApfLengthWords);
        EXPECT_EQ(ApfFindPageHeader(path, 4, page), kErrFaxBadFormat);
    }
}

TEST(ApfFile, PageCountLimitsThePagesThatCanBeAskedFor)
{
    FaxTempFiles files;
    ApfPageHeader page;
    const std::string empty = files.Write("empty.apf", ApfBytes({}));
    EXPECT_EQ(ApfFindPageHeader(empty, 0, page), 0);
    EXPECT_EQ(ApfFindPageHeader(empty, 1, page), kErrFaxBadFormat);
    // A page count far beyond the pages present ends at the end of the file.
    const std::string lying = files.Write("lying.apf", ApfBytes(ThreePages(), 60000));
    EXPECT_EQ(ApfFindPageHeader(lying, 3, page), 0);
    EXPECT_EQ(ApfFindPageHeader(lying, 4, page), kErrReadBeyondEnd);
    EXPECT_EQ(ApfFindPageHeader(lying, 60000, page), kErrReadBeyondEnd);
}

TEST(ApfFile, HugeImageLengthsDoNotWrapAround)
{
    FaxTempFiles files;
    std::vector<TestPage> pages = ThreePages();
    pages[0].lengthOverride = 0xFFFFFFF0; // 32-bit sum with the header would wrap to page 2's offset
    const std::string path = files.Write("wrap.apf", ApfBytes(pages));
    ApfPageHeader page;
    EXPECT_EQ(ApfFindPageHeader(path, 1, page), 0);
    EXPECT_EQ(ApfFindPageHeader(path, 2, page), kErrReadBeyondEnd);
}

TEST(ApfFile, TruncatedPageHeaderGivesReadBeyondEnd)
{
    FaxTempFiles files;
    std::vector<uint8_t> bytes = ApfBytes(ThreePages());
    bytes.resize(64 + 16 + 5 + 10);
    ApfPageHeader page;
    const std::string path = files.Write("cut.apf", bytes);
    EXPECT_EQ(ApfFindPageHeader(path, 1, page), 0);
    EXPECT_EQ(ApfFindPageHeader(path, 2, page), kErrReadBeyondEnd);
}

} // namespace
