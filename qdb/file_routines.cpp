#include "qdb/file_routines.h"

#include "qdb/qdb_error.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qdb {

std::string TempFolder;

namespace {
bool IsDirectory(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
} // namespace

std::string TempDirectory()
{
    if (IsDirectory(TempFolder)) {
        char* full = ::realpath(TempFolder.c_str(), nullptr);
        if (full) {
            std::string result(full);
            std::free(full);
            return result;
        }
    }
    const char* env = std::getenv("TMPDIR");
    if (env && IsDirectory(env))
        return WithoutTrailingSlash(env);
    return "/tmp";
}

std::string TempFileName(const std::string& prefix)
{
    std::string name = TempDirectory() + "/" + prefix + "XXXXXX.tmp";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkstemps(buffer.data(), 4);
    if (fd < 0)
        return {};
    ::close(fd);
    return std::string(buffer.data());
}

int AnonymousTempFile(const std::string& prefix)
{
    const int fd = ::open(TempDirectory().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    // A file system without nameless files: the name goes right after the opening.
    const std::string name = TempFileName(prefix);
    if (name.empty())
        return -1;
    const int named = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    ::unlink(name.c_str());
    return named;
}

int32_t AllocateBufferSize(int32_t requested)
{
    int32_t size = std::clamp<int32_t>(requested, 1024, 524288);
    while (true) {
        try {
            std::vector<char> probe(static_cast<size_t>(size));
            return size;
        } catch (const std::bad_alloc&) {
            if (size <= 1)
                throw EQDBNoCompress(msg::NoMemory);
            size /= 2;
        }
    }
}

void SyncFile(int fd, const std::string& name)
{
    if (::fsync(fd) != 0)
        RaiseErrno(errno, msg::CannotExtend, name);
}

void SyncData(int fd, const std::string& name)
{
    if (::fdatasync(fd) != 0)
        RaiseErrno(errno, msg::CannotExtend, name);
}

void SyncDirectoryOf(const std::string& path)
{
    const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

void MoveFileOver(const std::string& source, const std::string& target)
{
    if (::rename(source.c_str(), target.c_str()) == 0) {
        SyncDirectoryOf(target);
        return;
    }
    if (errno != EXDEV)
        RaiseErrno(errno, msg::CannotExtend, target);
    // Another file system: copy beside the target first.
    std::string side = target + ".XXXXXX";
    std::vector<char> name(side.begin(), side.end());
    name.push_back('\0');
    const int out = ::mkstemp(name.data());
    if (out < 0)
        RaiseErrno(errno, msg::CannotExtend, target);
    side = name.data();
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    try {
        if (in < 0)
            RaiseErrno(errno, msg::CannotExtend, target);
        std::vector<char> buffer(65536);
        while (true) {
            const ssize_t got = ::read(in, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                RaiseErrno(errno, msg::CannotExtend, target);
            if (got == 0)
                break;
            WriteAll(out, buffer.data(), size_t(got), target);
        }
        SyncFile(out, target);
        struct stat st;
        if (::fstat(in, &st) == 0)
            ::fchmod(out, st.st_mode & 07777);
        if (::rename(side.c_str(), target.c_str()) != 0)
            RaiseErrno(errno, msg::CannotExtend, target);
    } catch (...) {
        if (in >= 0)
            ::close(in);
        ::close(out);
        ::unlink(side.c_str());
        throw;
    }
    ::close(in);
    ::close(out);
    SyncDirectoryOf(target);
    ::unlink(source.c_str());
}

FileStamp StampOf(const std::string& path)
{
    FileStamp stamp;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return stamp;
    stamp.seconds = st.st_mtim.tv_sec;
    stamp.nanoseconds = st.st_mtim.tv_nsec;
    stamp.size = st.st_size;
    stamp.inode = st.st_ino;
    stamp.valid = true;
    return stamp;
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool IsReadOnlyFile(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

int FileErrorCode(int err)
{
    switch (err) {
    case ENOENT: case ENOTDIR: case ENAMETOOLONG: case ELOOP:
        return -2;
    case EIO: case ENXIO: case ENODEV: case ENOMEDIUM:
        return -3;
    case EMFILE: case ENFILE:
        return -4;
    case EACCES: case EPERM: case EBUSY: case ETXTBSY: case EWOULDBLOCK: case EROFS:
        return -5;
    case ENOSPC: case EDQUOT: case EFBIG:
        return -101;
    case 0:
        return -1;
    default:
        return -1000 - err;
    }
}

void RaiseFileError(int code, const std::string& callerMessage, const std::string& fileName)
{
    switch (code) {
    case -1: throw EQDBFileError(Format(callerMessage.c_str(), fileName));
    case -2: throw EQDBFileError(Format("Could not find the file %s", fileName));
    case -3: throw EQDBFileError(Format("The drive you are trying to access is not ready", fileName));
    case -4: throw EQDBFileError(Format("No more file handles are available", fileName));
    case -5: throw EQDBFileError(Format("The file %s seems to be in use by another program", fileName));
    case -101: throw EQDBFileError(Format("The drive is full", fileName));
    default: throw EQDBFileError(Format("Unidentified problem -  %s", std::to_string(code)));
    }
}

void RaiseErrno(int err, const std::string& callerMessage, const std::string& fileName)
{
    RaiseFileError(FileErrorCode(err), callerMessage, fileName);
}

void WriteAll(int fd, const void* data, size_t size, const std::string& fileName)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, p, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            RaiseErrno(put < 0 ? errno : 0, msg::CannotExtend, fileName);
        p += put;
        size -= size_t(put);
    }
}

void WriteAllAt(int fd, const void* data, size_t size, int64_t offset, const std::string& fileName)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::pwrite(fd, p, size, offset);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            RaiseErrno(put < 0 ? errno : 0, msg::CannotExtend, fileName);
        p += put;
        size -= size_t(put);
        offset += put;
    }
}

bool ReadAllAt(int fd, void* data, size_t size, int64_t offset, const std::string& fileName)
{
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::pread(fd, p, size, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            RaiseErrno(errno, msg::NotValid, fileName);
        if (got == 0)
            return false;
        p += got;
        size -= size_t(got);
        offset += got;
    }
    return true;
}

int64_t KernelCopy(int in, int64_t inOffset, int out, int64_t length, const std::string& fileName)
{
    off64_t from = inOffset;
    int64_t done = 0;
    while (done < length) {
        const ssize_t got = ::copy_file_range(in, &from, out, nullptr, size_t(length - done), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            // Not supported for these files: the caller's own copy takes over.
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)
                break;
            RaiseErrno(errno, msg::CannotExtend, fileName);
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

void CopyRange(int in, int64_t inOffset, int out, int64_t outOffset, int64_t length, const std::string& fileName)
{
    if (length <= 0)
        return;
    if (::lseek(out, outOffset, SEEK_SET) < 0)
        RaiseErrno(errno, msg::CannotExtend, fileName);
    int64_t done = KernelCopy(in, inOffset, out, length, fileName);
    std::vector<char> chunk(done < length ? size_t(65536) : 0);
    while (done < length) {
        const size_t n = size_t(std::min<int64_t>(int64_t(chunk.size()), length - done));
        if (!ReadAllAt(in, chunk.data(), n, inOffset + done, fileName))
            RaiseFileError(-1, msg::NotValid, fileName);
        WriteAllAt(out, chunk.data(), n, outOffset + done, fileName);
        done += int64_t(n);
    }
}

} // namespace qdb
