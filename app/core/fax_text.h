#pragma once
// The text of the catalogued faxes: keeps the text index beside the
// catalogue in step with it and has the faxes not yet in the index read in
// the background. At start and after every change of the catalogue (a
// download, an import, another process's writes) the faxes without text
// are queued and the text of faxes no longer catalogued goes. Lives on the
// GUI thread, like the catalogue it reads.
#include "app/core/text_index.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <memory>

class TFaxCatalogue;
class TTextRecognition;

// The index file beside the catalogue "faxes.qdb".
constexpr const char* kTextIndexFileName = "faxes.text.db";

// Worker threads for recognition: PELLIMAR_TEXT_WORKERS when it is a number
// from 0 (recognition off) to 8, else 1, which leaves the other core of a
// small machine to the window.
int TextWorkerCount();

class TFaxText : public QObject {
    Q_OBJECT
public:
    TFaxText(TFaxCatalogue& catalogue, int workers, QObject* parent = nullptr);
    ~TFaxText() override;

    // Opens (or builds afresh) the index in the current folder and queues
    // what it lacks, reading in `language`.
    void Start(const QString& language);
    // Stops reading; every page read completely is stored first. Idempotent.
    void Stop();
    // The language faxes queued from now on are read in.
    void SetLanguage(const QString& language);

    // Compares the index with the catalogue: drops the text of faxes gone,
    // queues the faxes without text.
    void Sync();
    // The fax `key` was removed: its text goes now.
    void FaxRemoved(const QString& key);

    // The keys (lower case) whose text holds every word of `text`.
    QSet<QString> MatchingKeys(const QString& text) const;
    const TTextIndex& Index() const { return index_; }
    int FaxesLeft() const;

signals:
    // The number of faxes still to read changed.
    void Progress(int faxesLeft);
    // A fax's text was stored: searches may find more now.
    void TextAdded(const QString& key);
    // Something the user should know (a fax that could not be read).
    void Notice(const QString& text);

private:
    QPointer<TFaxCatalogue> catalogue_;
    TTextIndex index_;
    std::unique_ptr<TTextRecognition> recognition_;
    QString language_;
    bool started_ = false;
};
