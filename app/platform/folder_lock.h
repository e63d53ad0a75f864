#pragma once
// An exclusive advisory lock (flock) on a lock file, shared by every Pellimar
// process that works in one folder. The kernel releases it when its holder
// ends, however it ends, so a killed process never leaves it taken.
#include <QString>

#include <chrono>

class TFolderLock {
public:
    // `path` is the lock file (native path); it is created when missing.
    explicit TFolderLock(QString path);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // Takes the lock if nobody holds it; false (with the reason in Error())
    // when another process holds it or the file cannot be opened.
    bool TryLock();
    // Waits up to `patience` for the lock; false as TryLock.
    bool Lock(std::chrono::milliseconds patience);
    void Unlock();
    bool Held() const { return fd_ != -1; }

    // Why the last TryLock or Lock failed; empty when the lock is held or was
    // only taken by another process.
    const QString& Error() const { return error_; }
    // True when the last TryLock or Lock failed because another process holds the lock.
    bool TakenByOther() const { return takenByOther_; }

    // Text kept in the lock file beside the lock, for its holders (read and
    // written only while held); empty when there is none.
    QString ReadNote() const;
    void WriteNote(const QString& text);

    const QString& Path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
    QString error_;
    bool takenByOther_ = false;
};
