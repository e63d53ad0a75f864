// The fax viewer window on the offscreen platform, with real fax files: zoom
// rules, rotation texts, paging, captions, error boxes, the command-line
// file, the wheel, and printing through the window's printer.
#include "app/platform/message_box.h"
#include "app/ui/view_form.h"
#include "fax/view/fax_printer.h"
#include "fax/view/fax_viewer.h"
#include "tests/fax_view/printer_test_util.h"
#include "tests/support/qt_print.h"
#include "tests/support/temp_registry.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QRegularExpression>
#include <QScreen>
#include <QLineEdit>
#include <QMimeData>
#include <QPrintDialog>
#include <QRadioButton>
#include <QTimer>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

QString Fixture(const char* name) { return QString::fromStdString(FaxFixture(name)); }

class ViewFormTest : public ::testing::Test {
protected:
    ViewFormTest()
    {
        SetMessageHandler([this](TMessageKind kind, const QString&, const QString& text) {
            boxes << MessageCaption(kind) + QLatin1String(": ") + text;
            return TMessageAnswer::Ok;
        });
        form.Beep = [this] { ++beeps; };
        form.resize(600, 400);
    }
    ~ViewFormTest() override { SetMessageHandler({}); }

    void Wheel(int delta, Qt::KeyboardModifiers modifiers)
    {
        QWidget* viewport = form.FaxViewer->viewport();
        const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
        QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
    }

    void Drop(const QString& path)
    {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.FaxViewer->viewport(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.FaxViewer->viewport(), &drop);
    }

    // Types the text into the box and confirms it with Enter.
    static void Type(QComboBox* combo, const QString& text)
    {
        combo->setEditText(text);
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    }

    TempRegistry registry; // the remembered fit choice goes here
    TViewForm form;
    QStringList boxes;
    int beeps = 0;
};

QString Viewing(int page, int count, const QString& name)
{
    return QStringLiteral("  Viewing page %1 of %2 in %3").arg(page).arg(count).arg(name);
}

} // namespace

TEST_F(ViewFormTest, ZoomButtonsAndPercentComboFollowTheirRules)
{
    form.OpenFax(Fixture("multi.apf"));
    struct Case {
        int from;
        const char* action; // "in", "out", or a text typed into the combo
        int zoom;
        int beeps;
    };
    const Case cases[] = {
        {100, "in", 125, 0},   {110, "in", 125, 0},   {400, "in", 400, 1},   {100, "out", 75, 0},
        {110, "out", 95, 0},   {25, "out", 25, 1},    {100, "10", 25, 0},    {100, "1000", 400, 0},
        {100, "x5", 100, 0},   {100, "", 100, 0},     {100, " 50", 50, 0},   {100, "-7", 25, 0},
        {100, "99999999999", 400, 0}, {200, "100", 100, 0}, {150, "12 ", 150, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("from ") + std::to_string(c.from) + " " + c.action);
        form.SetZoom(c.from);
        beeps = 0;
        const std::string action = c.action;
        if (action == "in")
            form.SpeedButton3->click();
        else if (action == "out")
            form.SpeedButton5->click();
        else
            Type(form.PercentCombo, QString::fromLatin1(c.action));
        EXPECT_EQ(form.ZoomPercent(), c.zoom);
        EXPECT_EQ(beeps, c.beeps);
        // What the viewer shows follows the zoom: unscaled at 100, else the
        // percentage in both directions.
        EXPECT_EQ(form.FaxViewer->Scaling(), c.zoom != 100);
        if (c.zoom != 100) {
            EXPECT_EQ(form.FaxViewer->HorizMult(), c.zoom);
            EXPECT_EQ(form.FaxViewer->VertMult(), c.zoom);
            EXPECT_EQ(form.FaxViewer->HorizDiv(), 100);
            EXPECT_EQ(form.FaxViewer->VertDiv(), 100);
        }
    }
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

TEST_F(ViewFormTest, ZoomAndRotateBoxesShowWhatIsApplied)
{
    form.show();
    form.OpenFax(Fixture("multi.apf"));
    // The zoom buttons and Ctrl+wheel: the box follows.
    form.SpeedButton3->click();
    EXPECT_EQ(form.PercentCombo->currentText(), "125");
    Wheel(-120, Qt::ControlModifier);
    EXPECT_EQ(form.PercentCombo->currentText(), "100");
    Wheel(-120, Qt::ControlModifier);
    EXPECT_EQ(form.PercentCombo->currentText(), " 75");
    // Picking the item already shown applies it.
    form.SetZoom(125);
    form.PercentCombo->setCurrentIndex(3);
    emit form.PercentCombo->textActivated(form.PercentCombo->itemText(3));
    EXPECT_EQ(form.ZoomPercent(), 100);
    EXPECT_FALSE(form.FaxViewer->Scaling());
    // Typing zooms once, on Enter, and the keys then go to the page again.
    form.PercentCombo->lineEdit()->setFocus();
    form.PercentCombo->setEditText("1");
    form.PercentCombo->setEditText("15");
    EXPECT_EQ(form.ZoomPercent(), 100);
    QTest::keyClick(form.PercentCombo->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(form.ZoomPercent(), 25);
    EXPECT_EQ(form.PercentCombo->currentText(), " 25");
    EXPECT_EQ(form.focusWidget(), form.FaxViewer);
    Type(form.PercentCombo, "x5"); // not a number: the box says what is applied
    EXPECT_EQ(form.PercentCombo->currentText(), " 25");

    // Another fax is shown unscaled and unturned, and the boxes say so.
    form.SetZoom(200);
    Type(form.RotateCombo, " 90");
    ASSERT_EQ(form.FaxViewer->PageRotation(), 1);
    Type(form.RotateCombo, "45");
    EXPECT_EQ(form.RotateCombo->currentText(), " 90");
    form.OpenFax(Fixture("text-standard.apf"));
    EXPECT_EQ(form.ZoomPercent(), 100);
    EXPECT_FALSE(form.FaxViewer->Scaling());
    EXPECT_EQ(form.FaxViewer->PageRotation(), 0);
    EXPECT_EQ(form.PercentCombo->currentText(), "100");
    EXPECT_EQ(form.RotateCombo->currentText(), "  0");
    // And the zoom last shown there applies in full.
    Type(form.PercentCombo, "200");
    EXPECT_TRUE(form.FaxViewer->Scaling());
    EXPECT_EQ(form.FaxViewer->HorizMult(), 200);
    EXPECT_EQ(form.PercentCombo->accessibleDescription(), QStringLiteral("Zoom 200%"));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

TEST_F(ViewFormTest, FitWidthAndFitPageFollowTheWindowAndAreRemembered)
{
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.OpenFax(Fixture("multi.apf"));
    QScrollBar* across = form.FaxViewer->horizontalScrollBar();
    QScrollBar* down = form.FaxViewer->verticalScrollBar();
    QTest::keyClick(form.FaxViewer, Qt::Key_W);
    QApplication::processEvents();
    EXPECT_EQ(form.FitMode(), TFitMode::Width);
    EXPECT_EQ(form.PercentCombo->currentText(), "Fit width");
    EXPECT_EQ(across->maximum(), 0) << "the whole width is in sight";
    EXPECT_GT(down->maximum(), 0);
    const int narrow = form.ZoomPercent();
    EXPECT_LT(narrow, 50); // a 1728-pixel page in a 600-pixel window
    form.resize(1000, 400);
    QApplication::processEvents();
    EXPECT_GT(form.ZoomPercent(), narrow);
    EXPECT_EQ(across->maximum(), 0);
    // Fit page: the whole page, also on the next page.
    QTest::keyClick(form.FaxViewer, Qt::Key_F);
    form.SpeedButton2->click();
    QApplication::processEvents();
    EXPECT_EQ(form.PercentCombo->currentText(), "Fit page");
    EXPECT_EQ(across->maximum(), 0);
    EXPECT_EQ(down->maximum(), 0);

    // The next window fits too; a zoom chosen ends the fitting, remembered as well.
    {
        TViewForm next;
        next.resize(600, 400);
        next.show();
        next.OpenFax(Fixture("text-standard.apf"));
        QApplication::processEvents();
        EXPECT_EQ(next.FitMode(), TFitMode::Page);
        EXPECT_EQ(next.FaxViewer->verticalScrollBar()->maximum(), 0);
        next.PercentCombo->setCurrentIndex(3);
        emit next.PercentCombo->textActivated(next.PercentCombo->itemText(3));
        EXPECT_EQ(next.FitMode(), TFitMode::None);
        EXPECT_EQ(next.ZoomPercent(), 100);
    }
    TViewForm third;
    EXPECT_EQ(third.FitMode(), TFitMode::None);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

TEST_F(ViewFormTest, PlaceAndSizeAreKeptAndNeverLargerThanTheScreen)
{
    form.resize(500, 350);
    form.move(30, 40);
    form.show();
    QApplication::processEvents();
    const QRect shown(form.pos(), form.size());
    form.SpeedButton4->click(); // Close hides
    {
        TViewForm next;
        EXPECT_EQ(QRect(next.pos(), next.size()), shown);
    }
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const QString& stored : {QStringLiteral("-5000 -5000 100000 100000"), QStringLiteral("junk")}) {
        SCOPED_TRACE(stored.toStdString());
        const QString text = QString::fromLatin1(registry.Contents());
        registry.SetContents(QString(text)
                                 .replace(QRegularExpression("\"Geometry\"=\"[^\"]*\""), "\"Geometry\"=\"" + stored + "\"")
                                 .toLatin1());
        ASSERT_TRUE(registry.Contents().contains("\"Geometry\"=\"" + stored.toLatin1()));
        TViewForm next;
        EXPECT_TRUE(screen.contains(QRect(next.pos(), next.size()))) << next.width() << "x" << next.height();
    }
}

TEST_F(ViewFormTest, ButtonsZoomAboutTheMiddleAndTheWheelAboutThePointer)
{
    form.show();
    form.OpenFax(Fixture("multi.apf"));
    QApplication::processEvents();
    QScrollBar* across = form.FaxViewer->horizontalScrollBar();
    QScrollBar* down = form.FaxViewer->verticalScrollBar();
    across->setValue(200);
    down->setValue(300);
    const QWidget* viewport = form.FaxViewer->viewport();
    const QPointF middle(viewport->width() / 2.0, viewport->height() / 2.0);
    const QPointF onPage(across->value() + middle.x(), down->value() + middle.y());
    form.SpeedButton3->click(); // 125 %
    EXPECT_NEAR(across->value(), onPage.x() * 1.25 - middle.x(), 1);
    EXPECT_NEAR(down->value(), onPage.y() * 1.25 - middle.y(), 1);
    // Ctrl+wheel keeps the point under the pointer.
    const QPointF at(20, 30);
    const QPointF under(across->value() + at.x(), down->value() + at.y());
    QWheelEvent event(at, form.FaxViewer->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(form.FaxViewer->viewport(), &event);
    EXPECT_EQ(form.ZoomPercent(), 150);
    EXPECT_NEAR(across->value(), under.x() * 150 / 125 - at.x(), 1);
    EXPECT_NEAR(down->value(), under.y() * 150 / 125 - at.y(), 1);
}

TEST_F(ViewFormTest, DroppedFileIsShownUnscaledAndZoomsAgainInFull)
{
    const QString multi = Fixture("multi.apf");
    const QString text = Fixture("text-standard.apf");
    form.show();
    form.OpenFax(text);
    form.SetZoom(200);
    Drop(multi);
    QApplication::processEvents();
    EXPECT_EQ(form.windowTitle(), Viewing(1, 3, multi));
    EXPECT_EQ(form.ZoomPercent(), 100);
    EXPECT_FALSE(form.FaxViewer->Scaling());
    // The factors of before the drop must not make the next zoom a no-op:
    // at 200 % the page is shown twice as tall.
    QScrollBar* down = form.FaxViewer->verticalScrollBar();
    const int unscaled = down->maximum();
    form.SetZoom(200);
    QApplication::processEvents();
    EXPECT_GT(down->maximum(), unscaled * 3 / 2);
    EXPECT_EQ(form.PercentCombo->accessibleDescription(), QStringLiteral("Zoom 200%"));
    // A file that is not a fax keeps the fax, now unscaled as ZoomPercent says.
    Drop(QStringLiteral(PELLIMAR_SOURCE_DIR "/README.md"));
    EXPECT_EQ(form.FaxViewer->FileName(), multi);
    EXPECT_EQ(form.ZoomPercent(), 100);
    EXPECT_FALSE(form.FaxViewer->Scaling());
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(ViewFormTest, RotateComboTurnsThePageOnlyForItsExactTexts)
{
    form.show();
    form.OpenFax(Fixture("multi.apf"));
    QApplication::processEvents();
    QScrollBar* across = form.FaxViewer->horizontalScrollBar();
    QScrollBar* down = form.FaxViewer->verticalScrollBar();
    // The page is taller than wide: turned a quarter, the ranges swap sides.
    const int tall = down->maximum();
    ASSERT_GT(tall, 0);
    struct Case {
        const char* text;
        bool turnedSideways;
    };
    const Case cases[] = {{" 90", true}, {"45", true}, {"90", true}, {"180", false}, {"270 ", false},
                          {"270", true}, {"  0", false}, {"0", false}, {" 90", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Type(form.RotateCombo, QString::fromLatin1(c.text));
        QApplication::processEvents();
        EXPECT_EQ(across->maximum() > 0 && down->maximum() < tall, c.turnedSideways);
    }
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(ViewFormTest, PagesCaptionsAndErrorBoxes)
{
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Pellimar Fax Viewer"));
    const QString multi = Fixture("multi.apf");
    form.OpenFax(multi);
    EXPECT_EQ(form.windowTitle(), Viewing(1, 3, multi));
    form.SpeedButton1->click(); // Prev on page 1
    EXPECT_EQ(form.FaxViewer->CurrentPage(), 1);
    form.SpeedButton2->click();
    EXPECT_EQ(form.windowTitle(), Viewing(2, 3, multi));
    form.SpeedButton2->click();
    form.SpeedButton2->click(); // Next on the last page
    EXPECT_EQ(form.FaxViewer->CurrentPage(), 3);
    EXPECT_EQ(form.windowTitle(), Viewing(3, 3, multi));
    form.SpeedButton1->click();
    EXPECT_EQ(form.windowTitle(), Viewing(2, 3, multi));
    // The page box shows the page and goes to the page entered.
    EXPECT_EQ(form.PageBox->value(), 2);
    EXPECT_EQ(form.PageBox->maximum(), 3);
    form.PageBox->setValue(3);
    EXPECT_EQ(form.windowTitle(), Viewing(3, 3, multi));
    form.PageBox->setValue(1);
    EXPECT_EQ(form.FaxViewer->CurrentPage(), 1);
    form.SpeedButton2->click();

    // The same fax opened again starts at page 1, as the caption says.
    form.OpenFax(multi);
    EXPECT_EQ(form.FaxViewer->CurrentPage(), 1);
    EXPECT_EQ(form.windowTitle(), Viewing(1, 3, multi));

    // Missing and non-fax files: the box, an empty viewer, the caption kept.
    const QString notFax = QStringLiteral(PELLIMAR_SOURCE_DIR "/README.md");
    for (const QString& bad : {notFax, QStringLiteral("/nonexistent/fax.apf")}) {
        form.OpenFax(multi);
        boxes.clear();
        form.OpenFax(bad);
        EXPECT_EQ(boxes, QStringList{QStringLiteral("Error: Error opening fax file ") + bad});
        EXPECT_TRUE(form.FaxViewer->FileName().isEmpty());
        EXPECT_EQ(form.FaxViewer->CurrentPage(), 0);
        EXPECT_EQ(form.windowTitle(), Viewing(1, 3, multi));
    }
    // Paging with nothing loaded does nothing; a page change without a file
    // says so.
    form.SpeedButton2->click();
    form.SpeedButton1->click();
    form.FaxViewer->OnPageChange(form.FaxViewer);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("  No file loaded"));
    form.FaxViewer->OnViewerError(form.FaxViewer, -8002);
    EXPECT_EQ(boxes.last(), QStringLiteral("Error: Viewer error -8002: Bad graphics format"));

    // A page the file promises but lacks: the box says why, and the window
    // then shows that no file is loaded, in the caption and to Print.
    FaxTempFiles files;
    const QString promised = QString::fromStdString(files.Write("promised.apf", ApfBytes({BarPage(50)}, 3)));
    form.OpenFax(promised);
    EXPECT_EQ(form.windowTitle(), Viewing(1, 3, promised));
    boxes.clear();
    form.SpeedButton2->click();
    EXPECT_EQ(boxes, QStringList{"Error: Viewer error -100: Attempt to read beyond end of file"});
    EXPECT_EQ(form.windowTitle(), QStringLiteral("  No file loaded"));
    EXPECT_EQ(form.FaxViewer->accessibleDescription(), QStringLiteral("No fax loaded"));
    EXPECT_TRUE(form.FaxViewer->FileName().isEmpty());
}

TEST_F(ViewFormTest, StartFileOpensOnceFocusGoesToTheViewerAndCloseHides)
{
    const QString multi = Fixture("multi.apf");
    const QString text = Fixture("text-standard.apf");
    form.SetStartFile(multi);
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.windowTitle(), Viewing(1, 3, multi));
    EXPECT_EQ(form.focusWidget(), form.FaxViewer);
    // Clicking a tool button leaves the keys with the viewer.
    EXPECT_EQ(form.SpeedButton2->focusPolicy(), Qt::NoFocus);

    form.OpenFax(text); // as the browser does before showing the window
    form.SpeedButton4->click();
    EXPECT_FALSE(form.isVisible());
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.FaxViewer->FileName(), text);
    EXPECT_EQ(form.windowTitle(), Viewing(1, 1, text));
    EXPECT_TRUE(boxes.isEmpty());

    // Every control can be found by a screen reader.
    QStringList unnamed;
    for (QWidget* w : form.findChildren<QWidget*>()) {
        const bool control = w->focusPolicy() != Qt::NoFocus || qobject_cast<QToolButton*>(w);
        if (w->isVisibleTo(&form) && control && w->accessibleName().isEmpty())
            unnamed << w->objectName();
    }
    EXPECT_EQ(unnamed, QStringList());
}

TEST_F(ViewFormTest, WheelScrollsAndCtrlWheelZooms)
{
    form.show();
    form.OpenFax(Fixture("multi.apf"));
    QApplication::processEvents();
    QScrollBar* down = form.FaxViewer->verticalScrollBar();
    ASSERT_EQ(down->value(), 0);
    Wheel(-120, Qt::NoModifier);
    EXPECT_GT(down->value(), 0);
    EXPECT_EQ(form.ZoomPercent(), 100);

    Wheel(120, Qt::ControlModifier);
    EXPECT_EQ(form.ZoomPercent(), 125);
    Wheel(60, Qt::ControlModifier); // half a notch: not yet
    EXPECT_EQ(form.ZoomPercent(), 125);
    Wheel(60, Qt::ControlModifier);
    EXPECT_EQ(form.ZoomPercent(), 150);
    Wheel(-360, Qt::ControlModifier);
    EXPECT_EQ(form.ZoomPercent(), 75);
    form.SetZoom(25);
    Wheel(-120, Qt::ControlModifier);
    EXPECT_EQ(form.ZoomPercent(), 25);
    EXPECT_EQ(beeps, 1);
}

TEST_F(ViewFormTest, PrintSendsTheWholeFaxWithHeaderAndFooter)
{
    FaxTempFiles files;
    const std::string pdf = files.Path("printed.pdf");
    form.FaxPrinter->Printer().setOutputFormat(QPrinter::PdfFormat);
    form.FaxPrinter->Printer().setOutputFileName(QString::fromStdString(pdf));
    form.FaxPrinter->Printer().setResolution(150);

    form.SpeedButton6->click(); // nothing shown: nothing printed
    EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));

    const QString multi = Fixture("multi.apf");
    // No printer chosen and none installed: the box says where to choose one.
    QPrinter& printer = form.FaxPrinter->Printer();
    printer.setPrinterName(QString());
    printer.setOutputFileName(QString());
    form.OpenFax(multi);
    form.SpeedButton6->click();
    EXPECT_EQ(boxes, QStringList{"Error: No printer is set up. Choose a printer, or a PDF file, with Setup."});
    boxes.clear();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));

    form.OpenFax(multi);
    form.SpeedButton2->click();
    form.SpeedButton6->click();
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    ASSERT_EQ(PdfPageCount(pdf), 3);
    EXPECT_TRUE(PdfText(pdf, 3).contains(QStringLiteral("PAGE: 3 of 3"))) << PdfText(pdf, 3).toStdString();
    EXPECT_TRUE(PdfText(pdf, 1).contains(QStringLiteral("FILE: ") + multi));
    EXPECT_FALSE(form.PrinterStatus->Visible());
    EXPECT_EQ(form.PrinterStatus->Caption(), QStringLiteral("Print Status"));

    // Multi-page puts the three pages on one sheet; Print... prints the
    // pages chosen in the print dialog, and nothing when it is cancelled.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(pdf)));
    form.MultiPageButton->click();
    form.SpeedButton6->click();
    EXPECT_EQ(PdfPageCount(pdf), 1);
    form.MultiPageButton->click();
    for (bool confirm : {false, true}) {
        ASSERT_TRUE(!QFile::exists(QString::fromStdString(pdf)) || QFile::remove(QString::fromStdString(pdf)));
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            auto* range = dialog->findChild<QRadioButton*>("printRange");
            auto* from = dialog->findChild<QSpinBox*>("from");
            auto* to = dialog->findChild<QSpinBox*>("to");
            if (range && from && to) {
                range->setChecked(true);
                to->setValue(3);
                from->setValue(2);
            }
            confirm ? dialog->accept() : dialog->reject();
        });
        form.PrintRangeButton->click();
        EXPECT_EQ(PdfPageCount(pdf), confirm ? 2 : -1);
    }
    EXPECT_TRUE(PdfText(pdf, 1).contains(QStringLiteral("PAGE: 2 of 3")));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();

    // Setup runs the platform's dialog on the printer that Print uses.
    QString title;
    bool samePrinter = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QPrintDialog*>(w); dialog && dialog->isVisible()) {
                title = dialog->windowTitle();
                samePrinter = dialog->printer() == &form.FaxPrinter->Printer();
                dialog->reject();
            }
    });
    closer.start(50);
    form.SpeedButton7->click();
    closer.stop();
    EXPECT_EQ(title, QStringLiteral("Print Setup"));
    EXPECT_TRUE(samePrinter);

    // The file vanished after it was shown: an error box, no crash.
    const QString gone = QString::fromStdString(files.Path("gone.apf"));
    QFile::copy(Fixture("text-standard.apf"), gone);
    form.OpenFax(gone);
    QFile::remove(gone);
    form.SpeedButton6->click();
    EXPECT_EQ(boxes, QStringList{QStringLiteral("Error: Error opening fax file ") + gone});
}
