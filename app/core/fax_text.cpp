#include "app/core/fax_text.h"

#include "app/core/fax_catalogue.h"
#include "app/core/fax_rules.h"
#include "app/core/text_recognition.h"
#include "qdb/record_view.h"

#include <QDir>

int TextWorkerCount()
{
    bool number = false;
    const int workers = qEnvironmentVariableIntValue("PELLIMAR_TEXT_WORKERS", &number);
    return number && workers >= 0 && workers <= 8 ? workers : 1;
}

TFaxText::TFaxText(TFaxCatalogue& catalogue, int workers, QObject* parent)
    : QObject(parent), catalogue_(&catalogue)
{
    if (workers <= 0)
        return;
    recognition_ = std::make_unique<TTextRecognition>(workers);
    recognition_->OnPageRead = [this](const QString& key, const TPageText& page) {
        if (!index_.StorePage(key, page))
            emit Notice(index_.Problem());
    };
    recognition_->OnFaxRead = [this](const QString& key, int pageCount) {
        if (index_.MarkComplete(key, pageCount))
            emit TextAdded(key);
        else
            emit Notice(index_.Problem());
    };
    recognition_->OnFaxFailed = [this](const QString& key, const QString& problem, bool lasting) {
        emit Notice(QStringLiteral("The text of the fax %1 could not be read: %2").arg(key, problem));
        // A file that is no readable fax stays so: it is not read again.
        if (lasting)
            index_.MarkComplete(key, 0);
    };
    recognition_->OnProgress = [this](int left) { emit Progress(left); };
    connect(&catalogue, &TFaxCatalogue::Changed, this, &TFaxText::Sync);
}

TFaxText::~TFaxText() { Stop(); }

void TFaxText::Start(const QString& language)
{
    language_ = language;
    if (!index_.Open(QDir::current().absoluteFilePath(QLatin1String(kTextIndexFileName)))) {
        emit Notice(index_.Problem());
        return;
    }
    if (index_.StartedAfresh() && recognition_)
        emit Notice(QStringLiteral("The text index is being built from the faxes; searching their text finds more "
                                   "as it grows."));
    started_ = true;
    Sync();
}

void TFaxText::Stop()
{
    if (recognition_)
        recognition_->Stop();
}

void TFaxText::SetLanguage(const QString& language) { language_ = language; }

int TFaxText::FaxesLeft() const { return recognition_ ? recognition_->FaxesLeft() : 0; }

void TFaxText::Sync()
{
    if (!started_ || !catalogue_ || !catalogue_->View().Ready() || !index_.IsOpen())
        return;
    const QStringList keys = catalogue_->Keys();
    QSet<QString> catalogued;
    catalogued.reserve(keys.size());
    for (const QString& key : keys)
        catalogued.insert(key.toLower());
    for (const QString& key : index_.StoredKeys())
        if (!catalogued.contains(key.toLower()))
            FaxRemoved(key);
    if (!recognition_)
        return;
    for (const QString& key : recognition_->QueuedKeys())
        if (!catalogued.contains(key))
            recognition_->Forget(key);
    const QSet<QString> complete = index_.CompleteKeys();
    for (const QString& key : keys) {
        if (complete.contains(key.toLower()))
            continue;
        const QString path = FaxFileOfKey(key);
        if (!path.isEmpty())
            recognition_->Enqueue({key, QDir::current().absoluteFilePath(path), language_, index_.StoredPages(key)});
    }
}

void TFaxText::FaxRemoved(const QString& key)
{
    if (recognition_)
        recognition_->Forget(key);
    if (!index_.Remove(key))
        emit Notice(index_.Problem());
}

QSet<QString> TFaxText::MatchingKeys(const QString& text) const { return index_.MatchingKeys(SearchWords(text)); }
