#pragma once
// TFlyingOp: runs a file operation (move, copy, delete, rename) on a list of
// files the way a desktop file manager does: it asks before replacing a file,
// shows progress while a large file is copied, can be cancelled, and sends
// deleted files to the desktop trash so that they can be restored.
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// Operation codes, as the desktop shells number them.
enum TShellOperation { foMove = 1, foCopy = 2, foDelete = 3, foRename = 4 };

enum class TShellResult {
    Done,    // every file was handled (a replacement the user declined counts as handled)
    Aborted, // the user cancelled
    Failed,  // a file could not be handled; the files after it were left alone
};

class TFlyingOp : public QObject {
    Q_OBJECT
public:
    explicit TFlyingOp(QObject* parent = nullptr);

    // Folder prefix removed from each path of FileList to form its relative name.
    const QString& SourceDirectory() const { return sourceDirectory_; }
    void SetSourceDirectory(const QString& folder) { sourceDirectory_ = folder; }
    // Folder prefix put before each relative name to form its destination.
    const QString& DestinationDirectory() const { return destinationDirectory_; }
    void SetDestinationDirectory(const QString& folder) { destinationDirectory_ = folder; }
    // Kept for the form's settings; no operation reads them.
    const QString& FileMask() const { return fileMask_; }
    void SetFileMask(const QString& mask) { fileMask_ = mask; }
    bool RecurseDirectory() const { return recurseDirectory_; }
    void SetRecurseDirectory(bool on) { recurseDirectory_ = on; }
    // Full path of each file to operate on.
    const QStringList& FileList() const { return fileList_; }
    void SetFileList(const QStringList& files) { fileList_ = files; }

    // Runs the operation on every file of FileList, in order; nothing happens
    // when the list is empty. An abort or a failure is reported in a box
    // ("Opération interrompu par l'utilisateur" / "L'opération a échouée").
    // FileList is left as it is.
    TShellResult RunShellOperation(int operation);
    TShellResult CopyFiles() { return RunShellOperation(foCopy); }
    // Copies one file to a destination of another name, with the same
    // questions, progress and reports as CopyFiles.
    TShellResult CopyFileAs(const QString& source, const QString& destination);

    // Destinations the last operation left as they were: the file already
    // lay there, or the user chose to keep the one there.
    const QStringList& Kept() const { return kept_; }

    // Reports the bytes copied of the current file; returning false cancels.
    // When unassigned, a copy of a large file shows a progress dialog with a
    // Cancel button.
    std::function<bool(qint64 done, qint64 total)> OnProgress;

    // Files from this size on get a progress dialog.
    static constexpr qint64 kProgressThreshold = 4 * 1024 * 1024;

    // One file's source and destination.
    struct TFileStep {
        QString source;
        QString destination;
    };

private:
    TShellResult RunSteps(int operation, const QList<TFileStep>& steps);

    QString sourceDirectory_;
    QString destinationDirectory_;
    QString fileMask_;
    bool recurseDirectory_ = false;
    QStringList fileList_;
    QStringList kept_;
};
