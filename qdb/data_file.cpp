#include "qdb/data_file.h"

#include "qdb/file_routines.h"
#include "qdb/qdb_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

void TDataFile::Open(int fd, const std::string& reportName)
{
    Close();
    reportName_ = reportName;
    OpenWorkingFile(fd);
}

void TDataFile::OpenOver(const FileSection& base, std::function<int()> makeWorkingFile, const std::string& reportName)
{
    Close();
    reportName_ = reportName;
    base_ = base;
    makeWorkingFile_ = std::move(makeWorkingFile);
}

// The working file has no name (nobody else can open it) and is ours to close.
void TDataFile::OpenWorkingFile(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        RaiseErrno(err, msg::NotValid, reportName_);
    }
    fd_ = fd;
    written_ = st.st_size;
}

void TDataFile::OpenNewWorkingFile()
{
    const int fd = makeWorkingFile_ ? makeWorkingFile_() : -1;
    if (fd < 0)
        throw EQDBIndexError(msg::NoTempFile);
    OpenWorkingFile(fd);
}

void TDataFile::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    base_ = {};
    makeWorkingFile_ = nullptr;
    written_ = 0;
    pending_.clear();
    window_.clear();
}

// The base becomes part of the working file, in front of the bytes written
// since the opening: a new working file takes both and then replaces the
// old one, so a failure leaves everything as it was.
void TDataFile::MakeWhole()
{
    WriteOut();
    if (fd_ < 0 && written_ == 0) {
        OpenNewWorkingFile();
        CopyRange(base_.fd, base_.offset, fd_, 0, base_.length, reportName_);
    } else {
        const int fd = makeWorkingFile_ ? makeWorkingFile_() : -1;
        if (fd < 0)
            throw EQDBIndexError(msg::NoTempFile);
        try {
            CopyRange(base_.fd, base_.offset, fd, 0, base_.length, reportName_);
            CopyRange(fd_, 0, fd, base_.length, written_, reportName_);
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd_);
        fd_ = fd;
    }
    written_ += base_.length;
    base_ = {};
    window_.clear();
}

void TDataFile::Write(const std::string& bytes, int64_t offset)
{
    if (offset < base_.length)
        MakeWhole();
    if (fd_ < 0)
        OpenNewWorkingFile();
    if (offset == Size() && offset >= base_.length + written_) {
        pending_ += bytes;
        if (pending_.size() > PendingLimit)
            WriteOut();
        return;
    }
    // A write in place: it may cover collected bytes, so those go first.
    WriteOut();
    DropWindowOver(offset, bytes.size());
    const int64_t at = offset - base_.length;
    WriteAllAt(fd_, bytes.data(), bytes.size(), at, reportName_);
    written_ = std::max(written_, at + int64_t(bytes.size()));
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
    for (const FileSection& piece : Pieces()) {
        // Each piece covers the section from where the one before ended.
        if (length <= 0)
            break;
        if (offset >= piece.length) {
            offset -= piece.length;
            continue;
        }
        const int64_t n = std::min(length, piece.length - offset);
        CopyRange(piece.fd, piece.offset + offset, fd, at, n, reportName_);
        at += n;
        length -= n;
        offset = 0;
    }
    if (length > 0)
        RaiseFileError(-1, msg::NotValid, reportName_);
}

std::vector<FileSection> TDataFile::Pieces() const
{
    std::vector<FileSection> pieces;
    if (base_.length > 0)
        pieces.push_back(base_);
    if (written_ > 0)
        pieces.push_back({fd_, 0, written_});
    return pieces;
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

// Reads from the base and the working file, each for its part of the range.
bool TDataFile::ReadDirect(char* data, size_t size, int64_t offset)
{
    if (offset < base_.length) {
        const size_t n = size_t(std::min<int64_t>(int64_t(size), base_.length - offset));
        if (!ReadAllAt(base_.fd, data, n, base_.offset + offset, reportName_))
            return false;
        data += n;
        size -= n;
        offset += int64_t(n);
    }
    return size == 0 || ReadAllAt(fd_, data, size, offset - base_.length, reportName_);
}

bool TDataFile::Read(char* data, size_t size, int64_t offset)
{
    if (offset < 0 || offset + int64_t(size) > Size())
        return false;
    if (offset + int64_t(size) > base_.length + written_)
        WriteOut();
    if (size >= WindowSize)
        return ReadDirect(data, size, offset);
    if (!InWindow(offset, size)) {
        // A window lies wholly in the base or wholly in the working file.
        const int64_t end = offset < base_.length ? base_.length : base_.length + written_;
        const size_t length = size_t(std::min<int64_t>(int64_t(WindowSize), end - offset));
        if (length < size)
            return ReadDirect(data, size, offset);
        window_.resize(length);
        windowStart_ = offset;
        bool complete = false;
        try {
            complete = ReadDirect(window_.data(), length, offset);
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
