#include "app/platform/durable_file.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

bool SyncOpenFile(QFileDevice& file)
{
    return file.flush() && ::fsync(file.handle()) == 0;
}

bool SyncFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool SyncFiles(const QStringList& paths, QString& failed)
{
    // Only a hint (and one file open at a time, however many there are):
    // the fsync pass below is what counts.
    for (const QString& path : paths) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            ::close(fd);
        }
    }
    for (const QString& path : paths) {
        if (!SyncFile(path)) {
            failed = path;
            return false;
        }
    }
    return true;
}

void SyncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void SyncFolderOf(const QString& path) { SyncFolder(QFileInfo(path).absolutePath()); }

bool RenameReplacing(const QString& from, const QString& to, QString& error)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

bool RenameDurably(const QString& from, const QString& to, QString& error)
{
    if (!RenameReplacing(from, to, error))
        return false;
    SyncFolderOf(to);
    if (QFileInfo(from).absolutePath() != QFileInfo(to).absolutePath())
        SyncFolderOf(from);
    return true;
}
