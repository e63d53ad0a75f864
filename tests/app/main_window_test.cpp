// The main window on the offscreen platform: the Configure page against the
// settings store, the connection list, and the window lock of a download.
#include "app/cli/console_host.h"
#include "app/ui/ani_icon.h"
#include "app/ui/ani_file.h"
#include "app/ui/fax_rules_box.h"
#include "app/ui/main_window.h"
#include "app/ui/registry_variable.h"
#include "app/platform/message_box.h"
#include "app/platform/registry_store.h"
#include "app/core/download.h"
#include "app/core/fax_rules.h"
#include "app/core/security_choice.h"
#include "tests/support/temp_registry.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace {

const std::string kStoreKey = "HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore";

// A fresh settings store and an empty (or given) set of dial-up peers.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("PELLIMAR_PPP_PEERS", QFile::encodeName(peers_.path()));
        SetMessageHandler([this](TMessageKind, const QString&, const QString& text) {
            boxes_.push_back(text);
            return TMessageAnswer::Ok;
        });
    }
    void TearDown() override
    {
        SetMessageHandler({});
        qunsetenv("PELLIMAR_PPP_PEERS");
    }
    void AddPeer(const QString& name)
    {
        QFile file(peers_.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    void Store(const char* name, const char* text)
    {
        TRegistryStore().WriteValue(kStoreKey, name, {REG_SZ, std::string(text) + '\0'});
    }
    static void ShowPage(TForm1& w, QWidget* page)
    {
        w.pgCntrl->setCurrentWidget(page);
    }

    TempRegistry registry_;
    QTemporaryDir peers_;
    QStringList boxes_;
};

TEST_F(MainWindowTest, FirstStartShowsTheInitialTexts)
{
    TForm1 w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Pellimar"));
    ASSERT_EQ(w.pgCntrl->count(), 3);
    EXPECT_EQ(w.pgCntrl->tabText(0), QStringLiteral("Get Faxes"));
    EXPECT_EQ(w.pgCntrl->tabText(1), QStringLiteral("Browse Faxes"));
    EXPECT_EQ(w.pgCntrl->tabText(2), QStringLiteral("Configure"));
    EXPECT_EQ(w.pgCntrl->currentWidget(), w.ConnectSheet);
    EXPECT_EQ(w.cmbConnection->currentText(), QStringLiteral("None Selected"));
    EXPECT_EQ(w.edtHost->text(), QStringLiteral("None Supplied"));
    EXPECT_EQ(w.edtUserName->text(), QStringLiteral("None Supplied"));
    EXPECT_EQ(w.edtPassword->text(), QString());
    EXPECT_EQ(w.edtPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(w.Edit1->text(), QStringLiteral("None Selected"));
    EXPECT_EQ(w.cmbConnection->count(), 0);
    EXPECT_GT(w.AniIcon1->AniFile().FrameCount(), 1); // Pellimar's own animation, still at start
    EXPECT_FALSE(w.AniIcon1->Animated());
    // Every component is reachable by its name.
    for (const char* name : {"BitBtn1", "btnImport", "btnHelp", "BitBtn3", "AniIcon1", "Edit1", "InfoLabel",
                             "DisplayMemo", "cmbConnection", "edtHost", "edtUserName", "edtPassword", "BitBtn6",
                             "BitBtn7", "BitBtn8", "BitBtn2"})
        EXPECT_NE(w.findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
    EXPECT_TRUE(boxes_.isEmpty());
}

TEST_F(MainWindowTest, SaveStoresTheFieldsAndATypedConnection)
{
    AddPeer(QStringLiteral("provider"));
    {
        TForm1 w;
        ASSERT_EQ(w.cmbConnection->count(), 1);
        w.cmbConnection->setEditText(QStringLiteral("Office DSL"));
        w.edtHost->setText(QStringLiteral("pop.example.com:1110"));
        w.edtUserName->setText(QStringLiteral("fax"));
        w.edtPassword->setText(QStringLiteral("s3cret"));
        w.BitBtn6->click();
        EXPECT_EQ(w.Edit1->text(), QStringLiteral("Office DSL"));
    }
    TForm1 again;
    EXPECT_EQ(again.cmbConnection->currentText(), QStringLiteral("Office DSL"));
    EXPECT_EQ(again.edtHost->text(), QStringLiteral("pop.example.com:1110"));
    EXPECT_EQ(again.edtUserName->text(), QStringLiteral("fax"));
    EXPECT_EQ(again.edtPassword->text(), QStringLiteral("s3cret"));
    EXPECT_EQ(again.Edit1->text(), QStringLiteral("Office DSL"));
    EXPECT_EQ(again.cmbConnection->itemText(0), QStringLiteral("provider"));
    EXPECT_NE(registry_.Contents().indexOf("\"rgPassword\"=\"s3cret\""), -1);
}

TEST_F(MainWindowTest, ShowingConfigureRestoresStoredFieldsOnly)
{
    Store("rgHost", "stored.example.com");
    TForm1 w;
    w.edtHost->setText(QStringLiteral("typed.example.com"));
    w.edtUserName->setText(QStringLiteral("typed user"));
    ShowPage(w, w.ConnectSheet);
    ShowPage(w, w.ConfigureSheet);
    EXPECT_EQ(w.edtHost->text(), QStringLiteral("stored.example.com"));
    EXPECT_EQ(w.edtUserName->text(), QStringLiteral("typed user")); // nothing stored: kept
}

TEST_F(MainWindowTest, CancelReturnsEveryStoredField)
{
    Store("rgConnection", "dsl");
    Store("rgHost", "h");
    Store("rgUserName", "u");
    Store("rgPassword", "p");
    TForm1 w;
    w.cmbConnection->setEditText(QStringLiteral("x"));
    w.edtHost->setText(QStringLiteral("x"));
    w.edtUserName->setText(QStringLiteral("x"));
    w.edtPassword->setText(QStringLiteral("x"));
    w.BitBtn7->click();
    EXPECT_EQ(w.cmbConnection->currentText(), QStringLiteral("dsl"));
    EXPECT_EQ(w.edtHost->text(), QStringLiteral("h"));
    EXPECT_EQ(w.edtUserName->text(), QStringLiteral("u"));
    EXPECT_EQ(w.edtPassword->text(), QStringLiteral("p"));
}

// The Security choice: a missing or unknown stored value reads as "None"; a
// saved choice comes back, and POP3S moves the default port to 995.
TEST_F(MainWindowTest, SecurityChoiceIsStoredAndChoosesTheDefaultPort)
{
    {
        TForm1 w;
        EXPECT_EQ(w.cmbSecurity->currentText(), QStringLiteral("None"));
        EXPECT_FALSE(w.MailboxSettings().SecuritySaved);
        EXPECT_EQ(w.cmbSecurity->count(), 3);
        w.cmbSecurity->setCurrentText(QStringLiteral("TLS (POP3S)"));
        w.BitBtn6->click();
        EXPECT_NE(registry_.Contents().indexOf("\"rgSecurity\"=\"TLS (POP3S)\""), -1);
    }
    {
        TForm1 w;
        EXPECT_EQ(w.cmbSecurity->currentText(), QStringLiteral("TLS (POP3S)"));
        w.cmbSecurity->setCurrentText(QStringLiteral("None"));
        w.BitBtn7->click();
        EXPECT_EQ(w.cmbSecurity->currentText(), QStringLiteral("TLS (POP3S)"));
    }
    // Never saved: "None", noted as a default. Unknown: shown as "None" but
    // refused by the window and by --fetch alike until a choice is saved.
    QString console;
    QTextStream consoleOut(&console);
    const TConsoleRunHost fetchHost(consoleOut, ReadPellimarSetting);
    Store("rgSecurity", "bogus");
    {
        TForm1 w;
        EXPECT_EQ(w.cmbSecurity->currentText(), QStringLiteral("None"));
        EXPECT_TRUE(w.MailboxSettings().SecurityProblem.contains(QStringLiteral("\"bogus\"")));
        EXPECT_TRUE(fetchHost.MailboxSettings().SecurityProblem.contains(QStringLiteral("\"bogus\"")));
        w.BitBtn6->click();
        EXPECT_TRUE(w.MailboxSettings().SecurityProblem.isEmpty());
        EXPECT_TRUE(w.MailboxSettings().SecuritySaved);
        EXPECT_TRUE(fetchHost.MailboxSettings().SecurityProblem.isEmpty());
    }

    struct Case {
        const char* choice;
        const char* host;
        const char* port;
    };
    for (const Case& c : {Case{"TLS (POP3S)", "pop.example.com", "995"}, Case{"TLS (POP3S)", "pop.example.com:9950", "9950"},
                          Case{"STARTTLS", "pop.example.com", "pop3"}, Case{"None", "[::1]", "pop3"}}) {
        QString host, port;
        SplitHostPort(QLatin1String(c.host), host, port, DefaultPortFor(SecurityFromChoice(QLatin1String(c.choice))));
        EXPECT_EQ(port, QLatin1String(c.port)) << c.choice << " " << c.host;
    }
    EXPECT_TRUE(boxes_.isEmpty());
}

TEST_F(MainWindowTest, ConnectionListTakesTheFirstSixteenPeersInNameOrder)
{
    for (int i = 20; i > 0; --i)
        AddPeer(QStringLiteral("peer%1").arg(i, 2, 10, QLatin1Char('0')));
    AddPeer(QStringLiteral(".hidden"));
    TForm1 w;
    ASSERT_EQ(w.cmbConnection->count(), 16);
    EXPECT_EQ(w.cmbConnection->itemText(0), QStringLiteral("peer01"));
    EXPECT_EQ(w.cmbConnection->itemText(15), QStringLiteral("peer16"));
    EXPECT_EQ(w.cmbConnection->currentText(), QStringLiteral("None Selected"));
}

TEST_F(MainWindowTest, MissingPeersFolderGivesAnEmptyList)
{
    qputenv("PELLIMAR_PPP_PEERS", "/nonexistent/peers");
    TForm1 w;
    EXPECT_EQ(w.cmbConnection->count(), 0);
}

TEST_F(MainWindowTest, DamagedStoreIsReportedOnceAndKept)
{
    registry_.SetContents("REGEDIT4\n[broken");
    TForm1 w;
    ASSERT_EQ(boxes_.size(), 1);
    EXPECT_TRUE(boxes_[0].contains(registry_.Path()));
    EXPECT_EQ(w.edtHost->text(), QStringLiteral("None Supplied"));
    EXPECT_EQ(registry_.Contents(), QByteArray("REGEDIT4\n[broken"));
}

TEST_F(MainWindowTest, ControlsLockDuringARunAndTheLogOnlyGrows)
{
    Store("rgHost", "pop.example.com"); // configured: the log starts empty
    TForm1 w;
    QStringList seen;
    w.OnLogLine = [&](const QString& line) { seen << line; };
    w.SetControlsEnabled(false);
    EXPECT_FALSE(w.pgCntrl->isEnabled());
    EXPECT_FALSE(w.BitBtn1->isEnabled());
    EXPECT_FALSE(w.btnImport->isEnabled());
    EXPECT_FALSE(w.btnHelp->isEnabled());
    EXPECT_FALSE(w.BitBtn3->isEnabled());
    w.Log(QStringLiteral("Connecting to host"));
    w.Log(QStringLiteral("Done"));
    w.SetProgress(QStringLiteral("RETR 1"));
    w.SetProgress(QStringLiteral("RETR 2"));
    w.SetControlsEnabled(true);
    EXPECT_TRUE(w.BitBtn1->isEnabled());
    EXPECT_TRUE(w.DisplayMemo->isReadOnly());
    EXPECT_EQ(w.DisplayMemo->toPlainText(), QStringLiteral("Connecting to host\nDone"));
    EXPECT_EQ(seen, (QStringList{QStringLiteral("Connecting to host"), QStringLiteral("Done")}));
    EXPECT_EQ(w.InfoLabel->text(), QStringLiteral("RETR 2"));
}

TEST_F(MainWindowTest, ClosingTheWindowWritesBookkeeping)
{
    {
        TForm1 w;
        w.show();
        w.close();
    }
    const auto company = TRegistryStore().ReadValue(
        "HKEY_CURRENT_USER\\Software\\Tessaline\\QlRegistryVariable", "RegCompanyNameString");
    ASSERT_TRUE(company.has_value());
    EXPECT_EQ(company->data, std::string("Quenlo") + '\0');
}

// The fax-mail rules below the settings: the marker rule stays first and
// fixed, unusable or repeated rules are refused with a reason, Save stores
// the others, Cancel brings the stored list back, and a run gets the list
// as shown.
TEST_F(MainWindowTest, FaxMailRulesAreEditedStoredAndHandedToTheRun)
{
    TForm1 w;
    TFaxRulesBox& box = *w.FaxRules;
    for (QWidget* control : std::initializer_list<QWidget*>{box.lstFaxRules, box.edtRuleSender, box.edtRuleSubject,
                                                            box.btnAddRule, box.btnEditRule, box.btnRemoveRule,
                                                            box.lblRuleProblem})
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
    ASSERT_EQ(box.lstFaxRules->count(), 1);
    EXPECT_FALSE(box.btnRemoveRule->isEnabled());
    EXPECT_FALSE(box.btnEditRule->isEnabled());

    auto type = [&](const char* sender, const char* subject) {
        box.edtRuleSender->setText(QLatin1String(sender));
        box.edtRuleSubject->setText(QLatin1String(subject));
    };
    type("  hosted.example ", "");
    box.btnAddRule->click();
    type("", "Facsimile");
    box.btnAddRule->click();
    for (auto [sender, subject] : {std::pair{"", ""}, std::pair{"fax@", "x"}, std::pair{"hosted.example", ""}}) {
        type(sender, subject);
        box.btnAddRule->click();
        EXPECT_FALSE(box.lblRuleProblem->text().isEmpty()) << sender << "/" << subject;
    }
    box.lstFaxRules->setCurrentRow(1);
    EXPECT_EQ(box.edtRuleSender->text(), QStringLiteral("hosted.example"));
    box.edtRuleSubject->setText(QStringLiteral("New fax"));
    box.btnEditRule->click();
    box.lstFaxRules->setCurrentRow(2);
    box.btnRemoveRule->click();
    box.lstFaxRules->setCurrentRow(0);
    box.btnRemoveRule->click(); // the marker rule is never removed
    const TFaxMailRules shown{MarkerRule(), MakeFaxMailRule(QStringLiteral("hosted.example"), QStringLiteral("New fax"))};
    EXPECT_EQ(w.FaxMailRules(), shown);

    w.BitBtn6->click();
    EXPECT_NE(registry_.Contents().indexOf("\"rgFaxMailRules\"=\"hosted.example;New fax\""), -1);
    type("", "unsaved");
    box.btnAddRule->click();
    w.BitBtn7->click();
    EXPECT_EQ(w.FaxMailRules(), shown);
    // The command line's host reads the same stored rules.
    QString out;
    QTextStream stream(&out);
    EXPECT_EQ(TConsoleRunHost(stream, ReadPellimarSetting).FaxMailRules(), shown);
}

} // namespace
