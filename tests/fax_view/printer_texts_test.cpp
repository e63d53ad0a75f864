// Header and footer templates, log lines, and the sheet and scaling rules.
#include "fax/apf_file.h"
#include "fax/fax_unpacker.h"
#include "fax/view/fax_printer_layout.h"
#include "fax/view/fax_printer_texts.h"
#include "tests/support/qt_print.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(PrinterTexts, TemplateTokensRunToTheNextSpace)
{
    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
    const TMarginValues values{"/home/fax/faxes/in$P.apf", 12, 3, when};
    struct Case {
        const char* text;
        QString expanded;
    };
    for (const Case& c : {
             Case{"FILE: $F", "FILE: /home/fax/faxes/in$P.apf"}, // a "$" brought in by a value stays
             Case{"PAGE: $P of $N", "PAGE: 3 of 12"},
             Case{"page $p of $n", "page 3 of 12"},
             Case{"$P/$N pages", "3 pages"},           // one token up to the space
             Case{"a $Q-gone b", "a  b"},              // unknown token vanishes
             Case{"end $", "end "},                    // a lone "$" at the end
             Case{"$$F x", " x"},
             Case{"on $D at $T", "on " + SystemDateText(when) + " at " + SystemTimeText(when)},
             Case{"no tokens", "no tokens"},
         }) {
        EXPECT_EQ(ExpandMarginTemplate(c.text, values), c.expanded) << c.text;
    }
    EXPECT_TRUE(SystemTimeText(when).contains("07")) << "the time carries its seconds";
}

TEST(PrinterTexts, LogLinesEndInCrLfAndJobsInAnEmptyLine)
{
    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
    const QByteArray stamp = SystemDateTimeText(when).toLocal8Bit();
    const QString name = "/tmp/faxes/Fax 1.apf";
    EXPECT_EQ(FaxPrintLogLine(0, name, when), "Printing /tmp/faxes/Fax 1.apf started at " + stamp + "\r\n");
    EXPECT_EQ(FaxPrintLogLine(1, name, when), "Printing /tmp/faxes/Fax 1.apf finished at " + stamp + "\r\n\r\n");
    EXPECT_EQ(FaxPrintLogLine(2, name, when), "Printing /tmp/faxes/Fax 1.apf aborted at " + stamp + "\r\n\r\n");
    EXPECT_EQ(FaxPrintLogLine(3, name, when), "Printing /tmp/faxes/Fax 1.apf failed at " + stamp + "\r\n\r\n");
}

TEST(PrinterLayout, ScalingKeepsSquarePixelsAndTheWholePageInTheArea)
{
    const TPrintArea area{10, 20, 4010, 6020}; // 4000 x 6000
    const TFaxPageShape line{1728, 1};
    struct Case {
        TPrintScale scale;
        int width, height, ppi;
        TFaxPageShape shape;
        int drawnWidth, drawnHeight;
    };
    for (const Case& c : {
             Case{psFitToPage, 1728, 2200, 600, line, 3720, 4736},         // Trunc(0.93 x 4000) across
             Case{psFitToPage, 864, 2200, 600, line, 1860, 4736},          // trimmed page: scale of its line
             Case{psFitToPage, 1728, 1100, 600, {1728, 2}, 3720, 4736},    // standard rows stand for two
             Case{psFitToPage, 2048, 2400, 600, {2048, 1}, 3720, 4359},    // a wide line takes the same width
             Case{psFitToPage, 1728, 4000, 600, line, 2592, 6000},         // taller than the area: by the height
             Case{psNone, 1728, 2200, 600, line, 4713, 6000},              // 6600 tall: scaled to the area
             Case{psNone, 1728, 1000, 300, line, 2592, 1500},
             Case{psNone, 101, 1, 99, line, 50, 0},                        // 49.97 and 0.49 round to nearest
         }) {
        const TPrintSize size = PrintedImageSize(c.scale, area, c.width, c.height, c.ppi, c.shape);
        EXPECT_EQ(size.width, c.drawnWidth) << c.width << "x" << c.height;
        EXPECT_EQ(size.height, c.drawnHeight) << c.width << "x" << c.height;
    }
    struct ShapeCase {
        uint16_t flags;
        TAutoScaleMode mode;
        int bitmapWidth;
        int lineWidth, rowAspect;
    };
    for (const ShapeCase& c : {ShapeCase{0, asDoubleHeight, 900, 1728, 1}, ShapeCase{0, asNone, 900, 1728, 2},
                               ShapeCase{0, asHalfWidth, 500, 864, 1}, ShapeCase{kApfWide, asNone, 2048, 2048, 2},
                               ShapeCase{kApfFine, asNone, 1900, 1900, 1}}) {
        const TFaxPageShape shape = FaxPageShape(c.flags, c.mode, c.bitmapWidth);
        EXPECT_EQ(shape.lineWidth, c.lineWidth) << c.flags << " " << c.mode;
        EXPECT_EQ(shape.rowAspect, c.rowAspect) << c.flags << " " << c.mode;
    }
    // Products beyond 32 bits.
    EXPECT_EQ(MulDivRounded(2000000000, 3, 4), 1500000000);
}

TEST(PrinterLayout, MultiPageQuadrants)
{
    // Portrait 1000 x 2000: quadrants of 500 x 1000, less 2 pixels a side.
    EXPECT_EQ(PageArea(1000, 2000, true, false, 0).left, 2);
    const TPrintArea q3 = PageArea(1000, 2000, true, false, 3);
    EXPECT_EQ((std::vector<int>{q3.left, q3.top, q3.right, q3.bottom}), (std::vector<int>{502, 1002, 998, 1998}));
    const TPrintArea l2 = PageArea(2000, 1000, true, true, 2);
    EXPECT_EQ((std::vector<int>{l2.left, l2.top, l2.right, l2.bottom}), (std::vector<int>{2, 2, 998, 998}));
    const TPrintArea l1 = PageArea(2000, 1000, true, true, 1);
    EXPECT_EQ((std::vector<int>{l1.left, l1.top, l1.right, l1.bottom}), (std::vector<int>{1002, 2, 1998, 998}));
    const TPrintArea whole = PageArea(1000, 2000, false, false, 3);
    EXPECT_EQ((std::vector<int>{whole.left, whole.top, whole.right, whole.bottom}), (std::vector<int>{0, 0, 1000, 2000}));
    std::vector<int> portrait, landscape;
    for (int i = 0; i < 6; ++i) {
        portrait.push_back(StartsNewSheet(true, false, i));
        landscape.push_back(StartsNewSheet(true, true, i));
    }
    EXPECT_EQ(portrait, (std::vector<int>{1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(landscape, (std::vector<int>{1, 0, 1, 0, 1, 0}));
}

} // namespace
