#include "app/core/fax_catalogue.h"

#include "app/platform/message_box.h"
#include "qdb/file_routines.h"
#include "qdb/record_view.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPalette>
#include <QWidget>

#include <stdexcept>

namespace {

// How long a change waits for another Pellimar process to finish its own.
constexpr std::chrono::seconds kChangePatience{20};
// How often a watching catalogue looks for other processes' writes.
constexpr int kWatchMilliseconds = 2000;

QString StampText(const qdb::FileStamp& stamp)
{
    if (!stamp.valid)
        return {};
    return QStringLiteral("%1 %2 %3 %4").arg(stamp.inode).arg(stamp.size).arg(stamp.seconds).arg(stamp.nanoseconds);
}

} // namespace

QString CatalogueKey(const QString& fileName) { return QStringLiteral("faxes\\") + fileName; }

bool KeyHoldsName(const QString& key)
{
    if (key.size() > kMaxCatalogueKeyLength)
        return false;
    for (QChar c : key)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

TFaxCatalogue::TFaxCatalogue(QObject* parent) : QObject(parent), panel_(new QWidget)
{
    panel_->setObjectName(QStringLiteral("RcvdPanel"));
    // Created in panel order, which is the order of the record's fields.
    auto makeEdit = [this](const char* name) {
        auto* edit = new QLineEdit(panel_);
        edit->setObjectName(QLatin1String(name));
        return edit;
    };
    edtFilename = makeEdit("edtFilename");
    edteMailDate = makeEdit("edteMailDate");
    edtSenderID = makeEdit("edtSenderID");
    edtFaxDate = makeEdit("edtFaxDate");
    edtStatus = makeEdit("edtStatus");

    view_ = std::make_unique<qdb::TQDBView>();
    view_->SetAutoEdit(false);
    view_->SetReadOnly(false);
    view_->SetSaveOnClose(true);
    view_->SetExpandedFileNames(true);
    view_->SetCompression(false);
    view_->SetUseGrepMatch(false);
    view_->SetAggressiveUpdate(false);
    view_->SetCacheSize(65536);
    view_->SetCacheFrequency(0);
    view_->DateTimeFormatStr.assign(1, 'c'); // assigning the literal trips a false GCC 12 -Wrestrict
    view_->SetActiveColor(QApplication::palette().color(QPalette::Base));
    view_->SetInactiveColor(QColor(0xC0, 0xC0, 0xC0));
    view_->SetExcludeTag(-999);
    view_->AfterPost = [this](qdb::TQDB*) {
        if (OnEmptyChanged)
            OnEmptyChanged(false);
        emit RecordAdded(edtSenderID->text());
    };
    view_->WarnNoData = [this](qdb::TQDB*) {
        if (OnEmptyChanged)
            OnEmptyChanged(true);
    };
    view_->OnNotice = [this](qdb::TQDB*, const std::string& text) { emit Notice(QString::fromLocal8Bit(text.c_str())); };
    view_->OnKey = [this](qdb::TQDB*, std::string& key) {
        key = edtFilename->text().toLatin1().left(kMaxCatalogueKeyLength).toStdString();
    };
    view_->SetPanel(panel_); // no database is open yet, so this cannot fail

    watch_.setInterval(kWatchMilliseconds);
    connect(&watch_, &QTimer::timeout, this, [this] {
        try {
            TakeInOtherWrites();
        } catch (const std::exception&) {
            // Reported by the next change, which meets the same problem.
        }
    });
}

TFaxCatalogue::~TFaxCatalogue()
{
    Close();
    view_.reset();
    // A panel that no window took over is this object's own.
    if (panel_ && !panel_->parent())
        delete panel_.data();
}

void TFaxCatalogue::Open(const std::string& fileName)
{
    problem_.clear();
    fileName_ = fileName;
    lock_ = std::make_unique<TFolderLock>(QString::fromLocal8Bit((fileName + ".lock").c_str()));
    try {
        // Opening may create the file, and another process may be writing
        // it. A folder where no lock file can be made (read-only) is still
        // opened; its changes are then refused.
        lock_->Lock(kChangePatience);
        const qdb::FileStamp before = qdb::StampOf(fileName);
        view_->SetFileName(fileName);
        if (lock_->Held() && !(qdb::StampOf(fileName) == before))
            NoteOwnWrite();
        lock_->Unlock();
    } catch (const std::exception& e) {
        lock_->Unlock();
        if (view_->Ready()) {
            // Only a record is damaged: the catalogue is open and takes new faxes.
            ShowMessageBox(TMessageKind::Error, QString::fromLocal8Bit(e.what()));
            return;
        }
        problem_ = QStringLiteral("The catalogue %1 could not be opened: %2")
                       .arg(QDir::current().absoluteFilePath(QString::fromLocal8Bit(fileName.c_str())),
                            QString::fromLocal8Bit(e.what()));
        ShowMessageBox(TMessageKind::Error, problem_);
    }
}

void TFaxCatalogue::Close()
{
    if (!view_ || !view_->Ready())
        return;
    watch_.stop();
    const QString name = QString::fromLocal8Bit(view_->FileName().c_str());
    try {
        // Closing writes the file compactly: from what it holds now, other
        // processes' records included. Without the lock it is closed all
        // the same; a file changed meanwhile is then never overwritten.
        if (lock_ && changeDepth_ == 0 && lock_->Lock(kChangePatience))
            ReloadIfOthersWrote();
        view_->SetFileName({});
        if (lock_ && lock_->Held())
            NoteOwnWrite();
    } catch (const std::exception& e) {
        ShowMessageBox(TMessageKind::Error, QStringLiteral("The catalogue %1 could not be saved: %2")
                                                .arg(name, QString::fromLocal8Bit(e.what())));
    }
    if (lock_ && changeDepth_ == 0)
        lock_->Unlock();
}

void TFaxCatalogue::BeginChange()
{
    if (changeDepth_++ > 0)
        return;
    try {
        if (!lock_)
            throw std::runtime_error("the catalogue is not open");
        if (!lock_->Lock(kChangePatience))
            throw std::runtime_error(lock_->TakenByOther()
                                         ? "another Pellimar process keeps the catalogue busy; try again later"
                                         : lock_->Error().toStdString());
        ReloadIfOthersWrote();
    } catch (...) {
        if (lock_)
            lock_->Unlock();
        --changeDepth_;
        throw;
    }
}

void TFaxCatalogue::EndChange()
{
    if (--changeDepth_ > 0)
        return;
    if (view_->Ready())
        NoteOwnWrite();
    lock_->Unlock();
}

bool TFaxCatalogue::LastWrittenByPellimar() const
{
    const QString note = lock_->ReadNote();
    return !note.isEmpty() && note == StampText(qdb::StampOf(fileName_));
}

void TFaxCatalogue::NoteOwnWrite()
{
    // Only a file this process holds as it is on disk may be noted as
    // Pellimar's: a change by another program stays a foreign one.
    if (!view_->FileChangedOnDisk() || !view_->Ready())
        lock_->WriteNote(StampText(qdb::StampOf(fileName_)));
}

void TFaxCatalogue::ReloadIfOthersWrote()
{
    if (!view_->Ready() || !view_->FileChangedOnDisk() || !LastWrittenByPellimar())
        return;
    try {
        view_->Reload();
    } catch (const std::exception& e) {
        if (!view_->Ready())
            problem_ = QStringLiteral("The catalogue %1 could not be read again: %2")
                           .arg(QString::fromLocal8Bit(fileName_.c_str()), QString::fromLocal8Bit(e.what()));
        throw;
    }
    // Observers look at the new records once the change under way is done.
    QMetaObject::invokeMethod(this, [this] { emit Changed(); }, Qt::QueuedConnection);
}

void TFaxCatalogue::SetWatching(bool watching)
{
    if (watching)
        watch_.start();
    else
        watch_.stop();
}

bool TFaxCatalogue::TakeInOtherWrites()
{
    if (changeDepth_ > 0 || Busy() || !lock_ || !view_->Ready() || view_->Editing() || !view_->FileChangedOnDisk())
        return false;
    if (!lock_->TryLock())
        return false;
    const bool others = LastWrittenByPellimar();
    try {
        ReloadIfOthersWrote();
    } catch (...) {
        lock_->Unlock();
        throw;
    }
    lock_->Unlock();
    return others;
}

bool TFaxCatalogue::Ready() const { return view_->Ready() && !view_->ReadOnly(); }

QString TFaxCatalogue::Problem() const
{
    if (Ready())
        return {};
    if (!problem_.isEmpty())
        return problem_;
    if (view_->Ready())
        return QStringLiteral("The catalogue %1 is read-only").arg(QString::fromLocal8Bit(view_->FileName().c_str()));
    return QStringLiteral("The catalogue faxes.qdb is not open");
}

void TFaxCatalogue::Add(const TFaxRecord& record)
{
    if (changeDepth_ == 0)
        throw std::logic_error("a catalogue record is added outside a change");
    view_->Insert();
    edtFilename->setText(record.FileName);
    edtStatus->setText(record.Status);
    edtSenderID->setText(record.SenderID);
    edteMailDate->setText(record.EMailDate);
    edtFaxDate->setText(record.FaxDate);
    view_->Post();
}

bool TFaxCatalogue::Contains(const QString& key) { return view_->FindKey(key.toLatin1().toStdString()); }

void TFaxCatalogue::Flush() { view_->Flush(); }

// The engine's own moves: the record panel is not rewritten on the way.
QStringList TFaxCatalogue::Keys()
{
    QStringList keys;
    if (!view_ || !view_->Ready())
        return keys;
    qdb::TQDB& engine = *view_;
    const int32_t current = engine.ItemIndex();
    const int32_t count = engine.Count();
    keys.reserve(count);
    for (int32_t i = 0; i < count; ++i) {
        engine.GoTo(i);
        const std::string key = engine.CurrentItemKey();
        keys << QString::fromLatin1(key.data(), qsizetype(key.size()));
    }
    if (current >= 0 && current < count)
        engine.GoTo(current);
    return keys;
}

TFaxRecord TFaxCatalogue::Current() const
{
    return {edtStatus->text(), edtFilename->text(), edtSenderID->text(), edteMailDate->text(), edtFaxDate->text()};
}
