#pragma once
// The fax catalogue "faxes.qdb" of the working folder: the record view over
// it, bound to a record panel of five edit fields, and the rules for adding
// a fax. Downloads, imports, the browser and the command-line modes all go
// through one object of this class; it reports changes through its signals
// and never knows who shows them.
//
// Several Pellimar processes may have the catalogue open at once (the
// window, a timer's fetch, an import). Each change runs inside a change
// scope: it holds a lock beside the catalogue ("faxes.qdb.lock"), first takes
// in what another Pellimar process wrote, and flushes before it ends. The
// lock file notes the stamp the file had when a Pellimar process last wrote
// it, so that a change by any other program is still told apart (and never
// silently taken in).
#include "app/platform/folder_lock.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class QLineEdit;
namespace qdb {
class TQDBView;
}

// The five fields of one catalogue record, as the panel shows them.
struct TFaxRecord {
    QString Status;
    QString FileName; // the key: "faxes\" + the file name
    QString SenderID;
    QString EMailDate;
    QString FaxDate;
};

// "faxes\" + name: the catalogue key of a file in faxes/.
QString CatalogueKey(const QString& fileName);

// The catalogue keeps single-byte keys of at most 255 characters: a name
// that does not fit would be stored under another name than its file's.
bool KeyHoldsName(const QString& key);
constexpr qsizetype kMaxCatalogueKeyLength = 255;

class TFaxCatalogue : public QObject {
    Q_OBJECT
public:
    // Builds the record panel (parentless until a window lays it out) and
    // the record view bound to it; nothing is opened yet.
    explicit TFaxCatalogue(QObject* parent = nullptr);
    // Closes the catalogue (see Close).
    ~TFaxCatalogue() override;

    // Opens fileName in the current folder, creating it when absent. A
    // catalogue that cannot be opened is reported (a box) and left alone:
    // Ready() is then false and Problem() says why.
    void Open(const std::string& fileName = "faxes.qdb");
    // Writes the index back and rebuilds the file; a failure is reported in a box.
    void Close();

    // True when records can be added: open and writable.
    bool Ready() const;
    // Why Ready() is false; empty when it is true.
    QString Problem() const;

    // Inserts and posts one record (not yet flushed), inside a change scope.
    // Throws when the catalogue refuses it.
    void Add(const TFaxRecord& record);
    // True when a record has this key (letter case ignored).
    bool Contains(const QString& key);
    // Makes every posted record durable.
    void Flush();
    // Every record's key in key order; the current record stays current.
    QStringList Keys();

    // An import or a download run is writing: others must wait. The flag
    // replaces any lock of one caller's own, so that each sees the others.
    bool Busy() const { return busy_ > 0; }
    class TBusyScope {
    public:
        explicit TBusyScope(TFaxCatalogue& catalogue) : catalogue_(catalogue) { ++catalogue_.busy_; }
        ~TBusyScope() { --catalogue_.busy_; }
        TBusyScope(const TBusyScope&) = delete;
        TBusyScope& operator=(const TBusyScope&) = delete;

    private:
        TFaxCatalogue& catalogue_;
    };

    // Tells every observer that records were added or removed.
    void NoteChanged() { emit Changed(); }

    // One change of the catalogue, from reading what it holds to the flush
    // of what changed. Scopes nest; the outermost holds the lock. Throws
    // when another Pellimar process holds the catalogue for too long.
    class TChangeScope {
    public:
        explicit TChangeScope(TFaxCatalogue& catalogue) : catalogue_(catalogue) { catalogue_.BeginChange(); }
        ~TChangeScope() { catalogue_.EndChange(); }
        TChangeScope(const TChangeScope&) = delete;
        TChangeScope& operator=(const TChangeScope&) = delete;

    private:
        TFaxCatalogue& catalogue_;
    };

    // While watching, what another Pellimar process wrote is taken in within
    // a few seconds (Changed is then emitted), whenever no change is under way.
    void SetWatching(bool watching);
    // Takes in another Pellimar process's writes now, if there are any and
    // the catalogue is free; true when something was taken in.
    bool TakeInOtherWrites();

    qdb::TQDBView& View() { return *view_; }
    // The record panel and its fields, in field order.
    QWidget* Panel() const { return panel_; }
    QLineEdit* edtFilename = nullptr;
    QLineEdit* edteMailDate = nullptr;
    QLineEdit* edtSenderID = nullptr;
    QLineEdit* edtFaxDate = nullptr;
    QLineEdit* edtStatus = nullptr;

    // The current record's fields as the panel shows them.
    TFaxRecord Current() const;

    // Called when a move finds no record to show (true) and when a record
    // was posted (false).
    std::function<void(bool empty)> OnEmptyChanged;

signals:
    // Records were added or removed by this process.
    void Changed();
    // One record was posted, with the sender ID it carries.
    void RecordAdded(const QString& senderId);
    // Something the catalogue did on its own that the user should know of
    // (a file of no bytes taken as an empty catalogue).
    void Notice(const QString& text);

private:
    void BeginChange();
    void EndChange();
    // True when the file is as a Pellimar process last left it (lock held).
    bool LastWrittenByPellimar() const;
    void NoteOwnWrite();
    void ReloadIfOthersWrote();

    QPointer<QWidget> panel_;
    std::unique_ptr<qdb::TQDBView> view_;
    QString problem_;
    int busy_ = 0;
    std::string fileName_;
    std::unique_ptr<TFolderLock> lock_;
    int changeDepth_ = 0;
    QTimer watch_;
};
