// The printing loop on QPrinter's PDF output: events, progress status, the
// status dialog, the print log, Abort, and pages that cannot be printed.
#include "fax/view/fax_printer.h"
#include "fax/view/fax_printer_status_display.h"
#include "tests/fax_view/printer_test_util.h"
#include "tests/support/qt_print.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPrintDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

class PrinterJobTest : public ::testing::Test {
protected:
    PrinterJobTest()
    {
        status = new TKivFaxPrinterStatus(&owner);
        printer = new TKivFaxPrinter(&owner);
        log = new TKivFaxPrinterLog(&owner);
        log->SetLogFileName(QString::fromStdString(files.Path("FAXPRINT.LOG")));
        printer->Printer().setOutputFormat(QPrinter::PdfFormat);
        printer->Printer().setOutputFileName(QString::fromStdString(pdf));
        printer->Printer().setResolution(300);
        printer->OnFaxPrintStatus = [this](TKivCustomFaxPrinter*, int s) { statuses.push_back(s); };
        printer->OnFaxPrintLog = [this](TKivCustomFaxPrinter*, int code) { logCodes.push_back(code); };
        printer->OnNextPage = [this](TKivCustomFaxPrinter*, uint16_t cp, uint16_t tp) { pages.emplace_back(cp, tp); };
    }

    QByteArray LogBytes() const
    {
        QFile file(log->LogFileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    TStandardFaxPrinterStatusDisplay& Form() const { return *status->Form(); }

    FaxTempFiles files;
    const std::string pdf = files.Path("out.pdf");
    QObject owner;
    TKivFaxPrinterStatus* status;
    TKivFaxPrinter* printer;
    TKivFaxPrinterLog* log;
    std::vector<int> statuses;
    std::vector<int> logCodes;
    std::vector<std::pair<int, int>> pages;
};

TEST_F(PrinterJobTest, PrintsTheRangeWithEventsStatusDialogAndLog)
{
    ASSERT_EQ(printer->StatusDisplay(), status);
    ASSERT_EQ(printer->FaxPrinterLog(), log);
    const QString fax = QString::fromStdString(FaxFixture("multi.apf"));
    printer->SetFileName(fax);
    QString shownDuringPage2;
    bool visibleDuringPrinting = false;
    printer->OnNextPage = [&](TKivCustomFaxPrinter*, uint16_t cp, uint16_t tp) {
        pages.emplace_back(cp, tp);
        visibleDuringPrinting = status->Visible();
        if (cp == 2)
            shownDuringPage2 = Form().txtStatus->text();
    };
    printer->PrintPages();

    EXPECT_EQ(pages, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(statuses, (std::vector<int>{0, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 0}));
    EXPECT_EQ(logCodes, (std::vector<int>{0, 1}));
    EXPECT_TRUE(visibleDuringPrinting);
    EXPECT_EQ(shownDuringPage2, "Submitting 1 of 3");
    EXPECT_FALSE(status->Visible());
    EXPECT_EQ(printer->CurrentPage(), 0);
    EXPECT_EQ(printer->Status(), 0);
    EXPECT_EQ(PdfPageCount(pdf), 3);

    const QString path = QRegularExpression::escape(fax);
    const QRegularExpression lines("^Printing " + path + " started at [^\r\n]+\r\n" + "Printing " + path +
                                   " finished at [^\r\n]+\r\n\r\n$");
    EXPECT_TRUE(lines.match(QString::fromLocal8Bit(LogBytes())).hasMatch()) << LogBytes().toStdString();
}

TEST_F(PrinterJobTest, StatusDialogShowsTheFirstPageOfTheFax)
{
    struct Case {
        const char* fixture;
        const char* name;
        const char* pages;
        const char* resolution;
        const char* width;
    };
    for (const Case& c : {Case{"multi.apf", "MULTI.APF", "3", "high", "1728"},
                          Case{"text-standard.apf", "TEXT-STANDARD.APF", "1", "standard", "1728"},
                          Case{"wide.apf", "WIDE.APF", "1", "standard", "2048"}}) {
        SCOPED_TRACE(c.fixture);
        printer->SetFileName(QString::fromStdString(FaxFixture(c.fixture)));
        status->UpdateDisplay(false, false);
        EXPECT_EQ(Form().windowTitle(), "Print Status");
        EXPECT_EQ(Form().txtFileName->text(), c.name);
        EXPECT_EQ(Form().txtTotalPages->text(), c.pages);
        EXPECT_EQ(Form().txtResolution->text(), c.resolution);
        EXPECT_EQ(Form().txtWidth->text(), c.width);
        EXPECT_EQ(Form().txtFirstPage->text(), "1");
        EXPECT_EQ(Form().txtLastPage->text(), c.pages);
        EXPECT_EQ(Form().txtStatus->text(), QString("Idle 0 of ") + c.pages);
    }
}

TEST_F(PrinterJobTest, PrintDialogOffersTheFaxAndTakesTheChosenPages)
{
    printer->SetFileName(QString::fromStdString(FaxFixture("multi.apf")));
    struct Choice {
        enum { All, Range, Cancel } how;
        int from, to;
        bool confirmed;
        int first, last;
    };
    for (const Choice& c : {Choice{Choice::Range, 2, 3, true, 2, 3}, Choice{Choice::Cancel, 1, 1, false, 2, 3},
                            Choice{Choice::All, 0, 0, true, 1, 3}}) {
        SCOPED_TRACE(c.how);
        int min = -1, max = -1;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            min = dialog->minPage();
            max = dialog->maxPage();
            auto* range = dialog->findChild<QRadioButton*>("printRange");
            auto* from = dialog->findChild<QSpinBox*>("from");
            auto* to = dialog->findChild<QSpinBox*>("to");
            if (c.how == Choice::Range && range && from && to) {
                range->setChecked(true);
                from->setValue(c.from);
                to->setValue(c.to);
            }
            c.how == Choice::Cancel ? dialog->reject() : dialog->accept();
        });
        EXPECT_EQ(printer->RunPrintDialog(), c.confirmed);
        EXPECT_EQ(min, 1);
        EXPECT_EQ(max, 3);
        EXPECT_EQ(printer->FirstPageToPrint(), c.first);
        EXPECT_EQ(printer->LastPageToPrint(), c.last);
    }
}

TEST_F(PrinterJobTest, FileWithoutPagesPrintsAndLogsNothing)
{
    printer->SetFileName(QString::fromStdString(files.Write("empty.apf", ApfBytes({}))));
    printer->PrintPages();
    EXPECT_TRUE(statuses.empty());
    EXPECT_TRUE(logCodes.empty());
    EXPECT_FALSE(QFile::exists(log->LogFileName()));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));
}

TEST_F(PrinterJobTest, AbortWhileAPageDecodesStopsTheDecoderAndDropsTheJob)
{
    printer->SetFileName(QString::fromStdString(files.Write("bars.apf", ApfBytes({BarPage(500), BarPage(500)}))));
    int callsAfterAbort = -1;
    printer->Unpacker().OnStatus = [&](TKivCustomFaxUnpacker*, const QString&, int page, int done, int) {
        if (callsAfterAbort >= 0)
            ++callsAfterAbort;
        else if (page == 2 && done > 100) {
            callsAfterAbort = 0;
            Form().btnAbort->click();
        }
    };
    printer->PrintPages();

    EXPECT_GE(callsAfterAbort, 0);
    EXPECT_LE(callsAfterAbort, 2) << "the decoder went on after the abort";
    EXPECT_EQ(logCodes, (std::vector<int>{0, 2}));
    EXPECT_TRUE(LogBytes().contains(" aborted at "));
    EXPECT_FALSE(LogBytes().contains(" finished at "));
    EXPECT_FALSE(status->Visible());
    EXPECT_EQ(printer->CurrentPage(), 0);
    EXPECT_EQ(printer->Status(), 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf))) << "an aborted job reached the printer";

    // A second job can be aborted too: the first abort does not stay behind.
    logCodes.clear();
    callsAfterAbort = -1;
    printer->PrintPages();
    EXPECT_EQ(logCodes, (std::vector<int>{0, 2}));
    EXPECT_LE(callsAfterAbort, 2);
}

TEST_F(PrinterJobTest, PagesThatCannotBePrinted)
{
    // A page without any line gives no image: logged, and printing goes on.
    TestPage blank;
    CodeWriter eols;
    for (int i = 0; i < 3; ++i)
        eols.Eol();
    blank.data = eols.Bytes();
    printer->SetFileName(QString::fromStdString(files.Write("blank.apf", ApfBytes({blank, BarPage(50)}))));
    printer->PrintPages();
    EXPECT_EQ(logCodes, (std::vector<int>{0, 3, 1}));
    EXPECT_EQ(PdfPageCount(pdf), 2);
    ASSERT_TRUE(QFile::remove(QString::fromStdString(pdf)));

    // Pages whose data end early, or that the header promises but the file
    // lacks: every other page is printed, and the message, the status
    // window and the log name the pages left out.
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::vector<int> notPrinted;
        int printed;
        const char* reason;
    };
    for (const Case& c : {Case{"cut.apf", ApfBytes({BarPage(50), CutPage()}), {2}, 1, ""},
                          Case{"promised.apf", ApfBytes({BarPage(50)}, 3), {2, 3}, 1,
                               "Attempt to read beyond end of file"}}) {
        SCOPED_TRACE(c.name);
        QFile::remove(log->LogFileName());
        logCodes.clear();
        statuses.clear();
        printer->SetFileName(QString::fromStdString(files.Write(c.name, c.bytes)));
        QString message;
        int printed = -1;
        try {
            printer->PrintPages();
        } catch (const EFaxPagesNotPrinted& e) {
            message = QString::fromLocal8Bit(e.what());
            printed = e.Printed();
        }
        EXPECT_EQ(printed, c.printed);
        std::vector<int> left;
        for (const TPageNotPrinted& page : printer->PagesNotPrinted()) {
            left.push_back(page.page);
            EXPECT_TRUE(message.contains(QString("Page %1 could not be printed (%2").arg(page.page).arg(c.reason)))
                << message.toStdString();
            EXPECT_TRUE(LogBytes().contains(QString("Page %1 of ").arg(page.page).toLocal8Bit() +
                                            QFile::encodeName(printer->FileName()) + " not printed at "));
        }
        EXPECT_EQ(left, c.notPrinted);
        EXPECT_EQ(logCodes.front(), 0);
        EXPECT_EQ(logCodes.back(), 1);
        EXPECT_TRUE(LogBytes().contains(" finished at "));
        EXPECT_EQ(Form().txtNotPrinted->text(), c.notPrinted.size() == 1 ? "Not printed: page 2"
                                                                         : "Not printed: pages 2, 3");
        EXPECT_EQ(statuses.back(), 0);
        EXPECT_FALSE(status->Visible());
        EXPECT_EQ(PdfPageCount(pdf), c.printed);
        ASSERT_TRUE(QFile::remove(QString::fromStdString(pdf)));
    }

    // With no page printable nothing is printed, and the message says so.
    printer->SetFileName(QString::fromStdString(files.Write("none.apf", ApfBytes({CutPage()}))));
    try {
        printer->PrintPages();
        ADD_FAILURE() << "no error";
    } catch (const EFaxPagesNotPrinted& e) {
        EXPECT_EQ(e.Printed(), 0);
        EXPECT_TRUE(QString(e.what()).startsWith("No page could be printed.")) << e.what();
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));
}

// The printed resolution of each page, read back from the PDF, is the same
// across and down, the same for a page trimmed to its used width as for a
// full one, and small enough that the whole page fits on the sheet, in both
// paper orientations.
TEST_F(PrinterJobTest, FitToPageKeepsThePagesProportionsAndAllOfIt)
{
    struct Page {
        const char* name;
        TestPage page;
    };
    const Page pages[] = {
        {"normal", BarPage(1800, 0, 1728)},
        {"left half", BarPage(1800, 0, 864)},
        {"standard", BarPage(900, 0, 1728, 1728, 0)},
        {"wide", BarPage(2400, 0, 2048, 2048, kApfFine | kApfWide)},
        {"longer than any sheet", BarPage(40000, 100, 1700)},
    };
    std::vector<TestPage> all;
    for (const Page& p : pages)
        all.push_back(p.page);
    printer->SetFileName(QString::fromStdString(files.Write("shapes.apf", ApfBytes(all))));
    for (QPageLayout::Orientation orientation : {QPageLayout::Portrait, QPageLayout::Landscape}) {
        SCOPED_TRACE(orientation == QPageLayout::Portrait ? "portrait" : "landscape");
        printer->Printer().setPageOrientation(orientation);
        const double sheetInches = printer->Printer().pageRect(QPrinter::Inch).height();
        printer->PrintPages();
        const std::vector<PdfImage> images = PdfImages(pdf);
        ASSERT_EQ(images.size(), std::size(pages));
        for (std::size_t i = 0; i < images.size(); ++i) {
            SCOPED_TRACE(pages[i].name);
            const PdfImage& image = images[i];
            EXPECT_NEAR(image.xPpi, image.yPpi, std::max(1, image.xPpi / 100)); // whole printer pixels
            EXPECT_LT(double(image.height) / image.yPpi, sheetInches - 0.2) << "the page runs into the footer";
        }
        // The half-used page is printed at the scale of the full one; a 2048
        // line takes the same width as a 1728 one.
        EXPECT_NEAR(images[1].xPpi, images[0].xPpi, 1);
        EXPECT_NEAR(images[2].xPpi, images[0].xPpi, 1);
        if (orientation == QPageLayout::Portrait) {
            EXPECT_NEAR(images[0].width / double(images[0].xPpi), images[3].width / double(images[3].xPpi), 0.02);
            EXPECT_GT(images[0].xPpi, 200); // the width is filled, not just the natural size
        }
        ASSERT_TRUE(QFile::remove(QString::fromStdString(pdf)));
    }
}

TEST(PrinterComponents, PrinterFindsAndLosesItsStatusDisplayAndLog)
{
    QObject form;
    QObject panel(&form);
    auto* nestedStatus = new TKivFaxPrinterStatus(&panel);
    auto* printer = new TKivFaxPrinter(&form);
    EXPECT_EQ(printer->StatusDisplay(), nestedStatus) << "depth-first search of the owner";
    EXPECT_EQ(nestedStatus->FaxPrinter(), printer);
    EXPECT_EQ(printer->FaxPrinterLog(), nullptr);
    EXPECT_EQ(printer->Caption(), "Orvo Fax Printer");
    EXPECT_EQ(printer->FaxHeader().Caption(), "FILE: $F");
    EXPECT_EQ(printer->FaxFooter().Caption(), "PAGE: $P of $N");

    auto* log = new TKivFaxPrinterLog(&form); // added later: taken, as none was set
    EXPECT_EQ(printer->FaxPrinterLog(), log);
    EXPECT_EQ(log->LogFileName(), "FAXPRINT.LOG");
    auto* secondLog = new TKivFaxPrinterLog(&form);
    EXPECT_EQ(printer->FaxPrinterLog(), log);
    delete log;
    EXPECT_EQ(printer->FaxPrinterLog(), nullptr);
    delete nestedStatus;
    EXPECT_EQ(printer->StatusDisplay(), nullptr);
    delete secondLog;
}

} // namespace
