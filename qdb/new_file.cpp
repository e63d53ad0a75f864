#include "qdb/new_file.h"

#include "qdb/file_routines.h"
#include "qdb/qdb_error.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qdb {

namespace {
std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ProcPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

// The permissions a file created now gets.
mode_t CreationMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}
} // namespace

TNewFile::TNewFile(const std::string& target, const std::string& reportName)
    : target_(target), reportName_(reportName)
{
    // A nameless file can be named later only through /proc.
    if (::access("/proc/self/fd", X_OK) == 0)
        fd_ = ::open(FolderOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        name_ = SideName();
        ::unlink(name_.c_str()); // left by an earlier process with this id
        fd_ = ::open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            const int err = errno;
            name_.clear();
            RaiseErrno(err, msg::CannotExtend, reportName_);
        }
    }
    // The new file keeps the permissions of the one it replaces.
    struct stat st;
    ::fchmod(fd_, ::stat(target.c_str(), &st) == 0 ? st.st_mode & 07777 : CreationMode());
}

TNewFile::~TNewFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!name_.empty())
        ::unlink(name_.c_str());
}

std::string TNewFile::SideName() const
{
    return target_ + "." + std::to_string(::getpid()) + ".new";
}

void TNewFile::Sync()
{
    SyncFile(fd_, reportName_);
}

bool TNewFile::CreateTarget()
{
    Sync();
    const std::string from = name_.empty() ? ProcPath(fd_) : name_;
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        if (errno == EEXIST)
            return false;
        // A file system without links: the rename may replace a file made
        // meanwhile, which can only be another new, empty one.
        if (name_.empty() || ::rename(name_.c_str(), target_.c_str()) != 0)
            RaiseErrno(errno, msg::CannotExtend, reportName_);
        name_.clear();
    }
    SyncDirectoryOf(target_);
    return true;
}

void TNewFile::ReplaceTarget()
{
    Sync();
    if (name_.empty()) {
        const std::string side = SideName();
        ::unlink(side.c_str());
        if (::linkat(AT_FDCWD, ProcPath(fd_).c_str(), AT_FDCWD, side.c_str(), AT_SYMLINK_FOLLOW) != 0)
            RaiseErrno(errno, msg::CannotExtend, reportName_);
        name_ = side;
    }
    if (::rename(name_.c_str(), target_.c_str()) != 0)
        RaiseErrno(errno, msg::CannotExtend, reportName_);
    name_.clear();
    SyncDirectoryOf(target_);
}

void RemoveStaleNewFiles(const std::string& target)
{
    const std::string folder = FolderOf(target);
    const std::string prefix = BaseName(target) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".new") != 0)
            continue;
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
            continue;
        const pid_t pid = pid_t(std::atol(digits.c_str()));
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(dir), name.c_str(), 0);
    }
    ::closedir(dir);
}

} // namespace qdb
