// The viewer window's thumbnail strip on the offscreen platform: it follows
// the page shown and chooses pages by mouse and keys, names its pages for
// screen readers, crosses out a page that cannot be shown without an error
// box, is hidden and shown again as remembered, and for a fax of 2000 pages
// makes only the thumbnails in sight and holds no more than its limit.
#include "app/platform/message_box.h"
#include "app/ui/page_strip.h"
#include "app/ui/view_form.h"
#include "fax/view/fax_viewer.h"
#include "tests/fax_view/printer_test_util.h"
#include "tests/support/temp_registry.h"

#include <QAccessible>
#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class ViewFormStripTest : public ::testing::Test {
protected:
    ViewFormStripTest()
    {
        SetMessageHandler([this](TMessageKind kind, const QString&, const QString& text) {
            boxes << MessageCaption(kind) + QLatin1String(": ") + text;
            return TMessageAnswer::Ok;
        });
        form.resize(700, 500);
        form.show();
    }
    ~ViewFormStripTest() override { SetMessageHandler({}); }

    // Lets the strip make what it wants to, one thumbnail a turn.
    void Settle()
    {
        for (int i = 0; i < 200; ++i)
            QApplication::processEvents();
    }

    QPoint Centre(int row) const
    {
        return form.PageStrip->visualRect(form.PageStrip->model()->index(row, 0)).center();
    }

    QString ItemText(int row, QAccessible::Text kind) const
    {
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(form.PageStrip);
        QAccessibleInterface* item = list ? list->child(row) : nullptr;
        return item ? item->text(kind) : QString();
    }

    // The white page within a thumbnail.
    QSize SheetOf(int row) const
    {
        const QImage image = form.PageStrip->model()->index(row, 0).data(Qt::DecorationRole).value<QPixmap>().toImage();
        QRect sheet;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) == 255 && qGray(image.pixel(x, y)) > 200)
                    sheet |= QRect(x, y, 1, 1);
        return sheet.size();
    }

    TempRegistry registry;
    TViewForm form;
    QStringList boxes;
};

TEST_F(ViewFormStripTest, ChoosesAndFollowsPagesAndIsRemembered)
{
    const QString multi = QString::fromStdString(FaxFixture("multi.apf"));
    form.OpenFax(multi);
    Settle();
    TPageStrip* strip = form.PageStrip;
    ASSERT_TRUE(form.ThumbnailsShown());
    ASSERT_EQ(strip->PageCount(), 3);
    EXPECT_EQ(strip->MadeCount(), 3);
    EXPECT_EQ(strip->currentIndex().row(), 0);
    EXPECT_EQ(strip->accessibleName(), QStringLiteral("Pages"));
    EXPECT_EQ(ItemText(1, QAccessible::Name), QStringLiteral("Page 2"));
    // A thumbnail shows its page: ink on white.
    const QImage first = strip->model()->index(0, 0).data(Qt::DecorationRole).value<QPixmap>().toImage();
    int dark = 0;
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x)
            dark += qGray(first.pixel(x, y)) < 128 && qAlpha(first.pixel(x, y)) == 255;
    EXPECT_GT(dark, 20);

    QTest::mouseClick(strip->viewport(), Qt::LeftButton, {}, Centre(2));
    EXPECT_EQ(form.FaxViewer->CurrentPage(), 3);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("  Viewing page 3 of 3 in ") + multi);
    QTest::keyClick(strip, Qt::Key_Up);
    EXPECT_EQ(form.FaxViewer->CurrentPage(), 2);
    form.SpeedButton1->click(); // Prev
    EXPECT_EQ(strip->currentIndex().row(), 0) << "the strip follows the viewer";

    // Turned pages are made afresh, turned: the portrait pages become landscape.
    EXPECT_GT(SheetOf(0).height(), SheetOf(0).width());
    form.FaxViewer->SetPageRotation(1);
    Settle();
    for (int row : {0, 1})
        EXPECT_GT(SheetOf(row).width(), SheetOf(row).height()) << "row " << row;

    // Hidden with the button, and so in the next window too.
    form.ThumbnailsButton->click();
    EXPECT_FALSE(form.ThumbnailsShown());
    {
        TViewForm next;
        EXPECT_FALSE(next.ThumbnailsShown());
        EXPECT_FALSE(next.ThumbnailsButton->isChecked());
    }
    QTest::keyClick(form.FaxViewer, Qt::Key_T);
    EXPECT_TRUE(form.ThumbnailsShown());
    EXPECT_TRUE(form.ThumbnailsButton->isChecked());
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

TEST_F(ViewFormStripTest, APageThatCannotBeShownIsCrossedOutWithoutABox)
{
    FaxTempFiles files;
    // The header promises three pages; the second's data runs past the end.
    const std::string fax = files.Write("cut.apf", ApfBytes({BarPage(40, 100, 900), CutPage()}, 3));
    form.OpenFax(QString::fromStdString(fax));
    Settle();
    ASSERT_EQ(form.PageStrip->PageCount(), 3);
    EXPECT_EQ(ItemText(0, QAccessible::Description), QString());
    EXPECT_EQ(ItemText(1, QAccessible::Description), QStringLiteral("This page cannot be shown"));
    EXPECT_EQ(ItemText(2, QAccessible::Description), QStringLiteral("This page cannot be shown"));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    EXPECT_EQ(form.FaxViewer->CurrentPage(), 1) << "the viewer goes on showing page 1";
    EXPECT_FALSE(form.FaxViewer->FileName().isEmpty());
}

TEST_F(ViewFormStripTest, ALongFaxMakesOnlyTheThumbnailsInSight)
{
    FaxTempFiles files;
    const std::vector<TestPage> pages(2000, BarPage(8, 200, 1500));
    const std::string fax = files.Write("long.apf", ApfBytes(pages));
    form.OpenFax(QString::fromStdString(fax));
    Settle();
    TPageStrip* strip = form.PageStrip;
    ASSERT_EQ(strip->PageCount(), 2000);
    const int inSight = strip->viewport()->height() / strip->visualRect(strip->model()->index(0, 0)).height() + 2;
    EXPECT_GT(strip->MadeCount(), 0);
    EXPECT_LE(strip->MadeCount(), inSight);
    // Through the whole strip a screen at a time: never more than the limit held.
    QScrollBar* bar = strip->verticalScrollBar();
    int most = 0;
    for (int at = 0; at <= bar->maximum(); at += 10 * bar->pageStep()) {
        bar->setValue(at);
        Settle();
        most = std::max(most, strip->HeldCount());
    }
    EXPECT_LE(most, TPageStrip::kMaxThumbnails);
    EXPECT_GT(strip->MadeCount(), TPageStrip::kMaxThumbnails) << "later pages were made as they came in sight";
    EXPECT_LT(strip->MadeCount(), 2000 / 4) << "pages scrolled past are not made";
    // Choosing the last page shows it and brings its thumbnail in sight.
    form.FaxViewer->SetCurrentPage(2000);
    EXPECT_EQ(strip->currentIndex().row(), 1999);
    EXPECT_TRUE(strip->visualRect(strip->currentIndex()).intersects(strip->viewport()->rect()));
}

} // namespace
