#include "app/core/text_recognition.h"

#include "app/core/page_reader.h"

#include <QMetaObject>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

namespace {

// The workers yield to everything else on the machine, the window first.
void LowerThisThreadsPriority() { setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 19); }

} // namespace

TTextRecognition::TTextRecognition(int workers, QObject* parent) : QObject(parent)
{
    for (int i = 0; i < std::max(workers, 1); ++i)
        threads_.emplace_back([this] { Work(); });
}

TTextRecognition::~TTextRecognition() { Stop(); }

void TTextRecognition::Enqueue(const TRecognitionJob& job)
{
    const QString key = job.Key.toLower();
    if (threads_.empty() || queued_.contains(key))
        return;
    queued_.insert(key);
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(job);
    }
    wake_.notify_one();
    if (OnProgress)
        OnProgress(FaxesLeft());
}

void TTextRecognition::Forget(const QString& key)
{
    const QString folded = key.toLower();
    if (!queued_.remove(folded))
        return;
    {
        const std::lock_guard lock(mutex_);
        std::erase_if(jobs_, [&](const TRecognitionJob& job) { return job.Key.toLower() == folded; });
    }
    if (OnProgress)
        OnProgress(FaxesLeft());
}

void TTextRecognition::Stop()
{
    if (threads_.empty())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    cancel_ = true;
    wake_.notify_all();
    // Every worker is told to cancel before any is joined.
    for (std::thread& thread : threads_)
        thread.join();
    threads_.clear();
    Deliver();
}

void TTextRecognition::Work()
{
    LowerThisThreadsPriority();
    TPageReader reader;
    for (;;) {
        TRecognitionJob job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        ReadFax(job, reader);
    }
}

void TTextRecognition::ReadFax(const TRecognitionJob& job, TPageReader& reader)
{
    int pageCount = 0;
    QString problem;
    const TFaxReadOutcome outcome = ReadFaxFile(
        reader, job.Path, job.Language, job.StoredPages, cancel_,
        [&](TPageText&& page) { Post({TResultKind::Page, job.Key, std::move(page), 0, {}, false}); }, pageCount,
        problem);
    if (outcome == TFaxReadOutcome::Read)
        Post({TResultKind::Fax, job.Key, {}, pageCount, {}, false});
    else if (outcome != TFaxReadOutcome::Cancelled)
        Post({TResultKind::Failed, job.Key, {}, 0, problem, outcome == TFaxReadOutcome::NotAFax});
}

void TTextRecognition::Post(TResult result)
{
    bool post = false;
    {
        const std::lock_guard lock(mutex_);
        results_.push_back(std::move(result));
        post = !deliveryPosted_ && !stopping_;
        deliveryPosted_ = deliveryPosted_ || post;
    }
    // Dropped by Qt if this object is gone first; Stop delivers what is left.
    if (post)
        QMetaObject::invokeMethod(this, &TTextRecognition::Deliver, Qt::QueuedConnection);
}

void TTextRecognition::Deliver()
{
    std::vector<TResult> results;
    {
        const std::lock_guard lock(mutex_);
        results.swap(results_);
        deliveryPosted_ = false;
    }
    bool progressed = false;
    for (const TResult& result : results) {
        const QString key = result.Key.toLower();
        if (!queued_.contains(key))
            continue; // forgotten meanwhile: the fax was removed
        switch (result.Kind) {
        case TResultKind::Page:
            if (OnPageRead)
                OnPageRead(result.Key, result.Page);
            break;
        case TResultKind::Fax:
            queued_.remove(key);
            progressed = true;
            if (OnFaxRead)
                OnFaxRead(result.Key, result.PageCount);
            break;
        case TResultKind::Failed:
            queued_.remove(key);
            progressed = true;
            if (OnFaxFailed)
                OnFaxFailed(result.Key, result.Problem, result.Lasting);
            break;
        }
    }
    if (progressed && OnProgress)
        OnProgress(FaxesLeft());
}
