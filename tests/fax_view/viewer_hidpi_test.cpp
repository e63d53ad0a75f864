// What the viewer draws on a screen with two device pixels to a client
// pixel (QT_SCALE_FACTOR=2, the fax_view_hidpi test): the grab holds device
// pixels, compared with libtiff's page. Skipped at a ratio of 1.
#include "fax/view/viewer_commands.h"
#include "tests/fax_view/viewer_test_util.h"

namespace {

TEST(ViewerHiDpi, PagesAreDrawnInDevicePixels)
{
    auto viewer = ShownViewer(QSize(500, 400));
    if (viewer->viewport()->devicePixelRatioF() != 2.0)
        GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
    LoadFixture(*viewer, "text-fine.apf");
    const PixelGrid page = ReferencePage("text-fine-1.png");
    ASSERT_GT(page.BlackCount(), 1000);
    // At half size a client pixel covers 2 x 2 page pixels, and so does a
    // device pixel at the ratio of 2: every page pixel, one-pixel strokes
    // included, is one device pixel, black or white, with no grey.
    // At 200 % a page pixel is 2 x 2 client pixels, 4 x 4 device pixels.
    struct Case {
        int mult;
        int div;
        int devicePerPagePixel;
    };
    for (const Case& c : {Case{1, 2, 1}, Case{2, 1, 4}}) {
        viewer->LockRendering();
        viewer->SetScaling(true);
        viewer->SetHorizMult(c.mult);
        viewer->SetHorizDiv(c.div);
        viewer->SetVertMult(c.mult);
        viewer->SetVertDiv(c.div);
        viewer->UnlockRendering();
        viewer->horizontalScrollBar()->setValue(131); // an odd offset
        viewer->verticalScrollBar()->setValue(57);
        const QImage device = ClientImage(*viewer);
        ASSERT_EQ(device.size(), viewer->viewport()->size() * 2);
        const QPoint origin = DisplayedOrigin(*viewer) * 2;
        const int mismatches = CountMismatches(device, origin, [&](int x, int y) -> QRgb {
            const int px = x / c.devicePerPagePixel;
            const int py = y / c.devicePerPagePixel;
            if (x < 0 || y < 0 || px >= page.width || py >= page.height)
                return 0xFFFFFF;
            return page.At(px, py) ? 0x000000 : 0xFFFFFF;
        });
        EXPECT_EQ(mismatches, 0) << c.mult << "/" << c.div;
    }
    // A selection inverts whole client pixels: 2 x 2 device pixels each.
    viewer->SetScaling(false);
    const TViewerRect block{10, 10, 20, 30};
    ASSERT_EQ(viewer->Perform(kVwSetSelection, 0, reinterpret_cast<intptr_t>(&block)), 0);
    const QImage device = ClientImage(*viewer);
    const QPoint origin = DisplayedOrigin(*viewer) * 2;
    const int mismatches = CountMismatches(device, origin, [&](int x, int y) -> QRgb {
        const bool black = x >= 0 && y >= 0 && x / 2 < page.width && y / 2 < page.height && page.At(x / 2, y / 2);
        const bool selected = x / 2 >= block.left && x / 2 <= block.right && y / 2 >= block.top && y / 2 <= block.bottom;
        return black != selected ? 0x000000 : 0xFFFFFF;
    });
    EXPECT_EQ(mismatches, 0);
}

} // namespace
