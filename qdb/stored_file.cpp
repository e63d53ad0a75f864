#include "qdb/stored_file.h"

#include "qdb/data_file.h"
#include "qdb/file_routines.h"
#include "qdb/qdb_error.h"
#include "qdb/record_layout.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace qdb {

TStoredFile::~TStoredFile()
{
    Forget();
}

void TStoredFile::Forget()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    known_ = overwritten_ = false;
    dataLength_ = indexLength_ = workingEnd_ = gapBytes_ = 0;
    shifts_.clear();
}

void TStoredFile::SetAssembled(const StoredLayout& layout)
{
    Forget();
    known_ = !layout.protectedFile;
    dataLength_ = layout.dataLength;
    indexLength_ = layout.indexLength;
    workingEnd_ = layout.dataLength;
}

void TStoredFile::NoteWrite(int64_t offset)
{
    if (offset < workingEnd_)
        overwritten_ = true;
}

bool TStoredFile::CanAppend(int64_t workingSize) const
{
    if (!known_ || overwritten_ || workingSize < workingEnd_)
        return false;
    // The old index joins the gaps; they may take at most two thirds of the
    // file, so that the file stays within three times its compact size.
    const int64_t gaps = gapBytes_ + 8 + indexLength_;
    const int64_t newData = FileEnd() - 8 + (workingSize - workingEnd_);
    return gaps <= 2 * (newData - gaps) && newData <= INT32_MAX;
}

int32_t TStoredFile::StoredOffset(int32_t workingOffset) const
{
    if (workingOffset >= workingEnd_)
        return int32_t(workingOffset + PendingShift());
    const auto after = std::upper_bound(shifts_.begin(), shifts_.end(), std::make_pair(int64_t(workingOffset), INT64_MAX));
    return after == shifts_.begin() ? workingOffset : int32_t(workingOffset + std::prev(after)->second);
}

void TStoredFile::Append(const std::string& path, TDataFile& data, const std::string& index)
{
    const int64_t at = FileEnd();
    const int64_t added = data.Size() - workingEnd_;
    const int64_t newDataLength = at - 8 + added;
    if (newDataLength > INT32_MAX || index.size() > size_t(INT32_MAX))
        RaiseFileError(-1, msg::CannotExtend, path);

    // The file stays open between appends; the caller has made sure that
    // path still names it.
    if (fd_ < 0)
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0)
        RaiseErrno(errno, msg::CannotExtend, path);
    const int fd = fd_;
    bool headerTouched = false;
    try {
        data.CopyTo(fd, at, workingEnd_, added);
        std::string marker("QIX", 4);
        AppendInt32(marker, int32_t(index.size()));
        WriteAllAt(fd, marker.data(), marker.size(), at + added, path);
        WriteAllAt(fd, index.data(), index.size(), at + added + 8, path);
        // Bytes left behind by an append that never committed go as well.
        if (::ftruncate(fd, at + added + 8 + int64_t(index.size())) != 0)
            RaiseErrno(errno, msg::CannotExtend, path);
        SyncData(fd, path);
        // The commit: the data section now reaches the new index.
        std::string length;
        AppendInt32(length, int32_t(newDataLength));
        headerTouched = true;
        WriteAllAt(fd, length.data(), length.size(), 4, path);
        SyncData(fd, path);
    } catch (...) {
        // The header may already lead to the new index: appending again
        // after the old one could overwrite it, so assemble the next time.
        // Before that, the file is cut back to what it was.
        if (headerTouched)
            Forget();
        else if (::ftruncate(fd, at) != 0) {
            // Bytes after the index are never read; they can stay.
        }
        throw;
    }

    shifts_.emplace_back(workingEnd_, PendingShift());
    gapBytes_ += 8 + indexLength_;
    dataLength_ = newDataLength;
    indexLength_ = int64_t(index.size());
    workingEnd_ += added;
}

} // namespace qdb
