#include "app/platform/folder_lock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kMaxNote = 4096;

} // namespace

TFolderLock::TFolderLock(QString path) : path_(std::move(path)) {}

TFolderLock::~TFolderLock() { Unlock(); }

bool TFolderLock::TryLock()
{
    error_.clear();
    takenByOther_ = false;
    if (fd_ != -1)
        return true;
    const QByteArray name = QFile::encodeName(path_);
    // The lock works on a descriptor opened for reading too: a lock file
    // another user made is still shared (its note then stays unwritten).
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd == -1 && errno == EACCES)
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd == -1) {
        error_ = QStringLiteral("cannot open the lock file %1: %2").arg(path_, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            takenByOther_ = true;
        } else {
            error_ = QStringLiteral("cannot lock %1: %2").arg(path_, QString::fromLocal8Bit(strerror(err)));
        }
        return false;
    }
    fd_ = fd;
    return true;
}

bool TFolderLock::Lock(std::chrono::milliseconds patience)
{
    const auto until = std::chrono::steady_clock::now() + patience;
    while (!TryLock()) {
        if (!takenByOther_ || std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void TFolderLock::Unlock()
{
    if (fd_ == -1)
        return;
    ::close(fd_); // closing the only descriptor releases the lock
    fd_ = -1;
}

QString TFolderLock::ReadNote() const
{
    if (fd_ == -1)
        return {};
    char buffer[kMaxNote];
    const ssize_t n = pread(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? QString::fromLatin1(buffer, static_cast<qsizetype>(n)) : QString();
}

void TFolderLock::WriteNote(const QString& text)
{
    if (fd_ == -1)
        return;
    const QByteArray bytes = text.toLatin1().left(kMaxNote);
    // A note cut short by a crash only makes the next holder take the file
    // for another program's change, which is the safe side.
    if (ftruncate(fd_, 0) == 0 && pwrite(fd_, bytes.constData(), static_cast<size_t>(bytes.size()), 0) < 0)
        error_ = QString::fromLocal8Bit(strerror(errno));
}
