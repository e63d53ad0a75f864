// The window with recognition running: the Browse Faxes filter finds a fax
// by its text alone and marks it "Found in text" (a field match is not
// marked), the progress line counts the faxes left, closing while a page is
// being read ends within a second and keeps every page read, and the next
// start goes on with the rest.
#include "app/core/fax_text.h"
#include "app/core/text_index.h"
#include "app/platform/message_box.h"
#include "app/ui/main_window.h"
#include "app/ui/view_form.h"
#include "fax/view/fax_viewer.h"
#include "qdb/record_view.h"
#include "tests/support/event_wait.h"
#include "tests/support/temp_current_dir.h"
#include "tests/support/temp_registry.h"
#include "tests/text/text_fixtures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>

#include <gtest/gtest.h>

namespace {

const QString kFineKey = QStringLiteral("faxes\\text-fine.apf");
const QString kStandardKey = QStringLiteral("faxes\\text-standard.apf");

class WindowText : public ::testing::Test {
protected:
    WindowText()
    {
        qputenv("PELLIMAR_PPP_PEERS", "/nonexistent");
        qputenv("PELLIMAR_TEXT_WORKERS", "1");
        SetMessageHandler([](TMessageKind, const QString&, const QString&) { return TMessageAnswer::Ok; });
        QDir().mkpath(QStringLiteral("faxes"));
        for (const char* name : {"text-fine.apf", "text-standard.apf"})
            QFile::copy(TextFixtureFolder() + QLatin1Char('/') + QLatin1String(name),
                        QStringLiteral("faxes/") + QLatin1String(name));
    }
    ~WindowText() override
    {
        SetMessageHandler({});
        qputenv("PELLIMAR_TEXT_WORKERS", "0");
        qunsetenv("PELLIMAR_PPP_PEERS");
    }

    static void Add(TForm1& w, const QString& key, const QString& sender)
    {
        w.QDBView->Insert();
        w.edtFilename->setText(key);
        w.edtStatus->setText(QStringLiteral("New"));
        w.edtSenderID->setText(sender);
        w.edtFaxDate->setText(QStringLiteral("12/31/2026 11:00 PM"));
        w.edteMailDate->setText(QStringLiteral("12/31/2026 11:00 PM"));
        w.QDBView->Post();
        w.QDBView->Flush();
    }

    // The Filename and Found in text cells of the rows shown.
    static QStringList Rows(TForm1& w)
    {
        QStringList rows;
        const QAbstractItemModel& grid = *w.faxGrid->model();
        for (int row = 0; row < grid.rowCount(); ++row)
            rows << grid.index(row, 1).data().toString() + QLatin1Char('|') + grid.index(row, 5).data().toString();
        return rows;
    }

    static bool Complete(TForm1& w, const QString& key)
    {
        return w.FaxText->Index().CompleteKeys().contains(key.toLower());
    }

    TempRegistry registry_;
    TempCurrentDir folder_;
};

} // namespace

TEST_F(WindowText, FilterFindsFaxesByTheirTextAndClosingMidPageKeepsWhatWasRead)
{
    ASSERT_FALSE(TextFixtureFolder().isEmpty());
    auto* w = new TForm1;
    w->show();
    Add(*w, kFineKey, QStringLiteral("Acme Sales"));
    Add(*w, kStandardKey, QStringLiteral("555-0199"));
    w->Catalogue->NoteChanged(); // as a download or an import ends
    w->pgCntrl->setCurrentWidget(w->BrowseFaxesSheet);
    EXPECT_TRUE(w->lblTextProgress->text().contains(QStringLiteral("2 faxes left")))
        << w->lblTextProgress->text().toStdString();

    // One worker reads the faxes in key order: the fine one first.
    ASSERT_TRUE(RunEventsUntil([&] { return Complete(*w, kFineKey); }, 120000));
    EXPECT_TRUE(w->lblTextProgress->text().contains(QStringLiteral("1 fax left")))
        << w->lblTextProgress->text().toStdString();
    const struct {
        const char* typed;
        QStringList rows;
    } filters[] = {
        {"tractor HARVEST", {kFineKey + QStringLiteral("|Yes")}},  // text only, any order and case
        {"acme", {kFineKey + QStringLiteral("|")}},                // a field match is not marked
        {"sales acme", {}},                                        // fields match the text as typed
        {"12/31/2026", {kFineKey + QStringLiteral("|"), kStandardKey + QStringLiteral("|")}},
        {"", {kFineKey + QStringLiteral("|"), kStandardKey + QStringLiteral("|")}},
    };
    for (const auto& filter : filters) {
        w->edtGridFilter->setText(QString::fromUtf8(filter.typed));
        EXPECT_EQ(Rows(*w), filter.rows) << filter.typed;
    }

    // The viewer marks the words found and F3 walks the pages holding them.
    {
        TViewForm viewer;
        viewer.resize(900, 700);
        viewer.show();
        int beeps = 0;
        viewer.Beep = [&] { ++beeps; };
        viewer.OpenFax(QStringLiteral("faxes/text-fine.apf"));
        viewer.SetTextMatches(w->FaxText, kFineKey, {QStringLiteral("BRIDGE")});
        EXPECT_EQ(viewer.FaxViewer->CurrentPage(), 1);
        EXPECT_EQ(viewer.TextMatchesShown(), 0);
        viewer.NextTextMatch();
        EXPECT_EQ(viewer.FaxViewer->CurrentPage(), 2);
        EXPECT_EQ(viewer.TextMatchesShown(), 1);
        viewer.NextTextMatch(); // the only page holding it: stays
        EXPECT_EQ(viewer.FaxViewer->CurrentPage(), 2);
        viewer.SetTextMatches(w->FaxText, kFineKey, {QStringLiteral("the")});
        EXPECT_GE(viewer.TextMatchesShown(), 2);
        viewer.NextTextMatch(); // after the last page, the first
        EXPECT_EQ(viewer.FaxViewer->CurrentPage(), 1);
        EXPECT_GE(viewer.TextMatchesShown(), 2);
        // The marks are drawn where the page shows: yellow pixels on screen.
        const QImage shot = viewer.FaxViewer->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int yellow = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb p = shot.pixel(x, y);
                yellow += qRed(p) > 200 && qGreen(p) > 180 && qBlue(p) < 100;
            }
        EXPECT_GT(yellow, 100);
        viewer.OpenFax(QStringLiteral("faxes/text-fine.apf")); // another opening forgets the words
        EXPECT_EQ(viewer.TextMatchesShown(), 0);
        viewer.NextTextMatch();
        EXPECT_EQ(beeps, 1);
    }

    // A filter typed before a fax is read finds it once it is.
    w->edtGridFilter->setText(QStringLiteral("greenhouse"));
    EXPECT_EQ(Rows(*w), QStringList());
    ASSERT_TRUE(RunEventsUntil([&] { return !w->FaxText->Index().StoredPages(kStandardKey).isEmpty(); }, 120000));
    ASSERT_FALSE(Complete(*w, kStandardKey)) << "the second page should still be being read";
    EXPECT_EQ(Rows(*w), QStringList());
    // Closed while page 2 of the standard fax is being read.
    QElapsedTimer closing;
    closing.start();
    w->close();
    delete w;
    const qint64 closeMs = closing.elapsed();
    std::printf("closing while a page was read took %lld ms\n", static_cast<long long>(closeMs));
    EXPECT_LT(closeMs, 1000);

    {
        TTextIndex index;
        ASSERT_TRUE(index.OpenForReading(QLatin1String(kTextIndexFileName)));
        EXPECT_TRUE(index.CompleteKeys().contains(kFineKey.toLower()));
        EXPECT_EQ(index.StoredPages(kStandardKey), QSet<int>({1})) << "the page read before closing is kept";
        EXPECT_FALSE(index.CompleteKeys().contains(kStandardKey.toLower()));
    }

    // The next start reads only what is left.
    TForm1 again;
    again.show();
    again.pgCntrl->setCurrentWidget(again.BrowseFaxesSheet);
    EXPECT_TRUE(again.lblTextProgress->text().contains(QStringLiteral("1 fax left")));
    again.edtGridFilter->setText(QStringLiteral("laboratory greenhouse"));
    EXPECT_EQ(Rows(again), QStringList()) << "no one page holds both";
    again.edtGridFilter->setText(QStringLiteral("laboratory"));
    ASSERT_TRUE(RunEventsUntil([&] { return Complete(again, kStandardKey); }, 120000));
    EXPECT_EQ(Rows(again), QStringList({kStandardKey + QStringLiteral("|Yes")}));
    EXPECT_TRUE(again.lblTextProgress->text().contains(QStringLiteral("every fax")));
}
