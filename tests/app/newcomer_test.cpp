// What a first-time user meets: the start-up hint in the status log, the
// record panel on Browse Faxes showing its texts whole, and `pellimar --help`.
#include "app/ui/main_window.h"
#include "app/platform/message_box.h"
#include "tests/app/headless_run.h"
#include "tests/support/temp_registry.h"

#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace {

class NewcomerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("PELLIMAR_PPP_PEERS", "/nonexistent");
        SetMessageHandler([](TMessageKind, const QString&, const QString&) { return TMessageAnswer::Ok; });
    }
    void TearDown() override
    {
        SetMessageHandler({});
        qunsetenv("PELLIMAR_PPP_PEERS");
    }

    TempRegistry registry_;
};

TEST_F(NewcomerTest, FirstStartSaysWhereTheMailboxIsSetAndHowToTryIt)
{
    {
        TForm1 w;
        const QStringList log = w.DisplayMemo->toPlainText().split(QLatin1Char('\n'));
        ASSERT_EQ(log.size(), 1) << w.DisplayMemo->toPlainText().toStdString();
        EXPECT_TRUE(log[0].contains(QStringLiteral("Configure page"))) << log[0].toStdString();
        EXPECT_TRUE(log[0].contains(QStringLiteral("demo mailbox"))) << log[0].toStdString();
        EXPECT_TRUE(log[0].contains(QStringLiteral("README"))) << log[0].toStdString();
        w.edtHost->setText(QStringLiteral("pop.example.com"));
        w.BitBtn6->click();
    }
    TForm1 configured;
    EXPECT_TRUE(configured.DisplayMemo->toPlainText().isEmpty());
}

// True when the edit shows the text whole: painted with the cursor after the
// last character it looks as it does with the cursor before the first, so
// nothing was scrolled out of sight at either end.
bool ShowsWhole(QLineEdit& edit, const QString& text)
{
    edit.setText(text); // the cursor goes to the end
    const QImage atEnd = edit.grab().toImage();
    edit.setCursorPosition(0);
    const QImage atStart = edit.grab().toImage();
    return atEnd == atStart;
}

TEST_F(NewcomerTest, RecordPanelShowsWholeDatesAndSenderIds)
{
    TForm1 w;
    w.pgCntrl->setCurrentWidget(w.BrowseFaxesSheet);
    w.show();
    for (QLineEdit* edit : {w.edteMailDate, w.edtFaxDate}) {
        edit->clearFocus(); // no blinking cursor in the pictures
        for (const char* date : {"12/09/2026 01:03 AM", "11/28/2026 10:48 PM", "08/08/2088 08:08 PM"})
            EXPECT_TRUE(ShowsWhole(*edit, QLatin1String(date))) << edit->objectName().toStdString() << " " << date;
    }
    const QString number = QStringLiteral("+49 30 9018 2000 0000 0000 0000 0000 099");
    const QString named = QStringLiteral("+44 20 7946 0018 Quenlo Office Supplies.");
    ASSERT_EQ(number.size(), 40);
    ASSERT_EQ(named.size(), 40);
    w.edtSenderID->clearFocus();
    EXPECT_TRUE(ShowsWhole(*w.edtSenderID, number));
    EXPECT_TRUE(ShowsWhole(*w.edtSenderID, named));
    // The check itself tells a cut text: one character more than fits is caught.
    EXPECT_FALSE(ShowsWhole(*w.edtSenderID, number + number));
}

TEST(CommandLineHelpTest, HelpListsEveryOptionAndExitsWithoutAWindow)
{
    for (const char* option : {"--help", "-h"}) {
        const THeadlessRun run = RunPellimarHeadless({QLatin1String(option)});
        EXPECT_EQ(run.status, 0) << option;
        const QString& out = run.out;
        EXPECT_TRUE(out.startsWith(QStringLiteral("Usage: pellimar "))) << out.toStdString();
        EXPECT_TRUE(out.endsWith(QLatin1Char('\n')));
        const QString words = out.simplified(); // independent of where lines break
        for (const char* text : {"--fetch", "--list", "--export FAX.apf OUT", "-h, --help", "0 when the whole mailbox",
                                 "2 when the server could not be reached", "3 when it refused the login",
                                 "4 when the run stopped early", "5 when the catalogue could not be opened"})
            EXPECT_TRUE(words.contains(QLatin1String(text))) << option << ": " << text;
    }
}

} // namespace
