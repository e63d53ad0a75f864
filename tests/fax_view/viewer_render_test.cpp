// What the viewer draws, grabbed from the widget and compared pixel for
// pixel with libtiff's decoding of the same fixture pages.
#include "fax/view/viewer_commands.h"
#include "tests/fax_view/viewer_test_util.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTest>

namespace {

TEST(ViewerRendering, PageOneAtFullSizeIsPixelExact)
{
    auto viewer = ShownViewer(QSize(640, 480));
    LoadFixture(*viewer, "text-fine.apf");
    const PixelGrid page = ReferencePage("text-fine-1.png");
    ASSERT_EQ(viewer->CurrentPage(), 1);
    EXPECT_EQ(CountMismatches(*viewer, page), 0);
    // Scrolled into the middle of the page, through the scroll bars.
    viewer->horizontalScrollBar()->setValue(700);
    viewer->verticalScrollBar()->setValue(100);
    ASSERT_EQ(Offsets(*viewer), QPoint(700, 100));
    EXPECT_EQ(CountMismatches(*viewer, page), 0);
}

// Quarter turns through 1, 3 and back to 0. The page is 587 rows high, so a
// turned page's rows are 592 pixels: the half turn mirrors over those 592
// pixels (content 5 pixels to the right, nothing cut off), and turning back
// from 3 leaves those 5 white rows on top.
TEST(ViewerRendering, RotationFollowsTheQuarterTurnRules)
{
    auto viewer = ShownViewer(QSize(1620, 1620));
    LoadFixture(*viewer, "text-fine.apf");
    TViewerRect decoded;
    viewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&decoded));
    // The decoded page ends after its last used byte; libtiff's is wider.
    const PixelGrid page = Cropped(ReferencePage("text-fine-1.png"), decoded.right + 1);
    ASSERT_GT(page.BlackCount(), 1000);
    struct Step {
        int rotation;
        PixelGrid expected;
        QSize turnedSize; // the page rectangle's size along the turned axis
    };
    const Step steps[] = {
        {1, Turned(page, 1), QSize(587, 0)},
        {3, Shifted(Turned(page, 3), 5, 0), QSize(592, 0)},
        {0, Shifted(page, 0, 5), QSize(0, 592)},
    };
    for (const Step& step : steps) {
        viewer->SetPageRotation(step.rotation);
        TViewerRect rect;
        viewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&rect));
        if (step.turnedSize.width())
            EXPECT_EQ(rect.right + 1, step.turnedSize.width()) << "rotation " << step.rotation;
        else
            EXPECT_EQ(rect.bottom + 1, step.turnedSize.height()) << "rotation " << step.rotation;
        EXPECT_EQ(CountMismatches(*viewer, step.expected), 0) << "rotation " << step.rotation;
    }
}

TEST(ViewerRendering, DoubleSizeShowsEveryPixelAsATwoByTwoBlock)
{
    auto viewer = ShownViewer(QSize(500, 400));
    LoadFixture(*viewer, "text-fine.apf");
    viewer->SetHorizMult(2);
    viewer->SetVertMult(2);
    viewer->SetScaling(true);
    const PixelGrid page = ReferencePage("text-fine-1.png");
    EXPECT_EQ(viewer->verticalScrollBar()->maximum(), 2 * page.height - viewer->viewport()->height());
    viewer->horizontalScrollBar()->setValue(301); // an odd offset splits blocks at the edge
    viewer->verticalScrollBar()->setValue(155);
    EXPECT_EQ(CountMismatches(*viewer, page, 2), 0);
}

TEST(ViewerRendering, HalfSizeAveragesEachTwoByTwoBlockIntoGrey)
{
    auto viewer = ShownViewer(QSize(880, 400));
    LoadFixture(*viewer, "black-fine.apf");
    viewer->SetHorizDiv(2);
    viewer->SetVertDiv(2);
    viewer->SetScaling(true);
    const PixelGrid page = ReferencePage("black-fine-1.png");
    int greys = 0;
    const int mismatches = CountMismatches(ClientImage(*viewer), DisplayedOrigin(*viewer), [&](int x, int y) -> QRgb {
        int black = 0;
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx)
                if (x >= 0 && y >= 0 && 2 * x + dx < page.width && 2 * y + dy < page.height)
                    black += page.At(2 * x + dx, 2 * y + dy);
        greys += black == 1 || black == 2 || black == 3;
        const int level = 255 * (4 - black) / 4;
        return qRgb(level, level, level);
    });
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(greys, 100);
}

// A page smaller than the client is shown in its middle, and a block drawn
// with the mouse still covers the page pixels under the pointer.
TEST(ViewerRendering, APageSmallerThanTheClientIsCentred)
{
    auto viewer = ShownViewer(QSize(900, 700));
    LoadFixture(*viewer, "black-fine.apf");
    viewer->SetHorizDiv(4);
    viewer->SetVertDiv(4);
    viewer->SetScaling(true);
    TViewerRect page;
    viewer->Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&page));
    const QSize displayed((page.right + 1) / 4, (page.bottom + 1) / 4);
    const QSize room = viewer->viewport()->size();
    ASSERT_LT(displayed.width(), room.width());
    ASSERT_LT(displayed.height(), room.height());
    EXPECT_EQ(DisplayedOrigin(*viewer),
              QPoint(-(room.width() - displayed.width()) / 2, -(room.height() - displayed.height()) / 2));
    int mismatches = 0;
    const QImage client = ClientImage(*viewer);
    for (int y = 0; y < client.height(); y += 7)
        for (int x = 0; x < client.width(); x += 7) {
            const QPoint at = QPoint(x, y) + DisplayedOrigin(*viewer);
            const bool inside = at.x() >= 0 && at.y() >= 0 && at.x() < displayed.width() && at.y() < displayed.height();
            mismatches += !inside && (client.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
        }
    EXPECT_EQ(mismatches, 0) << "ink outside the centred page";
    const QPoint corner = -DisplayedOrigin(*viewer);
    QTest::mousePress(viewer->viewport(), Qt::LeftButton, {}, corner + QPoint(10, 20));
    QTest::mouseMove(viewer->viewport(), corner + QPoint(30, 50));
    QTest::mouseRelease(viewer->viewport(), Qt::LeftButton, {}, corner + QPoint(30, 50));
    ASSERT_EQ(viewer->Perform(kVwCopySelection), 0);
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(21, 31)) << "the block from (10, 20) to (30, 50)";
}

TEST(ViewerRendering, SwappedColoursAndAnInvertedSelection)
{
    auto viewer = ShownViewer(QSize(640, 480));
    LoadFixture(*viewer, "text-fine.apf");
    const PixelGrid page = ReferencePage("text-fine-1.png");
    viewer->SetFGColor(Qt::white);
    viewer->SetBGColor(Qt::black);
    EXPECT_EQ(CountMismatches(*viewer, page, 1, 0xFFFFFF, 0x000000), 0);

    viewer->SetFGColor(Qt::black);
    viewer->SetBGColor(Qt::white);
    const TViewerRect block{100, 50, 399, 249};
    ASSERT_EQ(viewer->Perform(kVwSetSelection, 0, reinterpret_cast<intptr_t>(&block)), 0);
    const int mismatches = CountMismatches(ClientImage(*viewer), DisplayedOrigin(*viewer), [&](int x, int y) -> QRgb {
        const bool black = page.At(x, y);
        const bool selected = x >= block.left && x <= block.right && y >= block.top && y <= block.bottom;
        return black != selected ? 0x000000 : 0xFFFFFF;
    });
    EXPECT_EQ(mismatches, 0);
}

} // namespace

namespace {

// In the form designer the window shows the component's name and no fax.
TEST(ViewerRendering, DesignerShowsTheComponentName)
{
    TKivFaxViewer viewer(nullptr, true);
    viewer.setObjectName(QStringLiteral("KivFaxViewer1"));
    viewer.SetFileName(QString::fromStdString(FaxFixture("text-fine.apf")));
    viewer.resize(200, 60);
    viewer.show();
    EXPECT_EQ(viewer.PageCount(), 0);
    const QImage client = ClientImage(viewer);
    int inked = 0;
    for (int y = 0; y < client.height(); ++y)
        for (int x = 0; x < client.width(); ++x)
            if ((client.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) {
                ++inked;
                EXPECT_GE(x, 3);
                EXPECT_GE(y, 3);
            }
    EXPECT_GT(inked, 20);
}

} // namespace
