#include "app/platform/flying_op.h"

#include "app/platform/durable_file.h"
#include "app/platform/message_box.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QSaveFile>

#include <memory>

namespace {

constexpr qint64 kChunk = 256 * 1024;

enum class TFileResult { Done, Aborted, Failed };

using TFileStep = TFlyingOp::TFileStep;

bool SameFile(const QString& a, const QString& b)
{
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// The replace question of a copy or move onto an existing file; false keeps
// the file already there.
bool MayReplace(const QString& source, const QString& destination)
{
    const QFileInfo there(destination);
    const QFileInfo incoming(source);
    const QString text =
        QStringLiteral("The folder %1 already holds a file named %2 (%3 bytes, modified %4).\n\n"
                       "Replace it with %5 (%6 bytes, modified %7)?")
            .arg(QDir::toNativeSeparators(there.absolutePath()), there.fileName())
            .arg(there.size())
            .arg(there.lastModified().toString(Qt::ISODate), QDir::toNativeSeparators(incoming.absoluteFilePath()))
            .arg(incoming.size())
            .arg(incoming.lastModified().toString(Qt::ISODate));
    return ShowMessageBox(TMessageKind::Warning, text) == TMessageAnswer::Yes;
}

// Progress of one file copy: the caller's handler, else a dialog for a large file.
class TCopyProgress {
public:
    TCopyProgress(const std::function<bool(qint64, qint64)>& handler, const QString& name, qint64 total)
        : handler_(handler), total_(total)
    {
        if (handler_ || total < TFlyingOp::kProgressThreshold || RunningHeadless())
            return;
        dialog_ = std::make_unique<QProgressDialog>(QStringLiteral("Copying %1").arg(name), QStringLiteral("Cancel"),
                                                    0, 1000, QApplication::activeWindow());
        dialog_->setWindowTitle(QStringLiteral("Copying"));
        dialog_->setWindowModality(Qt::ApplicationModal);
        dialog_->setMinimumDuration(0);
        dialog_->setAutoClose(false);
        dialog_->setAutoReset(false);
    }

    // False when the user cancelled.
    bool Report(qint64 done)
    {
        if (handler_)
            return handler_(done, total_);
        if (!dialog_)
            return true;
        dialog_->setValue(total_ > 0 ? int(done * 1000 / total_) : 1000);
        return !dialog_->wasCanceled();
    }

private:
    const std::function<bool(qint64, qint64)>& handler_;
    qint64 total_;
    std::unique_ptr<QProgressDialog> dialog_;
};

class TRunner {
public:
    TRunner(const TFlyingOp& op, QStringList& kept) : op_(op), kept_(kept) {}

    TFileResult Copy(const TFileStep& step)
    {
        const QFileInfo source(step.source);
        if (!source.isFile())
            return Fail(QStringLiteral("Cannot copy %1: the file does not exist.").arg(step.source));
        if (RefuseLink(step))
            return TFileResult::Failed;
        if (QFileInfo::exists(step.destination)) {
            // A file copied onto itself is already where it belongs; writing
            // it would only risk its contents.
            if (SameFile(step.source, step.destination) || !MayReplace(step.source, step.destination))
                return Keep(step.destination);
        }
        return CopyData(step, source.size());
    }

    TFileResult Move(const TFileStep& step)
    {
        if (!QFileInfo(step.source).isFile())
            return Fail(QStringLiteral("Cannot move %1: the file does not exist.").arg(step.source));
        if (RefuseLink(step))
            return TFileResult::Failed;
        if (QFileInfo::exists(step.destination)) {
            if (SameFile(step.source, step.destination) || !MayReplace(step.source, step.destination))
                return Keep(step.destination);
        }
        QString error;
        if (RenameDurably(step.source, step.destination, error))
            return TFileResult::Done;
        // Another file system: copy, then remove the original.
        const TFileResult copied = CopyData(step, QFileInfo(step.source).size());
        if (copied != TFileResult::Done)
            return copied;
        if (!QFile::remove(step.source))
            return Fail(QStringLiteral("%1 was copied to %2 but could not be removed.").arg(step.source, step.destination));
        return TFileResult::Done;
    }

    TFileResult Rename(const TFileStep& step)
    {
        if (!QFileInfo::exists(step.source))
            return Fail(QStringLiteral("Cannot rename %1: the file does not exist.").arg(step.source));
        if (QFileInfo::exists(step.destination))
            return Fail(QStringLiteral("Cannot rename %1: %2 already exists.").arg(step.source, step.destination));
        QFile file(step.source);
        if (!file.rename(step.destination))
            return Fail(QStringLiteral("Cannot rename %1: %2").arg(step.source, file.errorString()));
        return TFileResult::Done;
    }

    TFileResult Delete(const QString& path)
    {
        QFile file(path);
        if (!file.exists())
            return Fail(QStringLiteral("Cannot delete %1: the file does not exist.").arg(path));
        if (!file.moveToTrash())
            return Fail(QStringLiteral("Cannot move %1 to the trash: %2").arg(path, file.errorString()));
        return TFileResult::Done;
    }

private:
    // A destination that is a symbolic link, even a dangling one, is never
    // written through: the write would land wherever the link points.
    static bool RefuseLink(const TFileStep& step)
    {
        if (!QFileInfo(step.destination).isSymLink())
            return false;
        Fail(QStringLiteral("Cannot write %1 to %2: it is a symbolic link, which is never written through.")
                 .arg(step.source, step.destination));
        return true;
    }

    // Writes beside the destination and renames over it only when complete,
    // so that a failed or cancelled copy leaves any earlier file intact.
    TFileResult CopyData(const TFileStep& step, qint64 total)
    {
        QFile in(step.source);
        if (!in.open(QIODevice::ReadOnly))
            return Fail(QStringLiteral("Cannot copy %1: %2").arg(step.source, in.errorString()));
        QSaveFile out(step.destination);
        out.setDirectWriteFallback(false);
        if (!out.open(QIODevice::WriteOnly))
            return Fail(QStringLiteral("Cannot copy %1 to %2: %3").arg(step.source, step.destination, out.errorString()));
        TCopyProgress progress(op_.OnProgress, QFileInfo(step.source).fileName(), total);
        QByteArray buffer(kChunk, Qt::Uninitialized);
        qint64 done = 0;
        for (;;) {
            if (!progress.Report(done)) {
                out.cancelWriting();
                return TFileResult::Aborted;
            }
            const qint64 got = in.read(buffer.data(), kChunk);
            if (got < 0)
                return Fail(QStringLiteral("Cannot read %1: %2").arg(step.source, in.errorString()));
            if (got == 0)
                break;
            if (out.write(buffer.constData(), got) != got)
                return Fail(QStringLiteral("Cannot write %1: %2").arg(step.destination, out.errorString()));
            done += got;
        }
        if (!SyncOpenFile(out) || !out.commit())
            return Fail(QStringLiteral("Cannot write %1: %2").arg(step.destination, out.errorString()));
        SyncFolderOf(step.destination);
        return TFileResult::Done;
    }

    TFileResult Keep(const QString& destination)
    {
        kept_ << destination;
        return TFileResult::Done;
    }

    // The reason, as a file manager shows it, before the operation's own report.
    static TFileResult Fail(const QString& reason)
    {
        ShowMessageBox(TMessageKind::Error, reason);
        return TFileResult::Failed;
    }

    const TFlyingOp& op_;
    QStringList& kept_;
};

} // namespace

TFlyingOp::TFlyingOp(QObject* parent) : QObject(parent) {}

TShellResult TFlyingOp::RunShellOperation(int operation)
{
    kept_.clear();
    if (fileList_.isEmpty())
        return TShellResult::Done;
    QList<TFileStep> steps;
    for (const QString& line : fileList_) {
        const QString relative = line.mid(sourceDirectory_.size());
        steps.push_back({sourceDirectory_ + relative, destinationDirectory_ + relative});
    }
    return RunSteps(operation, steps);
}

TShellResult TFlyingOp::CopyFileAs(const QString& source, const QString& destination)
{
    kept_.clear();
    return RunSteps(foCopy, {{source, destination}});
}

TShellResult TFlyingOp::RunSteps(int operation, const QList<TFileStep>& steps)
{
    TRunner runner(*this, kept_);
    TFileResult result = TFileResult::Done;
    if (operation == foDelete) {
        const QString what = steps.size() == 1 ? steps.front().source
                                               : QStringLiteral("these %1 files").arg(steps.size());
        if (ShowMessageBox(TMessageKind::Warning, QStringLiteral("Move %1 to the trash?").arg(what))
            != TMessageAnswer::Yes)
            result = TFileResult::Aborted;
    }
    for (const TFileStep& step : steps) {
        if (result != TFileResult::Done)
            break;
        switch (operation) {
        case foMove: result = runner.Move(step); break;
        case foCopy: result = runner.Copy(step); break;
        case foDelete: result = runner.Delete(step.source); break;
        case foRename: result = runner.Rename(step); break;
        default: result = TFileResult::Failed; break;
        }
    }

    switch (result) {
    case TFileResult::Done:
        return TShellResult::Done;
    case TFileResult::Aborted:
        ShowMessageBox(TMessageKind::Error, QStringLiteral("Opération interrompu par l'utilisateur"));
        return TShellResult::Aborted;
    case TFileResult::Failed:
        break;
    }
    ShowMessageBox(TMessageKind::Error, QStringLiteral("L'opération a échouée"));
    return TShellResult::Failed;
}
