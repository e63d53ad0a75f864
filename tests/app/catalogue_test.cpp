// The catalogue of the main window: the record panel, the record view over
// "faxes.qdb" in the current directory, and what happens when that file
// cannot be used.
#include "app/cli/catalogue_listing.h"
#include "app/core/fax_catalogue.h"
#include "app/ui/main_window.h"
#include "app/platform/message_box.h"
#include "qdb/qdb.h"
#include "qdb/record_layout.h"
#include "qdb/record_view.h"
#include "tests/support/temp_current_dir.h"
#include "tests/support/temp_registry.h"

#include <QFile>
#include <QLineEdit>
#include <QTextStream>
#include <gtest/gtest.h>

#include <memory>

namespace {

// Every test program of the application runs in a folder of its own, so that
// the windows it creates never open a "faxes.qdb" outside it.
class ProgramFolder : public ::testing::Environment {
public:
    void SetUp() override { folder_ = std::make_unique<TempCurrentDir>(); }
    void TearDown() override { folder_.reset(); }

private:
    std::unique_ptr<TempCurrentDir> folder_;
};
const auto* const kProgramFolder = ::testing::AddGlobalTestEnvironment(new ProgramFolder);

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("PELLIMAR_PPP_PEERS", QFile::encodeName(peers_.path()));
        SetMessageHandler([this](TMessageKind kind, const QString&, const QString& text) {
            boxes_.push_back({kind, text});
            return TMessageAnswer::Ok;
        });
    }
    void TearDown() override
    {
        SetMessageHandler({});
        qunsetenv("PELLIMAR_PPP_PEERS");
    }
    QString DatabasePath() const { return folder_.FilePath(QStringLiteral("faxes.qdb")); }

    TempRegistry registry_;
    QTemporaryDir peers_;
    TempCurrentDir folder_;
    std::vector<std::pair<TMessageKind, QString>> boxes_;
};

} // namespace

TEST_F(Catalogue, StartUpOpensFaxesQdbBoundToTheRecordPanel)
{
    {
        TForm1 w;
        ASSERT_NE(w.RcvdPanel, nullptr);
        EXPECT_EQ(w.RcvdPanel->objectName(), QStringLiteral("RcvdPanel"));
        EXPECT_TRUE(w.BrowseFaxesSheet->isAncestorOf(w.RcvdPanel));
        ASSERT_TRUE(w.QDBView->Ready());
        EXPECT_EQ(w.QDBView->FileName(), DatabasePath().toStdString());
        EXPECT_EQ(w.QDBView->Panel(), w.RcvdPanel);
        EXPECT_TRUE(w.CatalogueReady());
        EXPECT_TRUE(w.CatalogueProblem().isEmpty());
        EXPECT_TRUE(w.QDBView->SaveOnClose());
        EXPECT_FALSE(w.QDBView->AutoEdit());
        EXPECT_EQ(w.QDBView->ExcludeTag(), -999);

        const char* names[] = {"edtFilename", "edteMailDate", "edtSenderID", "edtFaxDate", "edtStatus"};
        ASSERT_EQ(w.QDBView->Controls().size(), 5u);
        for (int i = 0; i < 5; ++i) {
            QWidget* control = w.QDBView->Controls()[i].control;
            EXPECT_EQ(control->objectName(), QLatin1String(names[i]));
            EXPECT_EQ(control->parentWidget(), w.RcvdPanel);
            EXPECT_EQ(control->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
            EXPECT_TRUE(static_cast<QLineEdit*>(control)->isReadOnly());
            EXPECT_EQ(w.QDBView->GetAdminString(qdb::LayoutKey(i)), std::string("\x06.") + names[i] + ".TEdit");
        }
        EXPECT_EQ(w.edtFilename, w.QDBView->Controls()[0].control);
        EXPECT_EQ(w.edtStatus, w.QDBView->Controls()[4].control);

        // An empty catalogue reports no data to the window.
        EXPECT_FALSE(w.DatabaseEmpty);
        w.QDBView->First();
        EXPECT_TRUE(w.DatabaseEmpty);
    }
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(Catalogue, RecordsPostedThroughThePanelAreSavedAtExit)
{
    {
        TForm1 w;
        w.QDBView->First();
        ASSERT_TRUE(w.DatabaseEmpty);
        w.QDBView->Insert();
        w.edtFilename->setText(QStringLiteral("faxes\\") + QString(300, QLatin1Char('f')));
        w.edteMailDate->setText(QStringLiteral("12/08/2026 09:15 PM"));
        w.edtStatus->setText(QStringLiteral("New"));
        w.QDBView->Post();
        EXPECT_FALSE(w.DatabaseEmpty);
        // The key is the file name, cut to 255 characters.
        EXPECT_EQ(w.QDBView->Key().size(), 255u);
        EXPECT_EQ(w.QDBView->Count(), 1);
    }
    // No flush was asked for: closing the window wrote the file.
    qdb::TQDB reader;
    reader.SetFileName(DatabasePath().toStdString());
    ASSERT_EQ(reader.Count(), 1);
    reader.First();
    const auto fields = qdb::DecodeRecord(reader.GetItem(), 5);
    EXPECT_EQ(fields[1], std::string("12/08/2026 09:15 PM") + '\0');
    EXPECT_EQ(fields[4], std::string("New\0", 4));
    reader.SetFileName({});
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(Catalogue, ADamagedCatalogueIsReportedAndLeftAlone)
{
    const QByteArray damaged = QByteArray("QDB\0", 4) + QByteArray::fromHex("ffffff7f") + "not a catalogue";
    WriteAll(DatabasePath(), damaged);
    {
        TForm1 w;
        EXPECT_FALSE(w.QDBView->Ready());
        EXPECT_FALSE(w.CatalogueReady());
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].first, TMessageKind::Error);
        EXPECT_TRUE(boxes_[0].second.contains(DatabasePath())) << boxes_[0].second.toStdString();
        EXPECT_EQ(w.CatalogueProblem(), boxes_[0].second);
        // The page still works on the closed catalogue: moves report no data.
        w.QDBView->First();
        EXPECT_TRUE(w.DatabaseEmpty);
    }
    EXPECT_EQ(ReadAll(DatabasePath()), damaged);
    EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(Catalogue, ACatalogueOfAnotherLayoutIsReportedAndLeftAlone)
{
    {
        qdb::TQDB other;
        other.SetFileName(DatabasePath().toStdString());
        other.SetAdminString("QF.0000", "\x06.edtName.TEdit");
        other.AddItem(qdb::EncodeRecord({std::string("x\0", 2)}), "x");
        other.SetFileName({});
    }
    const QByteArray before = ReadAll(DatabasePath());
    {
        TForm1 w;
        EXPECT_FALSE(w.CatalogueReady());
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_TRUE(boxes_[0].second.contains(QStringLiteral("File doesn't match panel")));
        EXPECT_TRUE(boxes_[0].second.contains(DatabasePath()));
    }
    EXPECT_EQ(ReadAll(DatabasePath()), before);
}

TEST_F(Catalogue, AReadOnlyCatalogueRefusesDownloads)
{
    TForm1 w;
    ASSERT_TRUE(w.CatalogueReady());
    w.QDBView->SetReadOnly(true);
    EXPECT_FALSE(w.CatalogueReady());
    EXPECT_TRUE(w.CatalogueProblem().contains(QStringLiteral("read-only")));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(Catalogue, ADamagedRecordIsNamedButDoesNotBlockTheCatalogue)
{
    {
        TForm1 w;
        for (const char* name : {"faxes\\a.apf", "faxes\\b.apf"}) {
            w.QDBView->Insert();
            w.edtFilename->setText(QLatin1String(name));
            w.edtStatus->setText(QStringLiteral("New"));
            w.QDBView->Post();
        }
    }
    {
        // The first record loses its other fields.
        qdb::TQDB damage;
        damage.SetFileName(DatabasePath().toStdString());
        ASSERT_TRUE(damage.FindKey("faxes\\a.apf"));
        damage.ChangeItem(qdb::EncodeRecord({std::string("faxes\\a.apf\0", 12)}));
        damage.SetFileName({});
    }
    {
        TForm1 w;
        EXPECT_TRUE(w.CatalogueReady());
        EXPECT_TRUE(w.CatalogueProblem().isEmpty());
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_TRUE(boxes_[0].second.contains(QStringLiteral("faxes\\a.apf"))) << boxes_[0].second.toStdString();
    }
    // The listing names the damaged record, lists the other and reports the damage.
    QString listed, errors;
    QTextStream out(&listed), err(&errors);
    EXPECT_EQ(RunCatalogueListing(out, err), 1);
    EXPECT_EQ(listed, QStringLiteral("New\tfaxes\\b.apf\t\t\t\n"));
    EXPECT_TRUE(errors.contains(QStringLiteral("The record faxes\\a.apf cannot be read"))) << errors.toStdString();
}

// The listing reads the records straight from the engine; the window's
// record view is the reference it must print byte for byte, damaged records,
// odd bytes and the exit status included.
TEST_F(Catalogue, TheListingPrintsWhatTheRecordViewShows)
{
    constexpr int kRecords = 3000;
    {
        TFaxCatalogue catalogue;
        catalogue.Open();
        qdb::TQDBView& view = catalogue.View();
        for (int i = 0; i < kRecords; ++i) {
            view.Insert();
            catalogue.edtFilename->setText(QStringLiteral("faxes\\fax%1.apf").arg(i, 5, 10, QLatin1Char('0')));
            catalogue.edtStatus->setText(QLatin1String(i % 3 == 0 ? "New" : i % 3 == 1 ? "Viewed" : "Printed"));
            // Empty fields, Latin-1 letters, a tab and a long value.
            catalogue.edtSenderID->setText(i % 7 == 0   ? QString()
                                           : i % 7 == 1 ? QStringLiteral("Caf\u00e9 M\u00fcller +49 %1").arg(i)
                                           : i % 7 == 2 ? QStringLiteral("a\tb")
                                           : i == 3     ? QString(2000, QLatin1Char('9'))
                                                        : QStringLiteral("+1 555 %1").arg(i));
            catalogue.edtFaxDate->setText(QStringLiteral("12/%1/2026 10:%2 AM").arg(i % 28 + 1).arg(i % 60));
            catalogue.edteMailDate->setText(i % 5 == 0 ? QString() : QStringLiteral("12/10/2026 11:00 PM"));
            view.Post();
        }
        catalogue.Flush();
    }
    {
        // The first record and one in the middle lose their other fields;
        // one holds bytes after a zero.
        qdb::TQDB damage;
        damage.SetFileName(DatabasePath().toStdString());
        for (const char* key : {"faxes\\fax00000.apf", "faxes\\fax01500.apf"}) {
            ASSERT_TRUE(damage.FindKey(key));
            damage.ChangeItem(qdb::EncodeRecord({std::string(key) + '\0'}));
        }
        ASSERT_TRUE(damage.FindKey("faxes\\fax00010.apf"));
        damage.ChangeItem(qdb::EncodeRecord({std::string("faxes\\fax00010.apf\0", 19), std::string("x\0y", 3),
                                             std::string("z\0", 2), std::string(), std::string("New\0", 4)}));
        damage.SetFileName({});
    }
    QString fastOut, fastErr, viewOut, viewErr;
    QTextStream fastOutStream(&fastOut), fastErrStream(&fastErr), viewOutStream(&viewOut), viewErrStream(&viewErr);
    EXPECT_EQ(RunCatalogueListing(fastOutStream, fastErrStream), 1);
    EXPECT_EQ(RunRecordViewListing(viewOutStream, viewErrStream), 1);
    EXPECT_EQ(fastOut.count(QLatin1Char('\n')), kRecords - 2);
    EXPECT_TRUE(fastOut == viewOut) << "the listings differ";
    EXPECT_EQ(fastErr, viewErr);
    EXPECT_TRUE(fastErr.contains(QStringLiteral("The record faxes\\fax01500.apf cannot be read"))) << fastErr.toStdString();
    EXPECT_TRUE(fastOut.contains(QStringLiteral("New\tfaxes\\fax00010.apf\tz\t\tx\n"))) << "a field ends at its zero";
}
