// The Browse Faxes page on the offscreen platform, over a real catalogue and
// real fax files: the rows and the record panel, sorting, filtering, View
// (marks the record "Viewed") and Remove (file and record).
#include "app/ui/browse_model.h"
#include "app/ui/browse_page.h"
#include "app/ui/forms.h"
#include "app/ui/main_window.h"
#include "app/platform/message_box.h"
#include "app/ui/view_form.h"
#include "qdb/qdb.h"
#include "qdb/record_layout.h"
#include "qdb/record_view.h"
#include "tests/support/temp_current_dir.h"
#include "tests/support/temp_registry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct Fax {
    QString name, status, sender, faxDate, mailDate;
};

struct Box {
    TMessageKind kind;
    QString text;
};

class BrowsePage : public ::testing::Test {
protected:
    BrowsePage()
    {
        qputenv("PELLIMAR_PPP_PEERS", "/nonexistent");
        QDir().mkpath(QStringLiteral("faxes"));
        SetMessageHandler([this](TMessageKind kind, const QString&, const QString& text) {
            boxes_.push_back({kind, text});
            return kind == TMessageKind::Warning ? answer_ : TMessageAnswer::Ok;
        });
    }
    ~BrowsePage() override
    {
        SetMessageHandler({});
        qunsetenv("PELLIMAR_PPP_PEERS");
    }

    // Catalogues a fax as a download does, with its file in faxes/.
    void Add(TForm1& w, const Fax& fax, bool withFile = true)
    {
        w.QDBView->Insert();
        w.edtFilename->setText(fax.name);
        w.edtStatus->setText(fax.status);
        w.edtSenderID->setText(fax.sender);
        w.edtFaxDate->setText(fax.faxDate);
        w.edteMailDate->setText(fax.mailDate);
        w.QDBView->Post();
        w.QDBView->Flush();
        if (withFile) {
            const QString path = QString(fax.name).replace(QLatin1Char('\\'), QLatin1Char('/'));
            QFile::remove(path);
            ASSERT_TRUE(QFile::copy(QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/black-fine.apf"), path));
        }
    }

    static void Show(TForm1& w)
    {
        w.resize(900, 600);
        w.show();
        w.pgCntrl->setCurrentWidget(w.ConnectSheet);
        w.pgCntrl->setCurrentWidget(w.BrowseFaxesSheet);
    }

    static QStringList Column(TForm1& w, int column)
    {
        QStringList cells;
        for (int row = 0; row < w.faxGrid->model()->rowCount(); ++row)
            cells << w.faxGrid->model()->index(row, column).data().toString();
        return cells;
    }

    static void Select(TForm1& w, const QString& name)
    {
        const int row = int(Column(w, 1).indexOf(name));
        ASSERT_GE(row, 0) << name.toStdString();
        w.faxGrid->selectRow(row);
    }

    // The record as stored in faxes.qdb now (not as the window holds it).
    static QString StoredStatus(const QString& name, bool* found = nullptr)
    {
        QTemporaryDir copy;
        const QString path = copy.filePath(QStringLiteral("copy.qdb"));
        QFile::copy(QStringLiteral("faxes.qdb"), path);
        qdb::TQDB db;
        db.SetReadOnly(true);
        db.SetFileName(path.toStdString());
        const bool there = db.FindKey(name.toLatin1().left(255).toStdString());
        if (found)
            *found = there;
        if (!there)
            return {};
        const std::string record = db.GetItem();
        // The Status field is the last of the record panel's five.
        return QString::fromLatin1(qdb::DecodeRecord(record, 5)[4].c_str());
    }

    TempRegistry registry_;
    TempCurrentDir folder_;
    std::vector<Box> boxes_;
    TMessageAnswer answer_ = TMessageAnswer::No;
};

const Fax kA{QStringLiteral("faxes\\a.apf"), QStringLiteral("New"), QStringLiteral("555-0100"),
             QStringLiteral("12/31/2026 11:00 PM"), QStringLiteral("01/02/2027 09:00 AM")};
const Fax kB{QStringLiteral("faxes\\B.apf"), QStringLiteral("Viewed"), QStringLiteral("Acme Sales"),
             QStringLiteral("01/02/2027 09:00 AM"), QStringLiteral("12/31/2026 11:00 PM")};
const Fax kC{QStringLiteral("faxes\\c.apf"), QStringLiteral("New"), QStringLiteral("555-0199"),
             QStringLiteral("12/31/2026 10:00 AM"), QStringLiteral("12/31/2026 12:30 AM")};

} // namespace

TEST_F(BrowsePage, ListsTheCatalogueInKeyOrderThenSortsAndFiltersOnRequest)
{
    TForm1 w;
    Show(w);
    EXPECT_EQ(w.faxGrid->model()->rowCount(), 0) << "an empty catalogue shows only the header";
    EXPECT_EQ(w.edtFilename->text(), QStringLiteral("Filename"));
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Status"));

    for (const Fax& fax : {kC, kA, kB})
        Add(w, fax);
    Show(w);
    QAbstractItemModel& grid = *w.faxGrid->model();
    ASSERT_EQ(grid.columnCount(), 6);
    const QStringList headers = {QStringLiteral("Status"),   QStringLiteral("Filename"),   QStringLiteral("Sender ID"),
                                 QStringLiteral("Fax Date"), QStringLiteral("eMail Date"),
                                 QStringLiteral("Found in text")};
    for (int column = 0; column < 6; ++column)
        EXPECT_EQ(grid.headerData(column, Qt::Horizontal).toString(), headers[column]);
    EXPECT_EQ(w.faxGrid->columnWidth(0), 40);
    // Keys compare without regard to case: a, B, c.
    EXPECT_EQ(Column(w, 1), QStringList({kA.name, kB.name, kC.name}));
    EXPECT_EQ(Column(w, 0), QStringList({kA.status, kB.status, kC.status}));
    EXPECT_EQ(Column(w, 2), QStringList({kA.sender, kB.sender, kC.sender}));
    EXPECT_EQ(Column(w, 3), QStringList({kA.faxDate, kB.faxDate, kC.faxDate}));
    EXPECT_EQ(Column(w, 4), QStringList({kA.mailDate, kB.mailDate, kC.mailDate}));
    EXPECT_EQ(Column(w, 5), QStringList({QString(), QString(), QString()}));
    EXPECT_EQ(w.edtFilename->text(), kC.name) << "the panel ends on the last record";
    EXPECT_TRUE(grid.index(0, 1).data(Qt::FontRole).value<QFont>().bold()) << "New faxes stand out";
    EXPECT_FALSE(grid.index(1, 1).data(Qt::FontRole).value<QFont>().bold());

    // Header clicks: ascending, then descending; dates sort as dates, AM/PM included.
    const struct {
        int column;
        QStringList ascending;
    } sorts[] = {
        {3, {kC.name, kA.name, kB.name}},
        {4, {kC.name, kB.name, kA.name}},
        {2, {kA.name, kC.name, kB.name}},
        {1, {kA.name, kB.name, kC.name}},
    };
    for (const auto& sort : sorts) {
        QStringList descending = sort.ascending;
        std::reverse(descending.begin(), descending.end());
        QTest::mouseClick(w.faxGrid->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(w.faxGrid->horizontalHeader()->sectionViewportPosition(sort.column) + 5, 5));
        const QStringList first = Column(w, 1);
        QTest::mouseClick(w.faxGrid->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(w.faxGrid->horizontalHeader()->sectionViewportPosition(sort.column) + 5, 5));
        const QStringList second = Column(w, 1);
        EXPECT_TRUE(first == sort.ascending || first == descending) << sort.column;
        EXPECT_EQ(second, first == sort.ascending ? descending : sort.ascending) << sort.column;
    }
    w.faxGrid->sortByColumn(-1, Qt::AscendingOrder);

    // The filter keeps rows in which any column contains the text, ignoring case.
    const struct {
        const char* text;
        QStringList rows;
    } filters[] = {
        {"acme", {kB.name}},
        {"555-01", {kA.name, kC.name}},
        {"12:30", {kC.name}},
        {"VIEWED", {kB.name}},
        {"nothing like it", {}},
        {"", {kA.name, kB.name, kC.name}},
    };
    for (const auto& filter : filters) {
        w.edtGridFilter->setText(QLatin1String(filter.text));
        EXPECT_EQ(Column(w, 1), filter.rows) << filter.text;
    }

    // A fax catalogued while the page shows appears without switching pages.
    const Fax d{QStringLiteral("faxes\\d.apf"), QStringLiteral("New"), {}, {}, {}};
    Add(w, d);
    w.Catalogue->NoteChanged();
    EXPECT_EQ(Column(w, 1), QStringList({kA.name, kB.name, kC.name, d.name}));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(BrowsePage, ViewMarksTheRecordViewedAndOpensTheFaxInTheViewer)
{
    TViewForm viewer;
    ViewForm = &viewer;
    const Fax longName{QStringLiteral("faxes\\") + QString(300, QLatin1Char('x')), QStringLiteral("New"), {}, {}, {}};
    {
        TForm1 w;
        for (const Fax& fax : {kA, kB, kC})
            Add(w, fax);
        Add(w, longName, false);
        Show(w);
        // The list fills with its first row selected: View has a fax.
        EXPECT_EQ(w.faxGrid->selectionModel()->selectedRows().value(0).row(), 0);
        w.faxGrid->clearSelection();
        w.BitBtn5->click(); // no row selected: nothing happens
        EXPECT_FALSE(viewer.isVisible());
        EXPECT_TRUE(boxes_.empty());

        Select(w, kA.name);
        w.BitBtn5->click();
        EXPECT_EQ(Column(w, 0)[0], QStringLiteral("Viewed"));
        EXPECT_EQ(StoredStatus(kA.name), QStringLiteral("Viewed")) << "flushed to faxes.qdb";
        EXPECT_TRUE(viewer.isVisible());
        EXPECT_TRUE(viewer.windowTitle().endsWith(QStringLiteral("faxes/a.apf"))) << viewer.windowTitle().toStdString();
        EXPECT_EQ(w.faxGrid->selectionModel()->selectedRows().value(0).row(), 0) << "the selection stays";
        EXPECT_EQ(StoredStatus(kC.name), QStringLiteral("New"));

        // Enter and a double click view too.
        viewer.hide();
        Select(w, kC.name);
        QTest::keyClick(w.faxGrid, Qt::Key_Return);
        EXPECT_EQ(Column(w, 0)[2], QStringLiteral("Viewed"));
        EXPECT_TRUE(viewer.isVisible());

        // A name longer than a key is found by its first 255 characters; its
        // file is missing, which the viewer reports, but the record is marked.
        boxes_.clear();
        const int row = int(Column(w, 1).indexOf(longName.name));
        const QPoint cell = w.faxGrid->visualRect(w.faxGrid->model()->index(row, 1)).center();
        QTest::mouseClick(w.faxGrid->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(w.faxGrid->viewport(), Qt::LeftButton, {}, cell);
        EXPECT_EQ(Column(w, 0)[row], QStringLiteral("Viewed"));
        EXPECT_EQ(StoredStatus(longName.name), QStringLiteral("Viewed"));
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_TRUE(boxes_[0].text.startsWith(QStringLiteral("Error opening fax file"))) << boxes_[0].text.toStdString();
    }
    ViewForm = nullptr;
}

TEST_F(BrowsePage, RemoveAsksThenDeletesFileAndRecordOrSaysWhyNot)
{
    TForm1 w;
    const Fax gone{QStringLiteral("faxes\\gone.apf"), QStringLiteral("New"), {}, {}, {}};
    const Fax folder{QStringLiteral("faxes\\folder"), QStringLiteral("New"), {}, {}, {}};
    for (const Fax& fax : {kA, kB})
        Add(w, fax);
    Add(w, gone, false);
    Add(w, folder, false);
    QDir().mkpath(QStringLiteral("faxes/folder"));
    Show(w);
    const auto exists = [](const QString& name) { bool found = false; StoredStatus(name, &found); return found; };

    // Declined: file and record stay.
    Select(w, kA.name);
    answer_ = TMessageAnswer::No;
    w.BitBtn4->click();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].kind, TMessageKind::Warning);
    EXPECT_EQ(boxes_[0].text, QStringLiteral("You are about to delete the selected fax faxes\\a.apf.\n"
                                             "Do you wish to continue deletion?"));
    EXPECT_TRUE(QFile::exists(QStringLiteral("faxes/a.apf")));
    EXPECT_EQ(Column(w, 1).size(), 4);

    // Accepted: file and record go, also from faxes.qdb at once.
    answer_ = TMessageAnswer::Yes;
    w.BitBtn4->click();
    EXPECT_FALSE(QFile::exists(QStringLiteral("faxes/a.apf")));
    EXPECT_EQ(Column(w, 1), QStringList({kB.name, folder.name, gone.name}));
    EXPECT_FALSE(exists(kA.name));
    EXPECT_EQ(w.faxGrid->selectionModel()->selectedRows().size(), 1) << "a row stays selected";

    // A file already missing: the record goes all the same.
    Select(w, gone.name);
    w.BitBtn4->click();
    EXPECT_EQ(Column(w, 1), QStringList({kB.name, folder.name}));
    EXPECT_FALSE(exists(gone.name));

    // A file that cannot be deleted: an error naming it, and the record stays.
    boxes_.clear();
    Select(w, folder.name);
    QTest::keyClick(w.faxGrid, Qt::Key_Delete);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].kind, TMessageKind::Error);
    EXPECT_TRUE(boxes_[1].text.startsWith(QStringLiteral("Could not delete faxes\\folder: "))) << boxes_[1].text.toStdString();
    EXPECT_EQ(Column(w, 1), QStringList({kB.name, folder.name}));

    // The only record left: the grid keeps just its header.
    Select(w, folder.name);
    QDir().rmdir(QStringLiteral("faxes/folder"));
    w.BitBtn4->click();
    Select(w, kB.name);
    w.BitBtn4->click();
    EXPECT_EQ(w.faxGrid->model()->rowCount(), 0);
    EXPECT_TRUE(w.DatabaseEmpty);
    EXPECT_EQ(w.edtFilename->text(), QStringLiteral("Filename"));

    // Nothing selected: nothing happens.
    boxes_.clear();
    w.BitBtn4->click();
    EXPECT_TRUE(boxes_.empty());
}

// Every name and byte under folder, as one checksum.
static QByteArray FolderChecksum(const QString& folder)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    for (const QString& path : files) {
        QFile file(path);
        hash.addData(path.toUtf8());
        if (file.open(QIODevice::ReadOnly))
            hash.addData(file.readAll());
    }
    return hash.result();
}

TEST_F(BrowsePage, HostileKeysAreNeverOpenedOrDeletedOutsideFaxesOnlyTheirRecordsGo)
{
    // A decoy folder beside faxes/, and keys a crafted or old catalogue may hold.
    const QString longName = QString(240, QLatin1Char('v'));
    QDir().mkpath(QStringLiteral("decoy"));
    const QString decoy = QDir::current().absoluteFilePath(QStringLiteral("decoy"));
    for (const QString& name : {QStringLiteral("victim.txt"), QStringLiteral("victim.apf"), longName}) {
        QFile file(QStringLiteral("decoy/") + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not to be touched");
    }
    QDir().mkpath(QStringLiteral("faxes/sub"));
    const QByteArray before = FolderChecksum(decoy);
    const QStringList keys = {
        decoy + QStringLiteral("/victim.txt"),                       // absolute
        QStringLiteral("faxes\\..\\decoy\\victim.apf"),     // ".." with backslashes
        QStringLiteral("faxes/../decoy/victim.txt"),                // ".." with slashes
        QStringLiteral("faxes\\sub/../../decoy\\victim.apf"),  // both separators
        QStringLiteral("faxes\\.."),                               // the working folder itself
        QStringLiteral("faxes\\."),                                // faxes/ itself
        QStringLiteral("faxes\\a\nb.apf"),                         // a control character
        QStringLiteral("decoy\\victim.txt"),                       // outside faxes\ altogether
        QStringLiteral("faxes\\..\\decoy\\") + longName + QStringLiteral(".txt"), // stored cut to 255
    };
    TForm1 w;
    for (const QString& key : keys)
        Add(w, {key, QStringLiteral("New"), {}, {}, {}}, false);
    Show(w);
    ASSERT_EQ(Column(w, 1).size(), keys.size());

    answer_ = TMessageAnswer::Yes;
    for (const QString& key : keys) {
        SCOPED_TRACE(key.toStdString());
        const QString stored = key.left(255);
        boxes_.clear();
        Select(w, key);
        w.BitBtn5->click();
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].kind, TMessageKind::Error);
        EXPECT_TRUE(boxes_[0].text.contains(QStringLiteral("cannot be opened"))) << boxes_[0].text.toStdString();

        // A View or Remove while the question is open is turned away.
        boxes_.clear();
        SetMessageHandler([&](TMessageKind kind, const QString&, const QString& text) {
            boxes_.push_back({kind, text});
            if (kind == TMessageKind::Warning) {
                w.BitBtn5->click();
                w.BitBtn4->click();
            }
            return kind == TMessageKind::Warning ? answer_ : TMessageAnswer::Ok;
        });
        Select(w, key);
        w.BitBtn4->click();
        ASSERT_EQ(boxes_.size(), 4u);
        EXPECT_TRUE(boxes_[1].text.contains(QStringLiteral("busy"))) << boxes_[1].text.toStdString();
        EXPECT_TRUE(boxes_[2].text.contains(QStringLiteral("busy"))) << boxes_[2].text.toStdString();
        EXPECT_TRUE(boxes_[3].text.contains(QStringLiteral("no file was deleted"))) << boxes_[3].text.toStdString();
        EXPECT_FALSE(Column(w, 1).contains(key));
        bool found = true;
        StoredStatus(stored, &found);
        EXPECT_FALSE(found);
        EXPECT_EQ(FolderChecksum(decoy), before);
    }
    EXPECT_EQ(w.faxGrid->model()->rowCount(), 0);
    EXPECT_TRUE(QDir(QStringLiteral("faxes/sub")).exists());
}

TEST(RecordDateSortKey, OrdersTheCatalogueDateFormat)
{
    const char* ascending[] = {"12/31/2026 12:05 AM", "12/31/2026 11:59 AM", "12/31/2026 12:00 PM",
                               "12/31/2026 11:00 PM", "01/01/2027 01:00 AM", "01/01/2027 13:00"};
    for (size_t i = 0; i + 1 < std::size(ascending); ++i)
        EXPECT_LT(RecordDateSortKey(QLatin1String(ascending[i])), RecordDateSortKey(QLatin1String(ascending[i + 1])))
            << ascending[i];
    for (const char* bad : {"", "yesterday", "13/xx/2026 10:00 AM", "12/31/2026 00:10 PM"})
        EXPECT_EQ(RecordDateSortKey(QLatin1String(bad)), -1) << bad;
}

