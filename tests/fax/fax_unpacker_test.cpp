// TKivFaxUnpacker: properties, bitmaps (trim, scaling, empty pages), events
// and the bridge that turns a handler's exception into the operation's.
#include "fax/fax_unpacker.h"
#include "fax/kiv_errors.h"
#include "fax/page_bitmap.h"
#include "tests/fax/fax_test_util.h"

#include <gtest/gtest.h>

namespace {

class UnpackerTest : public ::testing::Test {
protected:
    void Use(const std::vector<TestPage>& pages)
    {
        unpacker.SetInFileName(QString::fromStdString(files.Write("fax.apf", ApfBytes(pages))));
    }
    TKivFaxUnpacker unpacker;
    FaxTempFiles files;
};

std::vector<uint8_t> Page(int lines, const std::vector<int>& runs)
{
    CodeWriter w;
    w.Eol();
    for (int i = 0; i < lines; ++i)
        w.Line(runs);
    return w.Bytes();
}

TEST_F(UnpackerTest, ZeroScaleFactorsAreIgnored)
{
    unpacker.SetHorizDiv(0);
    unpacker.SetVertMult(0);
    EXPECT_EQ(unpacker.HorizDiv(), 1);
    EXPECT_EQ(unpacker.VertMult(), 1);
}

TEST_F(UnpackerTest, InFileNameSetsOutFileName)
{
    unpacker.SetInFileName(QStringLiteral("/tmp/faxes/fax1.apf"));
    EXPECT_EQ(unpacker.OutFileName(), QStringLiteral("/tmp/faxes/fax1"));
    unpacker.SetOutFileName(QStringLiteral("kept"));
    unpacker.SetInFileName(QStringLiteral("/TMP/FAXES/FAX1.APF"));
    EXPECT_EQ(unpacker.InFileName(), QStringLiteral("/tmp/faxes/fax1.apf"));
    EXPECT_EQ(unpacker.OutFileName(), QStringLiteral("kept"));
    unpacker.SetInFileName(QStringLiteral("dir.v2/plain"));
    EXPECT_EQ(unpacker.OutFileName(), QStringLiteral("dir.v2/plain"));
}

TEST_F(UnpackerTest, ErrorsRaiseExceptionsButPageCountDoesNot)
{
    unpacker.SetInFileName(QString::fromStdString(files.Path("missing.apf")));
    EXPECT_EQ(unpacker.PageCount(), 0);
    EXPECT_THROW(unpacker.FineResolution(), EInOutError);
    EXPECT_THROW(unpacker.UnpackPage(1), EInOutError);
    Use({TestPage{Page(2, {1728}), 0}});
    EXPECT_EQ(unpacker.PageCount(), 1);
    EXPECT_THROW(unpacker.UnpackPage(2), EFaxBadFormat);
    unpacker.SetWhitespaceCompression(true);
    unpacker.SetWhitespaceTo(1);
    EXPECT_THROW(unpacker.UnpackPage(1), EBadArgument);
    unpacker.SetLoading(true);
    EXPECT_NO_THROW(unpacker.UnpackPage(1)); // errors are silent while loading
}

TEST_F(UnpackerTest, BlankPagesAreTwoBytesWideAndEmptyPagesHaveNoImage)
{
    Use({TestPage{Page(10, {1728}), kApfFine}, TestPage{{0x00, 0x80, 0x00}, kApfFine}});
    const QImage blank = unpacker.UnpackPage(1);
    EXPECT_EQ(blank.width(), 16);
    EXPECT_EQ(blank.height(), 10);
    EXPECT_EQ(blank.pixel(3, 3), qRgb(255, 255, 255));
    EXPECT_TRUE(unpacker.UnpackPage(2).isNull());
}

TEST_F(UnpackerTest, UsedWidthTrimAndAspectModes)
{
    // Black pixels up to pixel 300 (byte 37): the used width is 38 bytes.
    Use({TestPage{Page(3, {290, 11, 1427}), 0}});
    QImage page = unpacker.UnpackPage(1);
    EXPECT_EQ(page.width(), 38 * 8);
    EXPECT_EQ(page.height(), 6);
    EXPECT_EQ(page.pixel(300, 5), qRgb(0, 0, 0));
    EXPECT_EQ(page.pixel(301, 5), qRgb(255, 255, 255));
    EXPECT_EQ(page.pixel(303, 5), qRgb(255, 255, 255)); // padding byte is background
    unpacker.SetAutoScaleMode(asNone);
    EXPECT_EQ(unpacker.UnpackPage(1).height(), 3);
    unpacker.SetAutoScaleMode(asHalfWidth);
    page = unpacker.UnpackPage(1);
    EXPECT_EQ(page.height(), 3);
    // Inverted lines are halved, so white (set) pixels win the OR: output
    // pixels 145..149 stay black, pixel 150 (input 300 and 301) turns white.
    EXPECT_EQ(page.width(), 20 * 8);
    EXPECT_EQ(page.pixel(149, 1), qRgb(0, 0, 0));
    EXPECT_EQ(page.pixel(150, 1), qRgb(255, 255, 255));
}

// A line narrower than its wide page is white past its end, in a plain and
// in an inverted bitmap alike.
TEST_F(UnpackerTest, NarrowLinesOnWidePagesEndInWhite)
{
    CodeWriter w;
    w.Eol();
    w.Line({1900, 148});
    w.WhiteLine(1728);
    w.Line({1900, 148});
    const std::string path = files.Write("wide.apf", ApfBytes({TestPage{w.Bytes(), kApfWide}}));
    for (const bool invert : {false, true}) {
        std::unique_ptr<UnpackState> state;
        ASSERT_EQ(CreateUnpackState(state, nullptr, nullptr), 0);
        ClearUnpackOption(*state, kUnpackYield);
        int width = 0, height = 0;
        QImage bitmap;
        ASSERT_EQ(UnpackPageToBitmap(*state, path, 1, invert, width, height, bitmap), 0);
        ASSERT_EQ(bitmap.width(), 2048);
        EXPECT_EQ(bitmap.pixel(2000, 0), qRgb(0, 0, 0)) << invert;
        for (int x = 1728; x < bitmap.width(); ++x)
            ASSERT_EQ(bitmap.pixel(x, bitmap.height() / 2), qRgb(255, 255, 255)) << "invert " << invert << ", x " << x;
    }
}

TEST_F(UnpackerTest, RowMemoryGrowsInChunksUpToALimit)
{
    Use({TestPage{Page(2500, {1, 1, 1726}), kApfFine}, TestPage{Page(20000, {1728}), 0},
         TestPage{Page(70000, {1728}), 0}});
    const QImage page = unpacker.UnpackPage(1);
    EXPECT_EQ(page.height(), 2500);
    EXPECT_EQ(page.pixel(1, 2499), qRgb(0, 0, 0));
    // 40000 rows with double height: a long receipt, five metres.
    EXPECT_EQ(unpacker.UnpackPage(2).height(), 40000);
    // 140000 rows: more than any paper fax.
    EXPECT_THROW(unpacker.UnpackPage(3), std::bad_alloc);
}

TEST_F(UnpackerTest, ScalingRoundsDown)
{
    Use({TestPage{Page(7, {100, 1, 1627}), kApfFine}});
    unpacker.SetScaling(true);
    unpacker.SetHorizDiv(2);
    QImage page = unpacker.UnpackPage(1);
    EXPECT_EQ(page.width(), 112 / 2); // 13 used bytes, rounded up to 14
    EXPECT_EQ(page.height(), 7);
    EXPECT_EQ(page.format(), QImage::Format_Mono);
    unpacker.SetHorizDiv(1);
    unpacker.SetVertMult(3);
    unpacker.SetVertDiv(2);
    page = unpacker.UnpackPage(1);
    EXPECT_EQ(page.width(), 112);
    EXPECT_EQ(page.height(), 10);
    EXPECT_EQ(page.pixel(100, 9), qRgb(0, 0, 0));
}

TEST_F(UnpackerTest, StatusEventsAndAbort)
{
    Use({TestPage{Page(40, {0, 1728}), kApfFine}});
    int calls = 0;
    unpacker.OnStatus = [&](TKivCustomFaxUnpacker* sender, const QString& name, int page, int done, int total) {
        EXPECT_EQ(sender, &unpacker);
        EXPECT_EQ(name, unpacker.InFileName());
        EXPECT_EQ(page, 1);
        EXPECT_LE(done, total);
        if (++calls == 50)
            sender->SetOptions(sender->Options() | uoAbort);
    };
    const QImage page = unpacker.UnpackPage(1);
    EXPECT_EQ(calls, 51); // the last byte's report, then the closing one
    EXPECT_GT(page.height(), 0);
    EXPECT_LT(page.height(), 40);
    // The next operation prepares a fresh state without the abort flag.
    unpacker.OnStatus = nullptr;
    unpacker.SetOptions(uoYield);
    EXPECT_EQ(unpacker.UnpackPage(1).height(), 40);
}

TEST_F(UnpackerTest, HandlerExceptionsBecomeTheOperationsException)
{
    Use({TestPage{Page(4, {0, 1728}), kApfFine}});
    unpacker.OnStatus = [](TKivCustomFaxUnpacker*, const QString&, int, int, int) { throw EFaxBadFormat(-8001); };
    EXPECT_THROW(unpacker.UnpackPage(1), EFaxBadFormat);
    unpacker.OnStatus = [](TKivCustomFaxUnpacker*, const QString&, int, int, int) { throw EInOutError("x", 5); };
    try {
        unpacker.UnpackPage(1);
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
        EXPECT_STREQ(e.what(), "File access denied");
    }
    unpacker.OnStatus = [](TKivCustomFaxUnpacker*, const QString&, int, int, int) { throw std::bad_alloc(); };
    EXPECT_THROW(unpacker.UnpackPage(1), std::bad_alloc);
    unpacker.OnStatus = [](TKivCustomFaxUnpacker*, const QString&, int, int, int) { throw 7; };
    try {
        unpacker.UnpackPage(1);
        FAIL();
    } catch (const EFax&) {
        FAIL();
    } catch (const EKIVException& e) {
        EXPECT_STREQ(e.what(), "Orvo exception");
    }
}

TEST_F(UnpackerTest, HandlerMayStartAnotherOperation)
{
    Use({TestPage{Page(20, {0, 1728}), kApfFine}});
    bool nested = false;
    unpacker.OnStatus = [&](TKivCustomFaxUnpacker* sender, const QString&, int, int, int) {
        if (!nested) {
            nested = true;
            EXPECT_EQ(sender->PageCount(), 1); // replaces the state of the running decode
        }
    };
    EXPECT_EQ(unpacker.UnpackPage(1).height(), 20);
}

} // namespace
