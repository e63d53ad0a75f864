#pragma once
// The fax catalogue "faxes.qdb" of the working folder: the record view over
// it, bound to a record panel of five edit fields, and the rules for adding
// a fax. Downloads, imports, the browser and the command-line modes all go
// through one object of this class; it reports changes through its signals
// and never knows who shows them.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QString>

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

    // Inserts and posts one record (not yet flushed). Throws when the
    // catalogue refuses it.
    void Add(const TFaxRecord& record);
    // True when a record has this key (letter case ignored).
    bool Contains(const QString& key);
    // Makes every posted record durable.
    void Flush();

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

private:
    QPointer<QWidget> panel_;
    std::unique_ptr<qdb::TQDBView> view_;
    QString problem_;
    int busy_ = 0;
};
