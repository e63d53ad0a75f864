#pragma once
// Text recognition in the background: worker threads at low priority read
// fax files one page at a time and hand every page's text to the GUI thread
// through queued calls, which alone stores it and touches the catalogue.
// Stopping raises a flag that Tesseract polls between words, so that the
// workers end within a fraction of a second; a page cut short is left
// unread and is read again on the next start.
#include "app/core/text_index.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// One fax to read: its catalogue key, its file, the language to read it in
// and the pages already stored (those are not read again).
struct TRecognitionJob {
    QString Key;
    QString Path;
    QString Language;
    QSet<int> StoredPages;
};

class TTextRecognition : public QObject {
    Q_OBJECT
public:
    // Starts `workers` threads (at least one), idle until a job comes.
    explicit TTextRecognition(int workers = 1, QObject* parent = nullptr);
    // Stops the workers (see Stop).
    ~TTextRecognition() override;

    // Queues a fax unless it is queued already. GUI thread only.
    void Enqueue(const TRecognitionJob& job);
    // Drops a fax: a queued job is taken out, and pages of it still being
    // read are thrown away when they arrive. GUI thread only.
    void Forget(const QString& key);
    // Cancels the pages being read, ends the workers and hands on every page
    // read completely before it returns. GUI thread only; idempotent.
    void Stop();
    // Faxes queued or being read.
    int FaxesLeft() const { return int(queued_.size()); }
    // Their keys, in lower case.
    QList<QString> QueuedKeys() const { return queued_.values(); }

    // Events, on the GUI thread: a page was read; every page of a fax was
    // read (pageCount pages); a fax could not be read at all (`lasting`
    // when reading it again would not help, such as a file that is no fax);
    // the number of faxes left changed.
    std::function<void(const QString& key, const TPageText& page)> OnPageRead;
    std::function<void(const QString& key, int pageCount)> OnFaxRead;
    std::function<void(const QString& key, const QString& problem, bool lasting)> OnFaxFailed;
    std::function<void(int faxesLeft)> OnProgress;

private:
    enum class TResultKind { Page, Fax, Failed };
    struct TResult {
        TResultKind Kind;
        QString Key;
        TPageText Page;
        int PageCount = 0;
        QString Problem;
        bool Lasting = false;
    };

    void Work();
    void ReadFax(const TRecognitionJob& job, class TPageReader& reader);
    void Post(TResult result);
    // Hands the results gathered so far to the events.
    void Deliver();

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<TRecognitionJob> jobs_; // guarded by mutex_
    std::vector<TResult> results_;     // guarded by mutex_
    bool deliveryPosted_ = false;      // guarded by mutex_
    bool stopping_ = false;            // guarded by mutex_
    std::atomic<bool> cancel_{false};
    // Keys (lower case) queued or being read; GUI thread only.
    QSet<QString> queued_;
};
