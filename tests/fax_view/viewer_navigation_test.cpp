// Paging, scrolling and the keyboard, driven by real key events.
#include "fax/kiv_errors.h"
#include "fax/view/viewer_commands.h"
#include "fax/view/viewer_engine.h"
#include "tests/fax_view/viewer_test_util.h"

#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <optional>

namespace {

struct KeyCase {
    const char* name;
    Qt::Key key;
    bool ctrl;
    int startPage;
    QPoint startOffset;
    int page;       // expected afterwards
    QPoint offset;  // expected afterwards; -1 stands for the scroll range
};

// multi.apf: three pages of 1728 x 2155 pixels in a 400 x 300 client area,
// scroll steps of 8 pixels.
const KeyCase kKeyCases[] = {
    {"PageDown", Qt::Key_PageDown, false, 1, {40, 40}, 2, {0, 0}},
    {"PageDown on the last page", Qt::Key_PageDown, false, 3, {40, 40}, 3, {40, 40}},
    {"PageUp", Qt::Key_PageUp, false, 2, {40, 40}, 1, {0, 0}},
    {"PageUp on the first page", Qt::Key_PageUp, false, 1, {40, 40}, 1, {40, 40}},
    {"Ctrl+PageDown scrolls to the bottom", Qt::Key_PageDown, true, 2, {40, 40}, 2, {40, -1}},
    {"Ctrl+PageUp scrolls to the top", Qt::Key_PageUp, true, 2, {40, 40}, 2, {40, 0}},
    {"Home scrolls to the left end", Qt::Key_Home, false, 2, {40, 40}, 2, {0, 40}},
    {"End scrolls to the right end", Qt::Key_End, false, 2, {40, 40}, 2, {-1, 40}},
    {"Ctrl+Home goes to page 1", Qt::Key_Home, true, 3, {40, 40}, 1, {0, 0}},
    {"Ctrl+Home on page 1 scrolls home", Qt::Key_Home, true, 1, {40, 40}, 1, {0, 0}},
    {"Ctrl+End goes to the last page", Qt::Key_End, true, 1, {40, 40}, 3, {0, 0}},
    {"Ctrl+End on the last page scrolls home", Qt::Key_End, true, 3, {40, 40}, 3, {0, 0}},
    {"Left", Qt::Key_Left, false, 1, {100, 100}, 1, {92, 100}},
    {"Left stops at the edge", Qt::Key_Left, false, 1, {3, 100}, 1, {0, 100}},
    {"Ctrl+Left", Qt::Key_Left, true, 1, {100, 100}, 1, {20, 100}},
    {"Right", Qt::Key_Right, false, 1, {100, 100}, 1, {108, 100}},
    {"Ctrl+Right", Qt::Key_Right, true, 1, {100, 100}, 1, {180, 100}},
    {"Up", Qt::Key_Up, false, 1, {100, 100}, 1, {100, 92}},
    {"Ctrl+Up", Qt::Key_Up, true, 1, {100, 100}, 1, {100, 20}},
    {"Down", Qt::Key_Down, false, 1, {100, 100}, 1, {100, 108}},
    {"Ctrl+Down", Qt::Key_Down, true, 1, {100, 100}, 1, {100, 180}},
};

TEST(ViewerKeyboard, EveryRowOfTheKeyTable)
{
    auto viewer = ShownViewer();
    LoadFixture(*viewer, "multi.apf");
    ASSERT_EQ(viewer->PageCount(), 3);
    QScrollBar* h = viewer->horizontalScrollBar();
    QScrollBar* v = viewer->verticalScrollBar();
    for (const KeyCase& c : kKeyCases) {
        viewer->SetCurrentPage(c.startPage);
        h->setValue(c.startOffset.x());
        v->setValue(c.startOffset.y());
        ASSERT_EQ(Offsets(*viewer), c.startOffset) << c.name;
        QTest::keyClick(viewer.get(), c.key, c.ctrl ? Qt::ControlModifier : Qt::NoModifier);
        const QPoint expected(c.offset.x() < 0 ? h->maximum() : c.offset.x(),
                              c.offset.y() < 0 ? v->maximum() : c.offset.y());
        EXPECT_EQ(viewer->CurrentPage(), c.page) << c.name;
        EXPECT_EQ(Offsets(*viewer).x(), expected.x()) << c.name;
        EXPECT_EQ(Offsets(*viewer).y(), expected.y()) << c.name;
    }
    EXPECT_EQ(viewer->accessibleName().toStdString(), "FaxViewer");
    EXPECT_EQ(viewer->accessibleDescription().toStdString(), "Page 1 of 3");
}

TEST(ViewerKeyboard, KeysWaitWhileASelectionIsDrawn)
{
    auto viewer = ShownViewer();
    LoadFixture(*viewer, "multi.apf");
    QTest::mousePress(viewer->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::keyClick(viewer.get(), Qt::Key_PageDown);
    QTest::keyClick(viewer.get(), Qt::Key_Down);
    EXPECT_EQ(viewer->CurrentPage(), 1);
    EXPECT_EQ(Offsets(*viewer), QPoint(0, 0));
    QTest::mouseRelease(viewer->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::keyClick(viewer.get(), Qt::Key_PageDown);
    EXPECT_EQ(viewer->CurrentPage(), 2);
}

TEST(ViewerScrolling, RangesAndSteps)
{
    auto viewer = ShownViewer();
    QScrollBar* h = viewer->horizontalScrollBar();
    QScrollBar* v = viewer->verticalScrollBar();
    LoadFixture(*viewer, "multi.apf");
    const QSize client = viewer->viewport()->size();
    TViewerRect page;
    viewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&page));
    // The last row and column can be scrolled into view.
    EXPECT_EQ(v->maximum(), page.bottom + 1 - client.height());
    EXPECT_EQ(h->maximum(), page.right + 1 - client.width());
    EXPECT_EQ(v->singleStep(), 8);
    EXPECT_EQ(v->pageStep(), 80);

    viewer->SetVertScroll(20);
    viewer->SetHorizScroll(5);
    EXPECT_EQ(v->singleStep(), 20);
    EXPECT_EQ(h->pageStep(), 50);
    QTest::keyClick(viewer.get(), Qt::Key_Down);
    QTest::keyClick(viewer.get(), Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(Offsets(*viewer), QPoint(50, 20));
    v->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(Offsets(*viewer), QPoint(50, 220));

    // Zoomed out until the page fits, the range keeps the offset so that the
    // view can return to the top; back at the top it shrinks to nothing.
    viewer->SetHorizDiv(8);
    viewer->SetVertDiv(8);
    viewer->SetScaling(true);
    EXPECT_EQ(Offsets(*viewer), QPoint(0, 0)); // a new scale shows the page from its corner
    viewer->SetScaling(false);
    v->setValue(300);
    viewer->resize(2000, 2400);
    EXPECT_EQ(v->maximum(), 300);
    QTest::keyClick(viewer.get(), Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(v->value(), 100);
    QTest::keyClick(viewer.get(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(v->value(), 0);
    EXPECT_EQ(v->maximum(), 0);
}

// The wheel scrolls within a page and, at its bottom or top, turns to the
// next or the previous page, a whole notch at a time.
TEST(ViewerScrolling, TheWheelTurnsPagesAtTheirEdges)
{
    auto viewer = ShownViewer();
    LoadFixture(*viewer, "multi.apf");
    QScrollBar* down = viewer->verticalScrollBar();
    auto wheel = [&](int delta) {
        QWidget* client = viewer->viewport();
        const QPointF at(10, 10);
        QWheelEvent event(at, client->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(client, &event);
    };
    wheel(120); // at the top of page 1: nothing before it
    EXPECT_EQ(viewer->CurrentPage(), 1);
    wheel(-120);
    EXPECT_GT(down->value(), 0) << "within the page the wheel scrolls";
    down->setValue(down->maximum());
    wheel(-60);
    EXPECT_EQ(viewer->CurrentPage(), 1) << "half a notch";
    wheel(-60);
    EXPECT_EQ(viewer->CurrentPage(), 2);
    EXPECT_EQ(down->value(), 0);
    wheel(120);
    EXPECT_EQ(viewer->CurrentPage(), 1);
    EXPECT_EQ(down->value(), down->maximum()) << "the previous page is met at its bottom";
    viewer->SetCurrentPage(3);
    down->setValue(down->maximum());
    wheel(-120);
    EXPECT_EQ(viewer->CurrentPage(), 3) << "nothing after the last page";
}

TEST(ViewerPages, EmptyViewerAndBadPageNumbers)
{
    auto viewer = ShownViewer();
    EXPECT_EQ(viewer->PageCount(), 0);
    EXPECT_EQ(viewer->CurrentPage(), 0);
    EXPECT_EQ(viewer->Perform(kVwSetCurrentPage, 1), kErrBadArgument);
    EXPECT_EQ(viewer->Perform(kVwSelectAll), kErrNoImageLoaded);
    EXPECT_EQ(viewer->Perform(kVwCopySelection), kErrNoImageLoaded);
    // Codes without a class of their own raise the generic exception.
    EXPECT_THROW(KivErrorCheck(viewer.get(), static_cast<int>(viewer->Perform(kVwSelectAll))), EKIVException);

    LoadFixture(*viewer, "multi.apf");
    int changes = 0;
    viewer->OnPageChange = [&](TKivCustomFaxViewer*) { ++changes; };
    for (int bad : {0, 4}) {
        try {
            viewer->SetCurrentPage(bad);
            ADD_FAILURE() << "page " << bad << " was accepted";
        } catch (const EBadArgument& e) {
            EXPECT_EQ(e.ErrorCode(), -1002);
        }
    }
    viewer->SetCurrentPage(1); // already shown: nothing happens
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(viewer->Perform(kVwCopySelection), kErrNoBlockMarked);
    viewer->SetCurrentPage(3);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(viewer->PageFlags() & 0x0001, 0x0001); // fine resolution
}

TEST(ViewerPages, NoPageChangeWhileAPageImageIsBeingProduced)
{
    auto viewer = ShownViewer();
    LoadFixture(*viewer, "multi.apf");
    std::optional<bool> busyInside;
    intptr_t resultInside = -1;
    // Runs while the decoder of page 2 lets pending events through.
    QTimer::singleShot(0, viewer.get(), [&] {
        busyInside = TViewer::Busy();
        resultInside = viewer->Perform(kVwSetCurrentPage, 3);
        QTest::keyClick(viewer.get(), Qt::Key_PageDown);
        QTest::keyClick(viewer.get(), Qt::Key_End, Qt::ControlModifier);
    });
    viewer->SetCurrentPage(2);
    ASSERT_TRUE(busyInside.has_value());
    EXPECT_TRUE(*busyInside);
    EXPECT_EQ(resultInside, 0);
    EXPECT_EQ(viewer->CurrentPage(), 2);
    EXPECT_FALSE(TViewer::Busy());
}

TEST(ViewerPages, LoadWholeFaxTurnsEveryPageAndNeedsNoFileAfterwards)
{
    FaxTempFiles files;
    QFile::copy(QString::fromStdString(FaxFixture("multi.apf")), QString::fromStdString(files.Path("copy.apf")));
    auto viewer = ShownViewer(QSize(800, 600));
    viewer->SetLoadWholeFax(true);
    viewer->SetFileName(QString::fromStdString(files.Path("copy.apf")));
    viewer->SetPageRotation(1);
    ASSERT_TRUE(QFile::remove(QString::fromStdString(files.Path("copy.apf"))));
    int errors = 0;
    viewer->OnViewerError = [&](TKivCustomFaxViewer*, int) { ++errors; };
    for (int page : {3, 2}) {
        viewer->SetCurrentPage(page);
        ASSERT_EQ(viewer->CurrentPage(), page);
        TViewerRect rect;
        viewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&rect));
        EXPECT_EQ(rect.right + 1, 2155) << "page " << page; // turned: the rows are now columns
    }
    viewer->SetCurrentPage(3);
    const PixelGrid reference = ReferencePage("multi-3.png");
    EXPECT_EQ(CountMismatches(*viewer, Turned(reference, 1)), 0);
    EXPECT_EQ(errors, 0);
}

} // namespace
