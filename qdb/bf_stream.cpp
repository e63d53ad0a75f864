#include "qdb/bf_stream.h"

#include "qdb/file_routines.h"
#include "qdb/qdb_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qdb {

TBFStream::TBFStream(const std::string& fileName, int32_t bufferSize, Mode mode, const std::string& reportName)
    : fileName_(fileName), reportName_(reportName.empty() ? fileName : reportName)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::Read: flags |= O_RDONLY; break;
    }
    fd_ = ::open(fileName.c_str(), flags, 0644);
    if (fd_ < 0)
        RaiseErrno(errno, msg::NotValid, reportName_);
    if (mode != Mode::Read && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd_);
        RaiseErrno(err, msg::NotValid, reportName_);
    }
    if (bufferSize == -1) {
        struct stat st;
        bufferSize = ::fstat(fd_, &st) == 0 ? int32_t(std::min<int64_t>(st.st_size, INT32_MAX)) : 0;
    }
    try {
        const int32_t size = AllocateBufferSize(bufferSize);
        buffer_.assign(size_t(size), 0);
        limit_ = size - 1;
    } catch (...) {
        ::close(fd_);
        throw;
    }
    Reset();
}

TBFStream::~TBFStream()
{
    if (fd_ >= 0) {
        try {
            WriteOut();
        } catch (const EQDBError&) {
            // The destructor cannot report; callers use Finish to see errors.
        }
        ::close(fd_);
    }
}

void TBFStream::WriteOut()
{
    if (dirty_) {
        WriteAll(fd_, buffer_.data(), size_t(cursor_), reportName_);
        dirty_ = false;
    }
}

void TBFStream::Reset()
{
    WriteOut();
    std::fill(buffer_.begin(), buffer_.end(), 0);
    cursor_ = limit_;
    valid_ = limit_;
}

void TBFStream::Refill()
{
    WriteOut();
    std::fill(buffer_.begin(), buffer_.end(), 0);
    if (::lseek(fd_, int64_t(cursor_) - valid_, SEEK_CUR) < 0)
        RaiseErrno(errno, msg::NotValid, reportName_);
    cursor_ = 0;
    valid_ = 0;
    while (valid_ < limit_) {
        const ssize_t got = ::read(fd_, buffer_.data() + valid_, size_t(limit_ - valid_));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            RaiseErrno(errno, msg::NotValid, reportName_);
        if (got == 0)
            break;
        valid_ += int32_t(got);
    }
}

bool TBFStream::ReadText(std::string& text)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The byte after the limit is always zero, so the scan ends there.
        const size_t n = std::strlen(buffer_.data() + cursor_);
        if (valid_ >= cursor_ + int32_t(n) + 1) {
            if (n > 255)
                return false;
            text.assign(buffer_.data() + cursor_, n);
            cursor_ += int32_t(n) + 1;
            return true;
        }
        if (valid_ < limit_)
            return false;
        Refill();
    }
    return false;
}

bool TBFStream::ReadInt32(int32_t& value)
{
    if (valid_ < cursor_ + 4) {
        if (valid_ < limit_)
            return false;
        Refill();
        if (valid_ < cursor_ + 4)
            return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(buffer_.data() + cursor_);
    value = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    cursor_ += 4;
    return true;
}

void TBFStream::WriteText(const std::string& text)
{
    const int32_t n = int32_t(text.size());
    if (cursor_ + n + 1 > limit_) {
        Reset();
        cursor_ = 0;
    }
    std::memcpy(buffer_.data() + cursor_, text.data(), size_t(n));
    buffer_[size_t(cursor_ + n)] = 0;
    cursor_ += n + 1;
    dirty_ = true;
}

void TBFStream::WriteInt32(int32_t value)
{
    if (cursor_ + 4 > limit_) {
        Reset();
        cursor_ = 0;
    }
    const uint32_t v = uint32_t(value);
    for (int i = 0; i < 4; ++i)
        buffer_[size_t(cursor_ + i)] = char((v >> (8 * i)) & 0xFF);
    cursor_ += 4;
    dirty_ = true;
}

void TBFStream::Seek(int64_t position)
{
    Reset();
    if (::lseek(fd_, position, SEEK_SET) < 0)
        RaiseErrno(errno, msg::NotValid, reportName_);
}

void TBFStream::Sync()
{
    WriteOut();
    cursor_ = 0;
    SyncFile(fd_, reportName_);
}

void TBFStream::Finish()
{
    if (fd_ < 0)
        return;
    WriteOut();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        RaiseErrno(errno, msg::CannotExtend, reportName_);
}

namespace {
std::string RequireTempName()
{
    std::string name = TempFileName("QDT");
    if (name.empty())
        throw EQDBIndexError(msg::NoTempFile);
    return name;
}
} // namespace

TTempBFStream::TTempBFStream(const std::string& target, const std::string& reportName)
    : TBFStream(RequireTempName(), 32768, Mode::Create, reportName), target_(target)
{
}

TTempBFStream::~TTempBFStream()
{
    if (!committed_) {
        const std::string name = fileName_;
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        ::unlink(name.c_str());
    }
}

void TTempBFStream::Commit()
{
    // No flush to stable storage: the target is a working file, which a crash
    // discards anyway. What must survive is the database file assembled from
    // it, and that is flushed when it is written.
    Finish();
    if (::rename(fileName_.c_str(), target_.c_str()) != 0)
        MoveFileOver(fileName_, target_);
    committed_ = true;
}

} // namespace qdb
