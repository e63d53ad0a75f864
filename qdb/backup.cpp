#include "qdb/backup.h"

#include "qdb/database_file.h"
#include "qdb/file_routines.h"
#include "qdb/index_section.h"
#include "qdb/new_file.h"
#include "qdb/qdb_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qdb {

namespace {
// Attempts before giving up on a file whose index changes during every read.
constexpr int kAttempts = 50;

class OpenFile {
public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// What a reader of a plain file is led to: the header, the index marker
// and length, and the index section, as bytes; plus where the data is.
struct Snapshot {
    bool protectedFile = false;
    int64_t dataLength = 0;
    std::string index;
    std::string framing; // the header and the index marker and length
    bool operator==(const Snapshot&) const = default;
};

Snapshot TakeSnapshot(int fd, const std::string& path)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        RaiseErrno(errno, msg::NotValid, path);
    Snapshot snap;
    char head[8];
    if (!ReadAllAt(fd, head, 8, 0, path) || std::memcmp(head, "QDB\0", 4) != 0)
        throw EQDBFileError(Format(msg::NotValid, path));
    if (std::memcmp(head + 4, "QPW\0", 4) == 0) {
        snap.protectedFile = true;
        return snap;
    }
    snap.dataLength = LoadInt32(head + 4);
    char marker[8];
    if (snap.dataLength < 0 || 16 + snap.dataLength > st.st_size ||
        !ReadAllAt(fd, marker, 8, 8 + snap.dataLength, path) || std::memcmp(marker, "QIX\0", 4) != 0)
        throw EQDBFileError(Format(msg::NotValid, path));
    const int32_t indexLength = LoadInt32(marker + 4);
    if (indexLength < 0 || 16 + snap.dataLength + indexLength > st.st_size)
        throw EQDBFileError(Format(msg::NotValid, path));
    snap.index.resize(size_t(indexLength));
    if (!ReadAllAt(fd, snap.index.data(), snap.index.size(), 16 + snap.dataLength, path))
        throw EQDBFileError(Format(msg::NotValid, path));
    snap.framing = std::string(head, 8) + std::string(marker, 8);
    return snap;
}

void CopyWhole(int fd, const std::string& source, const std::string& target)
{
    TNewFile file(target, source);
    CopyRange(fd, 0, file.Descriptor(), 0, WholeFile(fd, source).length, source);
    file.ReplaceTarget();
}

// One attempt; false when a flush changed the index while it was read.
bool CopyOnce(const std::string& source, const std::string& target)
{
    const OpenFile in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd() < 0)
        RaiseErrno(errno, msg::NotValid, source);
    const Snapshot snap = TakeSnapshot(in.fd(), source);
    if (snap.protectedFile) {
        CopyWhole(in.fd(), source, target);
        return true;
    }
    // A flush writes its index into a place that the header does not lead
    // to, then changes the header. Read twice alike, header and index were
    // one flush's. The blocks an index leads to are never written again
    // (later flushes write after them, or a new file), so they can be read
    // at leisure.
    if (!(TakeSnapshot(in.fd(), source) == snap))
        return false;
    std::vector<TStoredBlock> blocks;
    if (!ReadStoredBlocks(snap.index, snap.dataLength, blocks))
        throw EQDBFileError(Format(msg::NotValid, source));
    const TUsedParts used(blocks);
    std::vector<FileSection> data;
    for (const TUsedParts::Part& part : used.Parts())
        data.push_back({in.fd(), 8 + part.offset, part.length});
    std::string index = snap.index;
    used.CompactIndex(index.data(), blocks);
    const OpenFile indexFile(AnonymousTempFile("QIX"));
    if (indexFile.fd() < 0)
        throw EQDBIndexError(msg::NoTempFile);
    WriteAll(indexFile.fd(), index.data(), index.size(), source);
    PackDatabase(target, data, {indexFile.fd(), 0, int64_t(index.size())}, "", target);
    return true;
}
} // namespace

void BackupDatabase(const std::string& source, const std::string& target)
{
    for (int attempt = 0; attempt < kAttempts; ++attempt)
        if (CopyOnce(source, target))
            return;
    RaiseFileError(-5, msg::NotValid, source);
}

} // namespace qdb
