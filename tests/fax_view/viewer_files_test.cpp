// Loading, dropping and copying: files that are not faxes, hostile files,
// dropped files and the clipboard.
#include "fax/kiv_errors.h"
#include "fax/view/viewer_commands.h"
#include "fax/view/viewer_engine.h"
#include "tests/fax_view/viewer_test_util.h"
#include "tests/support/event_wait.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

namespace {

void Drop(TKivFaxViewer& viewer, const std::string& path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path)), QUrl::fromLocalFile(QStringLiteral("/nonexistent"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewer.viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewer.viewport(), &drop);
}

TEST(ViewerFiles, ANonFaxLeavesTheOldFaxShown)
{
    FaxTempFiles files;
    const std::string text = files.Write("note.apf", {'A', 'P', 'F', '1', '0', 'x', '\n'});
    auto viewer = ShownViewer();
    LoadFixture(*viewer, "multi.apf");
    viewer->SetCurrentPage(2);
    const QString fax = viewer->FileName();
    try {
        viewer->SetFileName(QString::fromStdString(text));
        ADD_FAILURE() << "a non-APF file was loaded";
    } catch (const EFaxBadFormat& e) {
        EXPECT_EQ(e.ErrorCode(), -8001);
        EXPECT_STREQ(e.what(), "File is not an APF file");
    }
    EXPECT_THROW(viewer->SetFileName(QString::fromStdString(files.Path("missing.apf"))), EInOutError);
    EXPECT_EQ(viewer->PageCount(), 3);
    EXPECT_EQ(viewer->CurrentPage(), 2);
    EXPECT_EQ(CountMismatches(*viewer, ReferencePage("multi-2.png")), 0);

    // Dropped: the first file counts, the old fax stays and the event
    // carries its name.
    QString dropped;
    viewer->OnDropFile = [&](TKivCustomFaxViewer*, const QString& name) { dropped = name; };
    Drop(*viewer, text);
    EXPECT_EQ(dropped, fax);
    EXPECT_EQ(viewer->CurrentPage(), 2);
    // A dropped fax is shown upright; turning it again afterwards must not be
    // skipped as an unchanged setting.
    viewer->SetPageRotation(1);
    Drop(*viewer, FaxFixture("text-fine.apf"));
    EXPECT_EQ(dropped.toStdString(), FaxFixture("text-fine.apf"));
    EXPECT_EQ(viewer->FileName(), dropped);
    EXPECT_EQ(viewer->PageCount(), 1);
    EXPECT_EQ(CountMismatches(*viewer, ReferencePage("text-fine-1.png")), 0);
    TViewerRect upright;
    viewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&upright));
    viewer->SetPageRotation(1);
    TViewerRect turned;
    viewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&turned));
    EXPECT_NE(turned.right - turned.left, upright.right - upright.left) << "the dropped fax was not turned";
}

// The block is copied with Ctrl+C.
TEST(ViewerFiles, ClipboardHoldsTheBlockDrawnWithTheMouse)
{
    auto viewer = ShownViewer();
    LoadFixture(*viewer, "text-fine.apf");
    const PixelGrid page = ReferencePage("text-fine-1.png");
    QWidget* client = viewer->viewport();
    // Dragged from (300, 200) up and left past the starting point, then down
    // out of the client area, where the auto-scroll timer scrolls on and
    // extends the block; the starting point stays a corner throughout.
    QTest::mousePress(client, Qt::LeftButton, {}, QPoint(300, 200));
    QTest::mouseMove(client, QPoint(40, 30));
    QTest::mouseMove(client, QPoint(250, 340));
    ASSERT_TRUE(RunEventsUntil([&] { return viewer->verticalScrollBar()->value() >= 48; }));
    QTest::mouseRelease(client, Qt::LeftButton, {}, QPoint(250, 340));
    const int scrolled = viewer->verticalScrollBar()->value();
    EXPECT_EQ(scrolled % 16, 0); // two 8-pixel steps a tick, being over 20 pixels out
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(viewer.get(), Qt::Key_C, Qt::ControlModifier);
    const QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(300 - 250 + 1, 340 + scrolled - 200 + 1));
    int mismatches = 0;
    int blacks = 0;
    for (int y = 0; y < copied.height(); ++y)
        for (int x = 0; x < copied.width(); ++x) {
            mismatches += (qGray(copied.pixel(x, y)) < 128) != page.At(250 + x, 200 + y);
            blacks += page.At(250 + x, 200 + y);
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(blacks, 50);

    // Shown at 200 %, the copy is the displayed block, each pixel doubled.
    viewer->SetHorizMult(2);
    viewer->SetVertMult(2);
    viewer->SetScaling(true);
    const TViewerRect block{201, 101, 600, 300};
    ASSERT_EQ(viewer->Perform(kVwSetSelection, 0, reinterpret_cast<intptr_t>(&block)), 0);
    ASSERT_EQ(viewer->Perform(kVwCopySelection), 0);
    const QImage zoomed = QGuiApplication::clipboard()->image();
    ASSERT_EQ(zoomed.size(), QSize(400, 200));
    mismatches = 0;
    for (int y = 0; y < zoomed.height(); ++y)
        for (int x = 0; x < zoomed.width(); ++x)
            mismatches += (qGray(zoomed.pixel(x, y)) < 128) != page.At((201 + x) / 2, (101 + y) / 2);
    EXPECT_EQ(mismatches, 0);
}

struct HostileCase {
    const char* name;
    std::vector<uint8_t> bytes;
    bool wholeFax;
};

std::vector<uint8_t> SomeLines()
{
    CodeWriter w;
    w.Eol();
    for (int i = 0; i < 20; ++i)
        w.Line({100, 50, 1578});
    return w.Bytes();
}

std::vector<uint8_t> AbsurdlyWideLines()
{
    CodeWriter w;
    w.Eol();
    for (int i = 0; i < 20; ++i)
        w.Line({2560, 2560, 2560, 2560, 100});
    return w.Bytes();
}

// Each file either fails to load with an exception or fails on a page
// change with OnViewerError; either way the viewer ends up empty, never
// crashed or stuck.
TEST(ViewerFiles, HostileFilesEndInAnErrorAndAnEmptyViewer)
{
    const std::vector<uint8_t> lines = SomeLines();
    std::vector<uint8_t> shortFile = ApfBytes({{lines}});
    shortFile.resize(64 + 8);
    std::vector<uint8_t> farFirstPage = ApfBytes({{lines}}, 65535);
    farFirstPage[37] = 0x7F; // first page header two gigabytes on
    const HostileCase cases[] = {
        {"page count larger than the file", ApfBytes({{lines}}, 500), false},
        {"page count larger than the file, whole fax", ApfBytes({{lines}}, 500), true},
        {"image length beyond the file", ApfBytes({{lines, 0, 0xFFFFFFF0}, {lines}}), false},
        {"file ends inside a page header", shortFile, false},
        {"first page far beyond the end", farFirstPage, false},
        {"no page at all", ApfBytes({}, 0), false},
        {"lines wider than any page", ApfBytes({{AbsurdlyWideLines()}, {lines}}, 3), false},
    };
    FaxTempFiles files;
    for (const HostileCase& c : cases) {
        auto viewer = ShownViewer();
        viewer->SetLoadWholeFax(c.wholeFax);
        std::vector<int> errors;
        // Whoever hears of the error finds the viewer already empty.
        QStringList seenOnError;
        viewer->OnViewerError = [&](TKivCustomFaxViewer* sender, int code) {
            errors.push_back(code);
            seenOnError << sender->FileName() << QString::number(sender->CurrentPage())
                        << sender->accessibleDescription();
        };
        int changesAfterError = 0;
        viewer->OnPageChange = [&](TKivCustomFaxViewer*) { changesAfterError += !errors.empty(); };
        bool raised = false;
        try {
            viewer->SetFileName(QString::fromStdString(files.Write("hostile.apf", c.bytes)));
            for (int page = 2; page <= viewer->PageCount() && errors.empty(); ++page)
                viewer->SetCurrentPage(page);
        } catch (const std::exception&) {
            raised = true;
        }
        EXPECT_TRUE(raised || !errors.empty()) << c.name;
        for (int code : errors)
            EXPECT_LT(code, 0) << c.name;
        if (!errors.empty()) {
            EXPECT_EQ(seenOnError.mid(0, 3), (QStringList{"", "0", "No fax loaded"})) << c.name;
            EXPECT_EQ(changesAfterError, 1) << c.name << ": the page change to no page is told";
        }
        EXPECT_TRUE(viewer->FileName().isEmpty()) << c.name;
        EXPECT_EQ(viewer->PageCount(), 0) << c.name;
        EXPECT_EQ(viewer->CurrentPage(), 0) << c.name;
        EXPECT_FALSE(TViewer::Busy()) << c.name;
    }
}

} // namespace
