#include "qdb/data_file.h"

#include "qdb/file_routines.h"
#include "qdb/qdb_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qdb {

namespace {
// Large enough to hold hundreds of catalogue records, small enough that a
// read of one item far from the others costs little.
constexpr size_t WindowSize = 65536;
// Collected appends are written out when they grow beyond this.
constexpr size_t PendingLimit = 512 * 1024;
} // namespace

TDataFile::~TDataFile()
{
    Close();
}

void TDataFile::Open(const std::string& path, const std::string& reportName)
{
    Close();
    reportName_ = reportName;
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0)
        RaiseErrno(errno, msg::NotValid, reportName_);
    struct stat st;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd_, &st) != 0) {
        const int err = errno;
        Close();
        RaiseErrno(err, msg::NotValid, reportName_);
    }
    written_ = st.st_size;
}

void TDataFile::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    written_ = 0;
    pending_.clear();
    window_.clear();
}

void TDataFile::Write(const std::string& bytes, int64_t offset)
{
    if (offset == Size() && offset >= written_) {
        pending_ += bytes;
        if (pending_.size() > PendingLimit)
            WriteOut();
        return;
    }
    // A write in place: it may cover collected bytes, so those go first.
    WriteOut();
    DropWindowOver(offset, bytes.size());
    WriteAllAt(fd_, bytes.data(), bytes.size(), offset, reportName_);
    written_ = std::max(written_, offset + int64_t(bytes.size()));
}

void TDataFile::WriteOut()
{
    if (pending_.empty())
        return;
    // On failure the bytes stay collected and a later attempt rewrites them
    // at the same place.
    WriteAllAt(fd_, pending_.data(), pending_.size(), written_, reportName_);
    written_ += int64_t(pending_.size());
    pending_.clear();
}

void TDataFile::CopyTo(int fd, int64_t at, int64_t offset, int64_t length)
{
    WriteOut();
    if (::lseek(fd, at, SEEK_SET) < 0)
        RaiseErrno(errno, msg::CannotExtend, reportName_);
    int64_t done = KernelCopy(fd_, offset, fd, length, reportName_);
    std::vector<char> chunk(done < length ? WindowSize : 0);
    while (done < length) {
        const size_t n = size_t(std::min<int64_t>(int64_t(chunk.size()), length - done));
        if (!ReadAllAt(fd_, chunk.data(), n, offset + done, reportName_))
            RaiseFileError(-1, msg::NotValid, reportName_);
        WriteAllAt(fd, chunk.data(), n, at + done, reportName_);
        done += int64_t(n);
    }
}

bool TDataFile::InWindow(int64_t offset, size_t size) const
{
    return offset >= windowStart_ && offset + int64_t(size) <= windowStart_ + int64_t(window_.size());
}

void TDataFile::DropWindowOver(int64_t offset, size_t size)
{
    if (offset < windowStart_ + int64_t(window_.size()) && offset + int64_t(size) > windowStart_)
        window_.clear();
}

bool TDataFile::Read(char* data, size_t size, int64_t offset)
{
    if (offset < 0 || offset + int64_t(size) > Size())
        return false;
    if (offset + int64_t(size) > written_)
        WriteOut();
    if (size >= WindowSize)
        return ReadAllAt(fd_, data, size, offset, reportName_);
    if (!InWindow(offset, size)) {
        const size_t length = size_t(std::min<int64_t>(int64_t(WindowSize), written_ - offset));
        window_.resize(length);
        windowStart_ = offset;
        bool complete = false;
        try {
            complete = ReadAllAt(fd_, window_.data(), length, offset, reportName_);
        } catch (...) {
            window_.clear();
            throw;
        }
        if (!complete) {
            window_.clear();
            return false;
        }
    }
    if (size > 0)
        std::memcpy(data, window_.data() + (offset - windowStart_), size);
    return true;
}

} // namespace qdb
