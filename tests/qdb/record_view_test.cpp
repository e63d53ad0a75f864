// The record view over real database files, bound to a panel of real widgets
// on the offscreen platform, laid out like the catalogue panel.
#include "qdb/record_layout.h"
#include "qdb/record_view.h"
#include "qdb_fixture.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QTextEdit>

using namespace qdb;

namespace {

const char* const kCatalogueFields[] = {"edtFilename", "edteMailDate", "edtSenderID", "edtFaxDate", "edtStatus"};

std::string Text(const char* text) { return std::string(text) + '\0'; }

// A catalogue record as the panel stores it.
std::string Record(const char* file, const char* mailDate, const char* sender, const char* faxDate,
                   const char* status)
{
    return EncodeRecord({Text(file), Text(mailDate), Text(sender), Text(faxDate), Text(status)});
}

class RecordView : public QdbFolder {
protected:
    void SetUp() override
    {
        QdbFolder::SetUp();
        for (const char* name : kCatalogueFields) {
            auto* edit = new QLineEdit(&panel);
            edit->setObjectName(QLatin1String(name));
            edits.push_back(edit);
        }
        view.OnKey = [this](TQDB*, TKey& key) { key = edits[0]->text().toStdString(); };
        view.WarnNoData = [this](TQDB*) { ++noData; };
        view.SetPanel(&panel);
    }
    void TearDown() override
    {
        view.SetFileName({});
        QdbFolder::TearDown();
    }
    void Fill(const char* file, const char* mailDate, const char* sender, const char* faxDate, const char* status)
    {
        const char* values[] = {file, mailDate, sender, faxDate, status};
        for (int i = 0; i < 5; ++i)
            edits[i]->setText(QLatin1String(values[i]));
    }
    void Add(const char* file, const char* status = "New")
    {
        view.Insert();
        Fill(file, "12/08/2026 09:15 PM", "+44 20", "12/08/2026 09:14 PM", status);
        view.Post();
    }
    QString Shown(int field) const { return edits[field]->text(); }

    QWidget panel;
    std::vector<QLineEdit*> edits;
    TQDBView view;
    int noData = 0;
};

} // namespace

TEST_F(RecordView, ANewDatabaseReceivesThePanelLayout)
{
    const std::string file = Path("faxes.qdb");
    view.SetFileName(file);
    ASSERT_TRUE(view.Ready());
    EXPECT_EQ(view.Count(), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(view.GetAdminString(LayoutKey(i)), std::string("\x06.") + kCatalogueFields[i] + ".TEdit") << i;
    EXPECT_FALSE(view.AdminItemExists("QF.0005"));
    EXPECT_EQ(view.AdminCount(), 5);
    view.First();
    EXPECT_EQ(noData, 1);

    // In the file each descriptor is its key and its text with a zero byte.
    view.SetFileName({});
    const std::string bytes = ReadFile(file);
    EXPECT_NE(bytes.find(std::string("\x06.edtFilename.TEdit\0", 20)), std::string::npos);
    EXPECT_NE(bytes.find(std::string("QF.0004\0", 8)), std::string::npos);
    EXPECT_NE(bytes.find(std::string("\x06.edtStatus.TEdit\0", 18)), std::string::npos);
}

TEST_F(RecordView, InsertAndPostStoreTheFieldsAsARecord)
{
    view.SetFileName(Path("faxes.qdb"));
    EXPECT_FALSE(view.Active());
    EXPECT_TRUE(edits[0]->isReadOnly());
    view.Insert();
    EXPECT_TRUE(view.Active());
    EXPECT_TRUE(view.Inserting());
    EXPECT_FALSE(edits[0]->isReadOnly());
    Fill("faxes\\a.apf", "", "+44 20", "12/08/2026 09:14 PM", "New");
    view.Post();
    EXPECT_FALSE(view.Active());
    EXPECT_FALSE(view.Inserting());
    EXPECT_EQ(edits[4]->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));

    ASSERT_EQ(view.Count(), 1);
    ASSERT_TRUE(view.FindKey("faxes\\a.apf"));
    const std::string record = view.GetItem();
    EXPECT_EQ(record, Record("faxes\\a.apf", "", "+44 20", "12/08/2026 09:14 PM", "New"));
    // The status "New" closes the record; an empty edit is one zero byte.
    EXPECT_EQ(record.substr(record.size() - 8), std::string("\x04\0\0\0New\0", 8));
    EXPECT_NE(record.find(std::string("\x01\0\0\0\0", 5)), std::string::npos);

    // Reopening loads the first record into the controls.
    view.SetFileName({});
    Fill("", "", "", "", "");
    view.SetFileName(Path("faxes.qdb"));
    EXPECT_EQ(Shown(0), QStringLiteral("faxes\\a.apf"));
    EXPECT_EQ(Shown(3), QStringLiteral("12/08/2026 09:14 PM"));
}

TEST_F(RecordView, InsertUnderAnExistingKeyReplacesThatRecord)
{
    view.SetFileName(Path("faxes.qdb"));
    Add("faxes\\a.apf", "New");
    Add("faxes\\b.apf", "New");
    Add("FAXES\\A.APF", "Viewed"); // keys compare without regard to case
    EXPECT_EQ(view.Count(), 2);
    ASSERT_TRUE(view.FindKey("faxes\\a.apf"));
    view.Refresh();
    EXPECT_EQ(Shown(4), QStringLiteral("Viewed"));
}

TEST_F(RecordView, EditChangesARecordAndMovesItWhenItsKeyChanges)
{
    view.SetFileName(Path("faxes.qdb"));
    Add("faxes\\a.apf");
    Add("faxes\\b.apf");

    // Marking a fax viewed, as the browser does.
    ASSERT_TRUE(view.FindKey("faxes\\b.apf"));
    view.Refresh();
    view.Edit();
    EXPECT_TRUE(view.Editing());
    EXPECT_TRUE(view.Active());
    edits[4]->setText(QStringLiteral("Viewed"));
    view.Post();
    EXPECT_FALSE(view.Editing());
    EXPECT_EQ(view.Count(), 2);
    ASSERT_TRUE(view.FindKey("faxes\\b.apf"));
    EXPECT_EQ(view.GetItem(), Record("faxes\\b.apf", "12/08/2026 09:15 PM", "+44 20", "12/08/2026 09:14 PM",
                                     "Viewed"));

    // A changed key: the record under the old key goes, one under the new comes.
    ASSERT_TRUE(view.FindKey("faxes\\a.apf"));
    view.Edit();
    EXPECT_EQ(Shown(0), QStringLiteral("faxes\\a.apf")); // Edit reloads the controls
    edits[0]->setText(QStringLiteral("faxes\\c.apf"));
    view.Post();
    EXPECT_EQ(view.Count(), 2);
    EXPECT_FALSE(view.FindKey("faxes\\a.apf"));
    ASSERT_TRUE(view.FindKey("faxes\\c.apf"));
    view.Refresh();
    EXPECT_EQ(Shown(4), QStringLiteral("New"));
}

TEST_F(RecordView, PostWithoutInsertOrEditStoresNothing)
{
    view.SetFileName(Path("faxes.qdb"));
    Add("faxes\\a.apf");
    Fill("faxes\\z.apf", "", "", "", "typed");
    int posted = 0;
    view.AfterPost = [&](TQDB*) { ++posted; };
    view.Post();
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(view.Count(), 1);
    EXPECT_FALSE(view.FindKey("faxes\\z.apf"));
    EXPECT_FALSE(view.Modified() && view.FindKey("faxes\\z.apf"));
}

TEST_F(RecordView, CancelDeleteAndMovesReloadTheControls)
{
    view.SetFileName(Path("faxes.qdb"));
    Add("faxes\\a.apf", "A");
    Add("faxes\\b.apf", "B");
    Add("faxes\\c.apf", "C");

    view.First();
    EXPECT_EQ(Shown(4), QStringLiteral("A"));
    view.Next();
    EXPECT_EQ(Shown(4), QStringLiteral("B"));
    view.Last();
    EXPECT_EQ(Shown(4), QStringLiteral("C"));
    view.Prev();
    EXPECT_EQ(Shown(4), QStringLiteral("B"));

    view.Edit();
    edits[4]->setText(QStringLiteral("changed"));
    view.DoCancel();
    EXPECT_FALSE(view.Editing());
    EXPECT_FALSE(view.Active());
    EXPECT_EQ(Shown(4), QStringLiteral("B"));
    ASSERT_TRUE(view.FindKey("faxes\\b.apf"));
    EXPECT_EQ(DecodeRecord(view.GetItem(), 5)[4], Text("B"));

    // Deleting B shows the record before it; deleting the last one clears.
    view.Delete();
    EXPECT_EQ(view.Count(), 2);
    EXPECT_EQ(Shown(4), QStringLiteral("A"));
    view.First();
    view.Delete();
    view.First();
    view.Delete();
    EXPECT_EQ(view.Count(), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(Shown(i).isEmpty()) << i;
}

TEST_F(RecordView, StoringWithoutAKeyHandlerFails)
{
    view.SetFileName(Path("faxes.qdb"));
    view.OnKey = nullptr;
    view.Insert();
    Fill("faxes\\a.apf", "", "", "", "New");
    try {
        view.Post();
        ADD_FAILURE() << "posted without a key handler";
    } catch (const EQDBKeyError& e) {
        EXPECT_STREQ(e.what(), "Cannot store data unless an OnKey handler is assigned");
    }
    EXPECT_EQ(view.Count(), 0);

    // A key longer than 255 characters is cut.
    view.OnKey = [](TQDB*, TKey& key) { key = std::string(300, 'k'); };
    view.Post();
    ASSERT_EQ(view.Count(), 1);
    EXPECT_EQ(view.Key(), std::string(255, 'k'));
}

TEST_F(RecordView, ADatabaseOfAnotherLayoutIsRefusedWhenItHoldsRecords)
{
    const std::string file = Path("other.qdb");
    {
        TQDB other;
        other.SetFileName(file);
        other.SetAdminString("QF.0000", "\x06.edtName.TEdit");
        other.AddItem(EncodeRecord({Text("x")}), "x");
        other.SetFileName({});
    }
    const std::string before = ReadFile(file);
    try {
        view.SetFileName(file);
        ADD_FAILURE() << "opened a database of another layout";
    } catch (const EQDBViewError& e) {
        EXPECT_STREQ(e.what(), "File doesn't match panel");
    }
    EXPECT_FALSE(view.Ready());
    EXPECT_TRUE(view.FileName().empty());
    EXPECT_EQ(ReadFile(file), before); // left exactly as it was
    EXPECT_EQ(WorkingFileCount(), 0);

    // One more stored field than the panel has is another layout too.
    const std::string longer = Path("longer.qdb");
    {
        TQDBView wide;
        QWidget widePanel;
        for (const char* name : {"edtFilename", "edteMailDate", "edtSenderID", "edtFaxDate", "edtStatus", "extra"})
            (new QLineEdit(&widePanel))->setObjectName(QLatin1String(name));
        wide.SetPanel(&widePanel);
        wide.OnKey = [](TQDB*, TKey& key) { key = "k"; };
        wide.SetFileName(longer);
        wide.Insert();
        wide.Post();
        wide.SetFileName({});
    }
    EXPECT_THROW(view.SetFileName(longer), EQDBViewError);
}

TEST_F(RecordView, AnEmptyDatabaseOfAnotherLayoutIsGivenThePanelLayout)
{
    const std::string file = Path("empty.qdb");
    {
        TQDB other;
        other.SetFileName(file);
        for (int i = 0; i < 7; ++i)
            other.SetAdminString(LayoutKey(i), "\x01.old.TCheckBox");
        other.SetAdminString("QDBCaseSensitive", "");
        other.SetFileName({});
    }
    view.SetFileName(file);
    ASSERT_TRUE(view.Ready());
    std::vector<std::string> keys;
    EXPECT_EQ(view.ListAdminKeys(keys, "QF."), 5);
    EXPECT_EQ(view.GetAdminString("QF.0000"), "\x06.edtFilename.TEdit");
    EXPECT_TRUE(view.AdminItemExists("QDBCaseSensitive")); // other settings stay
}

TEST_F(RecordView, APanelThatDoesNotMatchTheOpenDatabaseIsRefused)
{
    view.SetFileName(Path("faxes.qdb"));
    Add("faxes\\a.apf");
    QWidget other;
    (new QLineEdit(&other))->setObjectName(QStringLiteral("edtName"));
    EXPECT_THROW(view.SetPanel(&other), EQDBViewError);
    EXPECT_EQ(view.Panel(), nullptr);
    EXPECT_TRUE(view.Fields().empty());
    view.SetPanel(&panel);
    EXPECT_EQ(view.Fields().size(), 5u);
    EXPECT_EQ(Shown(0), QStringLiteral("faxes\\a.apf"));
}

TEST_F(RecordView, ExcludedControlsAndContainersAreNotPartOfTheRecord)
{
    QWidget form;
    auto* name = new QLineEdit(&form);
    name->setObjectName(QStringLiteral("edtName"));
    auto* scratch = new QLineEdit(&form);
    scratch->setObjectName(QStringLiteral("edtScratch"));
    SetControlTag(scratch, -999);
    auto* box = new QGroupBox(&form);
    SetControlTag(box, -999);
    (new QLineEdit(box))->setObjectName(QStringLiteral("edtInBox"));
    auto* notes = new QTextEdit(&form);
    notes->setObjectName(QStringLiteral("memNotes"));

    TQDBView other;
    other.OnKey = [&](TQDB*, TKey& key) { key = name->text().toStdString(); };
    other.SetPanel(&form);
    ASSERT_EQ(other.Fields().size(), 2u);
    EXPECT_EQ(other.Fields()[1].first, "memNotes");
    EXPECT_EQ(other.Fields()[1].second.kind, 8); // a rich edit, although also an edit

    other.SetFileName(Path("notes.qdb"));
    EXPECT_EQ(other.GetAdminString("QF.0001"), "\x08.memNotes.TRichEdit");
    EXPECT_FALSE(other.AdminItemExists("QF.0002"));
    other.Insert();
    name->setText(QStringLiteral("n1"));
    scratch->setText(QStringLiteral("not stored"));
    notes->setPlainText(QStringLiteral("remember"));
    other.Post();
    const std::vector<std::string> fields = DecodeRecord(other.GetItem(), 2);
    EXPECT_EQ(fields[0], Text("n1"));
    EXPECT_EQ(other.GetItem().find("not stored"), std::string::npos);

    notes->clear();
    other.Refresh();
    EXPECT_EQ(notes->toPlainText(), QStringLiteral("remember"));
    other.SetFileName({});
}

TEST_F(RecordView, AnUnreadableRecordIsNamedAndTheDatabaseStaysOpen)
{
    // A catalogue file of three records written byte by byte; one of them is
    // short of fields, holds compressed data that does not decode, holds
    // zeros (a copy that caught a flush half-way) or more than its fields.
    const std::string keys[] = {"faxes\\a.apf", "faxes\\b.apf", "faxes\\c.apf"};
    const std::string shortRecord = EncodeRecord({Text("faxes\\a.apf")});
    const std::string badBlocks("\x04\x00\x40\x80\x00\x00", 6);
    struct Case {
        int damaged;
        std::string stored;
        int32_t flags;
    };
    const std::string zeros(Record(keys[2].c_str(), "", "", "", "New").size(), '\0');
    const std::string longer = Record(keys[2].c_str(), "", "", "", "New") + "more";
    for (const Case& c : {Case{0, shortRecord, 0}, Case{0, badBlocks, FlagCompressed}, Case{1, shortRecord, 0},
                          Case{2, zeros, 0}, Case{1, longer, 0}}) {
        std::string data, index;
        for (int n = 0; n < 5; ++n) {
            const std::string text = std::string("\x06.") + kCatalogueFields[n] + ".TEdit" + '\0';
            index += qdb_bytes::Entry(LayoutKey(n), int32_t(data.size()), int32_t(text.size()), FlagAdmin);
            data += text;
        }
        for (int i = 2; i >= 0; --i) { // stored in descending key order
            const std::string stored = i == c.damaged ? c.stored : Record(keys[i].c_str(), "", "", "", "New");
            index += qdb_bytes::Entry(keys[i], int32_t(data.size()), int32_t(stored.size()), i == c.damaged ? c.flags : 0);
            data += stored;
        }
        WriteFile(Path("faxes.qdb"), qdb_bytes::File(data, qdb_bytes::Int32(8) + index));

        std::string reported;
        try {
            view.SetFileName(Path("faxes.qdb"));
        } catch (const EQDBItemError& e) {
            reported = e.what();
        }
        ASSERT_TRUE(view.Ready()) << reported;
        if (c.damaged == 0) {
            EXPECT_NE(reported.find(keys[0]), std::string::npos) << reported;
            EXPECT_EQ(Shown(0), QString());
        } else {
            EXPECT_EQ(reported, "");
            EXPECT_EQ(Shown(0).toStdString(), keys[0]);
        }

        // Walking the records names the damaged one and shows the others.
        std::vector<std::string> shown, unreadable;
        for (int32_t i = 0; i < view.Count(); ++i) {
            try {
                if (i == 0)
                    view.First();
                else
                    view.Next();
                shown.push_back(Shown(0).toStdString());
            } catch (const EQDBItemError& e) {
                unreadable.push_back(e.what());
                EXPECT_EQ(Shown(4), QString());
            }
        }
        ASSERT_EQ(unreadable.size(), 1u);
        EXPECT_NE(unreadable[0].find(keys[c.damaged]), std::string::npos) << unreadable[0];
        std::vector<std::string> others(std::begin(keys), std::end(keys));
        others.erase(others.begin() + c.damaged);
        EXPECT_EQ(shown, others);
        view.SetFileName({});
    }
}

TEST_F(RecordView, AClosedViewReportsNoDataAndEndsAWalk)
{
    // Without a database the moves report no data (as on an empty one), so
    // a walk over the records that stops on that report ends at once.
    view.First();
    EXPECT_EQ(noData, 1);
    view.Next();
    EXPECT_EQ(noData, 2);
    view.Insert();
    EXPECT_FALSE(view.Inserting());
    EXPECT_FALSE(view.Active());
}

TEST_F(RecordView, InsertFocusesTheFirstControl)
{
    QWidget window;
    panel.setParent(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    view.SetFileName(Path("faxes.qdb"));
    edits[3]->setFocus();
    view.Insert();
    EXPECT_TRUE(edits[0]->hasFocus());
    view.DoCancel();
    panel.setParent(nullptr);
}
