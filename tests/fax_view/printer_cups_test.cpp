// Printing through a private CUPS scheduler to a cups-pdf queue, checked in
// the PDFs that arrive: sheets, quadrants, header and footer texts, sizes.
#include "fax/view/fax_printer.h"
#include "tests/fax_view/printer_test_util.h"
#include "tests/support/cups_server.h"
#include "tests/support/qt_print.h"

#include <QPageSize>
#include <gtest/gtest.h>

#include <memory>

namespace {

// One scheduler for the whole test program, started before any test so
// that every QPrinter of the program sees only the private queue.
class CupsEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!CupsServer::Available(&why))
            return;
        server = std::make_unique<CupsServer>();
        if (!server->Start(&why))
            server.reset();
    }
    void TearDown() override { server.reset(); }

    std::unique_ptr<CupsServer> server;
    std::string why;
};

CupsEnvironment* const cups = static_cast<CupsEnvironment*>(::testing::AddGlobalTestEnvironment(new CupsEnvironment));

class CupsPrintTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!cups->server)
            GTEST_SKIP() << "no private CUPS scheduler: " << cups->why;
        printer.Printer().setPrinterName(QString::fromStdString(cups->server->QueueName()));
        printer.Printer().setResolution(300);
    }

    // Prints and returns the one PDF that arrives.
    std::string Print()
    {
        printer.PrintPages();
        const std::vector<std::string> out = cups->server->TakeOutput();
        EXPECT_EQ(out.size(), 1u) << cups->server->Log();
        return out.empty() ? std::string() : out.back();
    }

    FaxTempFiles files;
    TKivFaxPrinter printer;
};

TEST_F(CupsPrintTest, MultiPagePortraitFillsQuadrantsInReadingOrder)
{
    std::vector<TestPage> six;
    for (int i = 0; i < 6; ++i)
        six.push_back(BarPage(800, 200, 1528));
    const std::string fax = files.Write("six.apf", ApfBytes(six));
    printer.SetFileName(QString::fromStdString(fax));
    printer.SetMultiPage(true);
    printer.FaxHeader().SetCaption("FILE: $F $Xunknown end");
    const std::string pdf = Print();
    ASSERT_EQ(PdfPageCount(pdf), 2);

    struct Quadrant {
        int sheet;
        QRectF part;
        int page; // 0: empty
    };
    for (const Quadrant& q : {Quadrant{1, kTopLeft, 1}, Quadrant{1, kTopRight, 2}, Quadrant{1, kBottomLeft, 3},
                              Quadrant{1, kBottomRight, 4}, Quadrant{2, kTopLeft, 5}, Quadrant{2, kTopRight, 6},
                              Quadrant{2, kBottomLeft, 0}, Quadrant{2, kBottomRight, 0}}) {
        SCOPED_TRACE("sheet " + std::to_string(q.sheet) + " page " + std::to_string(q.page));
        const QString text = PdfText(pdf, q.sheet, q.part);
        const double ink = Ink(PdfRaster(pdf, q.sheet), q.part);
        if (q.page == 0) {
            EXPECT_EQ(text, "");
            EXPECT_LT(ink, 0.01);
            continue;
        }
        EXPECT_TRUE(text.contains(QString("PAGE: %1 of 6").arg(q.page))) << text.toStdString();
        EXPECT_TRUE(text.contains("FILE: " + QString::fromStdString(fax) + " end")) << text.toStdString();
        EXPECT_FALSE(text.contains("unknown"));
        EXPECT_GT(ink, 0.15);
    }
}

TEST_F(CupsPrintTest, MultiPageLandscapePutsTwoPagesSideBySide)
{
    std::vector<TestPage> five(5, BarPage(400, 0, 1728));
    printer.SetFileName(QString::fromStdString(files.Write("five.apf", ApfBytes(five))));
    printer.SetMultiPage(true);
    printer.Printer().setPageOrientation(QPageLayout::Landscape);
    const std::string pdf = Print();
    ASSERT_EQ(PdfPageCount(pdf), 3);
    for (int sheet = 1; sheet <= 3; ++sheet) {
        SCOPED_TRACE(sheet);
        const QString text = PdfText(pdf, sheet);
        const int first = 2 * sheet - 1;
        EXPECT_TRUE(text.contains(QString("PAGE: %1 of 5").arg(first))) << text.toStdString();
        EXPECT_EQ(text.contains(QString("PAGE: %1 of 5").arg(first + 1)), sheet < 3) << text.toStdString();
    }
}

TEST_F(CupsPrintTest, NaturalSizeKeeps200DotsPerInchAndCapsTheHeight)
{
    // 1728 x 2200 on a 600 dpi printer: 5184 pixels (8.64 inches) wide and
    // 6600 (11 inches) tall; the 6000-line page is scaled down to the
    // sheet's height, its proportions kept.
    printer.SetFileName(QString::fromStdString(
        files.Write("black.apf", ApfBytes({BarPage(2200, 0, 1728), BarPage(6000, 0, 1728)}))));
    printer.SetPrintScale(psNone);
    printer.FaxHeader().SetEnabled(false);
    printer.FaxFooter().SetEnabled(false);
    printer.Printer().setResolution(600);
    printer.Printer().setPageSize(QPageSize(QPageSize::A3));
    const std::string pdf = Print();
    ASSERT_EQ(PdfPageCount(pdf), 2);
    const int dpi = 30;
    const QRect natural = InkBounds(PdfRaster(pdf, 1, dpi));
    EXPECT_NEAR(natural.width(), 8.64 * dpi, 2);
    EXPECT_NEAR(natural.height(), 11.0 * dpi, 2);
    const QImage sheet = PdfRaster(pdf, 2, dpi);
    const QRect capped = InkBounds(sheet);
    EXPECT_NEAR(capped.width(), capped.height() * 1728.0 / 6000, 2);
    EXPECT_LE(capped.bottom(), sheet.height());
    EXPECT_GT(capped.height(), 14.5 * dpi) << "the height is the printable height of A3";
    EXPECT_LT(capped.height(), 16.6 * dpi);
}

TEST_F(CupsPrintTest, CommandLinePrintsOneSheetForOnePage)
{
    const QString fax = QString::fromStdString(FaxFixture("multi.apf"));
    QProcess pellimar;
    pellimar.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), {"--print", fax, "--pages", "3-3"});
    ASSERT_TRUE(pellimar.waitForFinished(120000));
    EXPECT_EQ(pellimar.exitCode(), 0) << pellimar.readAllStandardError().toStdString();
    const std::vector<std::string> out = cups->server->TakeOutput();
    ASSERT_EQ(out.size(), 1u) << cups->server->Log();
    EXPECT_EQ(PdfPageCount(out[0]), 1);
    const QString text = PdfText(out[0], 1);
    EXPECT_TRUE(text.contains("FILE: " + fax)) << text.toStdString();
    EXPECT_TRUE(text.contains("PAGE: 3 of 3")) << text.toStdString();
}

} // namespace
