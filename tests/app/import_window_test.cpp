// The import window on the offscreen platform with real fax files: browsing
// and importing from another folder, the replace question, files already in
// faxes/, failed and cancelled copies, dropped files, and the working folder,
// which must never change.
#include "app/core/fax_import.h"
#include "app/platform/flying_op.h"
#include "app/ui/forms.h"
#include "app/ui/import_form.h"
#include "app/ui/main_window.h"
#include "app/platform/message_box.h"
#include "fax/view/fax_viewer.h"
#include "qdb/record_view.h"
#include "tests/support/temp_current_dir.h"
#include "tests/support/temp_registry.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextEdit>
#include <QUrl>
#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <unistd.h>

#include <memory>

namespace {

const QString kFax = QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/multi.apf");
const QString kOtherFax = QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/black-fine.apf");

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Checks file permissions as an ordinary user would meet them, also when the
// tests run as root (for this thread only, while the object lives).
class AsOrdinaryUser {
public:
    AsOrdinaryUser() : root_(geteuid() == 0)
    {
        if (root_) {
            setfsgid(65534);
            setfsuid(65534);
        }
    }
    ~AsOrdinaryUser()
    {
        if (root_) {
            setfsuid(0);
            setfsgid(0);
        }
    }

private:
    bool root_;
};

// A working folder with faxes/ and temp/ as the current directory, a mail
// folder elsewhere holding fax files, and the two windows.
class ImportWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("PELLIMAR_PPP_PEERS", QFile::encodeName(peers_.path()));
        ASSERT_TRUE(QDir(work_.Path()).mkdir(QStringLiteral("faxes")));
        ASSERT_TRUE(QDir(work_.Path()).mkdir(QStringLiteral("temp")));
        ASSERT_TRUE(QFile::copy(kFax, mail_.filePath(QStringLiteral("fax7.apf"))));
        ASSERT_TRUE(QFile::copy(kOtherFax, mail_.filePath(QStringLiteral("FAX8.APF"))));
        ASSERT_TRUE(QFile::copy(QStringLiteral(PELLIMAR_SOURCE_DIR "/README.md"), mail_.filePath(QStringLiteral("notes.apf"))));
        ASSERT_TRUE(QFile::copy(kFax, mail_.filePath(QStringLiteral("fax7.txt"))));
        SetMessageHandler([this](TMessageKind kind, const QString&, const QString& text) {
            boxes_ << MessageCaption(kind) + QStringLiteral(": ") + text;
            return kind == TMessageKind::Warning ? answer_ : TMessageAnswer::Ok;
        });
        main_ = std::make_unique<TForm1>();
        import_ = std::make_unique<TImportForm>();
        import_->SetCatalogue(main_->Catalogue.get(), main_.get());
        ImportForm = import_.get();
        QObject::connect(main_->Catalogue.get(), &TFaxCatalogue::Changed, [this] { ++changes_; });
    }
    void TearDown() override
    {
        ImportForm = nullptr;
        import_.reset();
        main_.reset();
        SetMessageHandler({});
        qunsetenv("PELLIMAR_PPP_PEERS");
        EXPECT_EQ(QDir::currentPath(), work_.Path());
    }

    QString Mail(const char* name) const { return mail_.filePath(QLatin1String(name)); }
    QString Faxes(const char* name) const { return work_.FilePath(QStringLiteral("faxes/") + QLatin1String(name)); }

    // Browses to `folder` and selects `name` in the file list.
    void Select(const QString& folder, const QString& name)
    {
        import_->show();
        import_->SetDirectory(folder);
        const QList<QListWidgetItem*> items = import_->FileListBox1->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        import_->FileListBox1->setCurrentItem(items.front());
        ASSERT_TRUE(import_->BitBtn1->isEnabled());
    }
    void PressOk()
    {
        import_->BitBtn1->click();
        EXPECT_FALSE(import_->isVisible());
    }
    void ImportThroughWindow(const QString& folder, const QString& name)
    {
        Select(folder, name);
        PressOk();
    }

    // The fields of the record under "faxes\" + name, empty when there is none.
    QStringList Record(const QString& name)
    {
        if (!main_->QDBView->FindKey((QStringLiteral("faxes\\") + name).toStdString()))
            return {};
        return {main_->edtStatus->text(), main_->edtSenderID->text(), main_->edtFaxDate->text(),
                main_->edteMailDate->text()};
    }

    QString LastLogLine() const { return main_->DisplayMemo->toPlainText().section(QLatin1Char('\n'), -1); }

    // Drops onto `under` as a desktop drag does: the event goes to the
    // nearest widget from there up that takes drops.
    static void Drop(QWidget* under, const QStringList& files)
    {
        QWidget* target = under;
        while (target && !target->acceptDrops() && !target->isWindow())
            target = target->parentWidget();
        ASSERT_TRUE(target && target->acceptDrops());
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& file : files)
            urls << QUrl::fromLocalFile(file);
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
    }

    TempRegistry registry_;
    QTemporaryDir peers_;
    TempCurrentDir work_;
    QTemporaryDir mail_;
    QStringList boxes_;
    TMessageAnswer answer_ = TMessageAnswer::No;
    std::unique_ptr<TForm1> main_;
    std::unique_ptr<TImportForm> import_;
    int changes_ = 0;
};

TEST_F(ImportWindowTest, TwoImportsFromAnotherFolderCopyAndCatalogueOneFileEach)
{
    EXPECT_EQ(import_->StartDirectory, work_.Path());
    import_->show();
    import_->SetDirectory(mail_.path());
    QStringList listed;
    for (int i = 0; i < import_->FileListBox1->count(); ++i)
        listed << import_->FileListBox1->item(i)->text();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("fax7.apf"), QStringLiteral("FAX8.APF"), QStringLiteral("notes.apf")}));
    // Nothing selected: OK cannot be pressed, and does nothing if called.
    EXPECT_FALSE(import_->BitBtn1->isEnabled());
    import_->BitBtn1Click();
    EXPECT_TRUE(import_->isVisible());
    EXPECT_EQ(main_->QDBView->Count(), 0);
    EXPECT_EQ(QDir::currentPath(), work_.Path()); // browsing leaves the working folder alone

    import_->FileListBox1->setCurrentRow(0);
    EXPECT_EQ(import_->KivFaxViewer1->FileName(), Mail("fax7.apf"));
    EXPECT_EQ(import_->KivFaxViewer1->PageCount(), 3);

    ImportThroughWindow(mail_.path(), QStringLiteral("fax7.apf"));
    EXPECT_EQ(ReadAll(Faxes("fax7.apf")), ReadAll(kFax));
    const QStringList record = Record(QStringLiteral("fax7.apf"));
    ASSERT_EQ(record.size(), 4);
    EXPECT_EQ(record[0], QStringLiteral("New"));
    EXPECT_EQ(record[1], QStringLiteral("<none available>"));
    EXPECT_EQ(record[2], QStringLiteral("<none available>"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d [AP]M$")).match(record[3]).hasMatch())
        << record[3].toStdString();
    EXPECT_EQ(LastLogLine(), QStringLiteral("Added 1 Fax: ") + Mail("fax7.apf"));

    // The second import copies its own file only: no question about fax7.apf.
    ImportThroughWindow(mail_.path(), QStringLiteral("FAX8.APF"));
    EXPECT_EQ(ReadAll(Faxes("FAX8.APF")), ReadAll(kOtherFax));
    EXPECT_EQ(main_->QDBView->Count(), 2);
    EXPECT_EQ(changes_, 2);
    EXPECT_EQ(main_->FaxCount, 0);
    EXPECT_TRUE(boxes_.isEmpty()) << boxes_.join(QLatin1Char('\n')).toStdString();
    // The folder chosen stays for the next showing.
    import_->show();
    EXPECT_EQ(import_->Directory(), mail_.path());
}

TEST_F(ImportWindowTest, EachImportGetsAFreeSafeNameNeverWritesThroughALinkAndCataloguesOnlyFaxes)
{
    // Outside faxes/: a decoy folder that links in faxes/ point into.
    QTemporaryDir decoy;
    ASSERT_TRUE(QFile::copy(kOtherFax, decoy.filePath(QStringLiteral("target.apf"))));
    ASSERT_TRUE(QFile::copy(QStringLiteral(PELLIMAR_SOURCE_DIR "/README.md"), decoy.filePath(QStringLiteral("text.txt"))));
    const auto decoyState = [&decoy] {
        QStringList state;
        for (const QString& name : QDir(decoy.path()).entryList(QDir::Files | QDir::Hidden))
            state << name + QLatin1Char('=') + QString::number(qHash(ReadAll(decoy.filePath(name))));
        return state;
    };
    const QStringList decoyBefore = decoyState();
    ASSERT_TRUE(QFile::copy(kOtherFax, Faxes("fax7.apf")));                                // a different fax
    ASSERT_TRUE(QFile::link(decoy.filePath(QStringLiteral("target.apf")), Faxes("link.apf"))); // a link
    ASSERT_TRUE(QFile::link(decoy.filePath(QStringLiteral("made.apf")), Faxes("dang.apf")));   // a dangling link
    ASSERT_TRUE(QFile::link(decoy.filePath(QStringLiteral("text.txt")), Faxes("text.apf")));   // a non-fax behind a link
    ASSERT_TRUE(QFile::link(decoy.filePath(QStringLiteral("text.txt")), Mail("linked.apf")));
    ASSERT_TRUE(QDir(mail_.path()).mkdir(QStringLiteral("folder.apf")));
    for (const char* name : {"link.apf", "dang.apf", "text.apf", "fax.apf", "..\\victim.apf", "new\nline.apf"})
        ASSERT_TRUE(QFile::copy(kFax, Mail(name)));
    ASSERT_TRUE(QFile::copy(kOtherFax, Mail("FAX.apf")));

    struct Case {
        const char* source;   // in the mail folder
        const char* imported; // the name it gets in faxes/; null when refused
        const char* refusal;  // part of the box that refuses it
    };
    const Case cases[] = {
        {"fax7.apf", "fax7 (2).apf", nullptr},     // the same name, other contents
        {"link.apf", "link (2).apf", nullptr},     // the name of a link
        {"dang.apf", "dang (2).apf", nullptr},     // the name of a dangling link
        {"text.apf", "text (2).apf", nullptr},     // the name of a link to a text
        {"fax.apf", "fax.apf", nullptr},           // case twins: one record each
        {"FAX.apf", "FAX (2).apf", nullptr},
        {"..\\victim.apf", "victim.apf", nullptr}, // names made safe as downloads make them
        {"new\nline.apf", "new_line.apf", nullptr},
        {"linked.apf", nullptr, "not a readable fax file (APF, TIFF or PDF)"}, // a text behind a link
        {"folder.apf", nullptr, "it is a folder"},
    };
    int records = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        boxes_.clear();
        Drop(main_.get(), {Mail(c.source)});
        if (c.imported) {
            EXPECT_TRUE(boxes_.isEmpty()) << boxes_.join(QLatin1Char('\n')).toStdString();
            EXPECT_EQ(ReadAll(Faxes(c.imported)), ReadAll(Mail(c.source)));
            EXPECT_FALSE(QFileInfo(Faxes(c.imported)).isSymLink());
            EXPECT_EQ(Record(QLatin1String(c.imported)).value(0), QStringLiteral("New"));
            ++records;
        } else {
            ASSERT_EQ(boxes_.size(), 1);
            EXPECT_TRUE(boxes_[0].contains(QLatin1String(c.refusal))) << boxes_[0].toStdString();
        }
        EXPECT_EQ(main_->QDBView->Count(), records);
        EXPECT_EQ(decoyState(), decoyBefore);
    }
    EXPECT_EQ(ReadAll(Faxes("fax7.apf")), ReadAll(kOtherFax));
    EXPECT_FALSE(QFileInfo::exists(decoy.filePath(QStringLiteral("made.apf"))));
    EXPECT_TRUE(Record(QStringLiteral("text.apf")).isEmpty());
    EXPECT_TRUE(Record(QStringLiteral("link.apf")).isEmpty());

    // A file straight under "/" keeps its name (the folder "/" ends in its separator).
    const QString top = QStringLiteral("/pellimar-import-%1.apf").arg(QCoreApplication::applicationPid());
    if (QFile::copy(kFax, top)) {
        Drop(main_.get(), {top});
        QFile::remove(top);
        EXPECT_EQ(ReadAll(work_.FilePath(QStringLiteral("faxes") + top)), ReadAll(kFax));
        EXPECT_FALSE(QFileInfo::exists(Faxes(".apf")));
    }
}

TEST_F(ImportWindowTest, AFaxAlreadyInFaxesIsCataloguedNotCopiedAndKeepsItsRecord)
{
    // A file lying in faxes/ already: catalogued, not copied onto itself
    // (which would have emptied it), and no question asked.
    ASSERT_TRUE(QFile::copy(kFax, Faxes("fax9.apf")));
    ImportThroughWindow(work_.FilePath(QStringLiteral("faxes")), QStringLiteral("fax9.apf"));
    EXPECT_TRUE(boxes_.isEmpty()) << boxes_.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(ReadAll(Faxes("fax9.apf")), ReadAll(kFax));
    EXPECT_EQ(Record(QStringLiteral("fax9.apf")).value(0), QStringLiteral("New"));

    // A kept file whose record a download wrote keeps that record, also when
    // the same fax comes from elsewhere.
    main_->QDBView->Edit();
    main_->edtSenderID->setText(QStringLiteral("+1 555 0100"));
    main_->QDBView->Post();
    ImportThroughWindow(work_.FilePath(QStringLiteral("faxes")), QStringLiteral("fax9.apf"));
    ASSERT_TRUE(QFile::copy(kFax, Mail("fax9.apf")));
    ImportThroughWindow(mail_.path(), QStringLiteral("fax9.apf"));
    EXPECT_EQ(Record(QStringLiteral("fax9.apf")).value(1), QStringLiteral("+1 555 0100"));
    EXPECT_EQ(main_->QDBView->Count(), 1);
    EXPECT_EQ(QDir(work_.FilePath(QStringLiteral("faxes"))).entryList(QDir::Files), QStringList{QStringLiteral("fax9.apf")});
}

TEST_F(ImportWindowTest, FailedCancelledAndRefusedImportsAddNoRecordAndKeepWhatWasThere)
{
    // faxes/ cannot be written.
    ASSERT_TRUE(QFile::setPermissions(work_.Path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                        | QFile::ReadOther | QFile::ExeOther));
    ASSERT_TRUE(QFile::setPermissions(mail_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                        | QFile::ReadOther | QFile::ExeOther));
    ASSERT_TRUE(QFile::setPermissions(work_.FilePath(QStringLiteral("faxes")),
                                      QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    Select(mail_.path(), QStringLiteral("fax7.apf"));
    {
        AsOrdinaryUser user;
        PressOk();
    }
    ASSERT_EQ(boxes_.size(), 2) << boxes_.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(boxes_[0].contains(Faxes("fax7.apf"))) << boxes_[0].toStdString(); // the reason first
    EXPECT_EQ(boxes_[1], QStringLiteral("Error: L'opération a échouée"));
    EXPECT_FALSE(QFile::exists(Faxes("fax7.apf")));
    ASSERT_TRUE(QFile::setPermissions(work_.FilePath(QStringLiteral("faxes")),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    // Cancelled while copying beside a file of the same name: that file stays whole.
    boxes_.clear();
    ASSERT_TRUE(QFile::copy(kOtherFax, Faxes("fax7.apf")));
    qint64 reported = -1;
    import_->FlyingOp1->OnProgress = [&reported](qint64 done, qint64 total) {
        reported = total;
        return done > 0; // cancels at the start
    };
    ImportThroughWindow(mail_.path(), QStringLiteral("fax7.apf"));
    EXPECT_EQ(reported, ReadAll(kFax).size());
    ASSERT_EQ(boxes_.size(), 1);
    EXPECT_EQ(boxes_[0], QStringLiteral("Error: Opération interrompu par l'utilisateur"));
    EXPECT_EQ(ReadAll(Faxes("fax7.apf")), ReadAll(kOtherFax));
    EXPECT_EQ(QDir(work_.FilePath(QStringLiteral("faxes"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("fax7.apf")}); // no partial copy left behind
    import_->FlyingOp1->OnProgress = nullptr;

    // A file that is not a fax is refused before anything is copied.
    boxes_.clear();
    ImportThroughWindow(mail_.path(), QStringLiteral("notes.apf"));
    ASSERT_EQ(boxes_.size(), 1);
    EXPECT_TRUE(boxes_[0].contains(QStringLiteral("not a readable fax file (APF, TIFF or PDF)"))) << boxes_[0].toStdString();
    EXPECT_FALSE(QFile::exists(Faxes("notes.apf")));

    EXPECT_EQ(main_->QDBView->Count(), 0);
    EXPECT_EQ(changes_, 0);
}

TEST_F(ImportWindowTest, FilesDroppedOntoEitherWindowAreImported)
{
    Drop(main_.get(), {Mail("fax7.apf"), Mail("notes.apf")});
    Drop(import_.get(), {Mail("FAX8.APF")});
    // The preview passes a drop on to the window rather than only showing it.
    Drop(import_->KivFaxViewer1->viewport(), {Mail("fax7.txt")});
    EXPECT_EQ(ReadAll(Faxes("fax7.apf")), ReadAll(kFax));
    EXPECT_EQ(ReadAll(Faxes("FAX8.APF")), ReadAll(kOtherFax));
    EXPECT_EQ(ReadAll(Faxes("fax7.txt")), ReadAll(kFax));
    EXPECT_FALSE(QFile::exists(Faxes("notes.apf")));
    EXPECT_EQ(main_->QDBView->Count(), 3);
    EXPECT_EQ(changes_, 3);
}

} // namespace
