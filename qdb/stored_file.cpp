#include "qdb/stored_file.h"

#include "qdb/data_file.h"
#include "qdb/file_routines.h"
#include "qdb/qdb_error.h"
#include "qdb/record_layout.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qdb {

namespace {
// Room for the item bytes of later flushes, and spare space in each index
// place for the index to grow: catalogue flushes add a few records each.
constexpr int64_t MinimumSpare = 65536;
} // namespace

TStoredFile::~TStoredFile()
{
    Forget();
}

void TStoredFile::Forget()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    known_ = overwritten_ = placed_ = false;
    dataLength_ = indexLength_ = workingEnd_ = mappedEnd_ = gapBytes_ = roomEnd_ = 0;
    places_[0] = places_[1] = {};
    current_ = 0;
    plan_ = {};
    shifts_.clear();
}

void TStoredFile::SetAssembled(const StoredLayout& layout)
{
    Forget();
    known_ = !layout.protectedFile;
    dataLength_ = layout.dataLength;
    indexLength_ = layout.indexLength;
    workingEnd_ = mappedEnd_ = layout.dataLength;
}

void TStoredFile::NoteWrite(int64_t offset)
{
    if (offset < workingEnd_)
        overwritten_ = true;
}

int64_t TStoredFile::Frontier() const
{
    return placed_ ? places_[1].at + places_[1].size : dataLength_ + 8 + indexLength_;
}

bool TStoredFile::PlanWrite(int64_t workingSize, int64_t usedBytes, int64_t indexLength)
{
    if (!known_ || overwritten_ || workingSize < workingEnd_)
        return false;
    const int64_t added = workingSize - workingEnd_;
    if (placed_) {
        const Place& spare = places_[1 - current_];
        if (mappedEnd_ + added <= roomEnd_ && 8 + indexLength <= spare.size) {
            plan_ = {false, mappedEnd_, spare.at, 0, 0};
            return true;
        }
    }
    // The end moves: everything after the last item bytes becomes a gap.
    // Gaps may take at most two thirds of the file, so that the file stays
    // within about three times its compact size.
    // Room and places grow with the bytes in use, not with the gaps, so
    // that gaps never make more gaps.
    const int64_t base = Frontier();
    const int64_t gaps = gapBytes_ + (base - mappedEnd_) + std::max<int64_t>(0, workingSize - usedBytes);
    const int64_t live = std::min(usedBytes, workingSize) + 8 + indexLength;
    const int64_t room = std::max({MinimumSpare, 2 * added, usedBytes / 8});
    const int64_t placeSize = 8 + indexLength + indexLength / 4 + MinimumSpare;
    const int64_t roomEnd = base + added + room;
    if (gaps > 2 * live || roomEnd + 2 * placeSize > INT32_MAX)
        return false;
    plan_ = {true, base, roomEnd, roomEnd, placeSize};
    return true;
}

int32_t TStoredFile::StoredOffset(int32_t workingOffset) const
{
    if (workingOffset >= workingEnd_)
        return int32_t(workingOffset + (plan_.dataAt - workingEnd_));
    const auto after = std::upper_bound(shifts_.begin(), shifts_.end(), std::make_pair(int64_t(workingOffset), INT64_MAX));
    return after == shifts_.begin() ? workingOffset : int32_t(workingOffset + std::prev(after)->second);
}

void TStoredFile::Write(const std::string& path, TDataFile& data, const std::string& index)
{
    const int64_t added = data.Size() - workingEnd_;
    if (plan_.indexAt > INT32_MAX || index.size() > size_t(INT32_MAX))
        RaiseFileError(-1, msg::CannotExtend, path);

    // The file stays open between flushes; the caller has made sure that
    // path still names it.
    if (fd_ < 0)
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        RaiseErrno(errno, msg::CannotExtend, path);
    const int fd = fd_;
    bool headerTouched = false;
    try {
        data.CopyTo(fd, 8 + plan_.dataAt, workingEnd_, added);
        std::string marker("QIX", 4);
        AppendInt32(marker, int32_t(index.size()));
        WriteAllAt(fd, marker.data(), marker.size(), 8 + plan_.indexAt, path);
        WriteAllAt(fd, index.data(), index.size(), 8 + plan_.indexAt + 8, path);
        SyncData(fd, path);
        // The commit: the index section now starts at the new index.
        std::string length;
        AppendInt32(length, int32_t(plan_.indexAt));
        headerTouched = true;
        WriteAllAt(fd, length.data(), length.size(), 4, path);
        SyncData(fd, path);
    } catch (...) {
        // The header may already lead to the new index: writing into the
        // file again could overwrite it, so assemble the next time. Before
        // that, the file is cut back to its old length.
        if (headerTouched)
            Forget();
        else if (::ftruncate(fd, st.st_size) != 0) {
            // Bytes the index does not lead to are never read; they can stay.
        }
        throw;
    }

    const int64_t shift = plan_.dataAt - workingEnd_;
    if (shifts_.empty() ? shift != 0 : shifts_.back().second != shift)
        shifts_.emplace_back(workingEnd_, shift);
    if (plan_.moveEnd) {
        gapBytes_ += plan_.dataAt - mappedEnd_;
        placed_ = true;
        roomEnd_ = plan_.roomEnd;
        places_[0] = {plan_.indexAt, plan_.placeSize};
        places_[1] = {plan_.indexAt + plan_.placeSize, plan_.placeSize};
        current_ = 0;
    } else {
        current_ = 1 - current_;
    }
    workingEnd_ += added;
    mappedEnd_ = plan_.dataAt + added;
    dataLength_ = plan_.indexAt;
    indexLength_ = int64_t(index.size());
}

} // namespace qdb
