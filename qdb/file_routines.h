#pragma once
// File routines of the catalogue database: temporary names, moving a file
// over another, buffer sizes, modification stamps and file-error reports.
#include <cstdint>
#include <string>

namespace qdb {

// Process-wide folder for working and temporary files; empty by default.
extern std::string TempFolder;

// The temporary folder: TempFolder when it names an existing folder, else
// $TMPDIR when that does, else /tmp.
std::string TempDirectory();

// Creates an empty file with a unique name from the three-letter prefix in the
// temporary folder (exclusively) and returns its full name; empty on failure.
std::string TempFileName(const std::string& prefix);

// Opens a new, empty file for reading and writing in the temporary folder
// that has no name, so that nothing is left behind when the process ends,
// however it ends. Returns -1 on failure.
int AnonymousTempFile(const std::string& prefix);

// Clamps a requested buffer size to 1024..524288 and halves it while memory
// for it cannot be had. Returns the size obtained.
int32_t AllocateBufferSize(int32_t requested);

// Puts source in target's place. The target is replaced in one step (rename);
// when source lies on another file system its bytes are first copied to a
// new file beside the target, flushed, and that file is renamed over the
// target. The old target stays untouched until the replacement is complete.
// Throws EQDBFileError on failure, leaving the target as it was.
void MoveFileOver(const std::string& source, const std::string& target);

// Flushes a file's content (and its folder entry) to stable storage.
void SyncFile(int fd, const std::string& name);
// Flushes a file's content and what reading it back needs (its length), but
// not its times.
void SyncData(int fd, const std::string& name);
void SyncDirectoryOf(const std::string& path);

// A stamp that changes whenever another writer replaces or rewrites a file.
struct FileStamp {
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
    int64_t size = -1;
    uint64_t inode = 0;
    bool valid = false;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

bool FileExists(const std::string& path);
// True when the file carries no write permission bits (the read-only attribute).
bool IsReadOnlyFile(const std::string& path);

// The file-error codes: -2 not found, -3 drive not ready, -4 no handles,
// -5 in use, -101 drive full, -1 the caller's message. Maps an errno value.
int FileErrorCode(int err);
// Raises EQDBFileError for a code; the message names the database file.
[[noreturn]] void RaiseFileError(int code, const std::string& callerMessage, const std::string& fileName);
// Raises the error for errno (or the caller's message when errno says nothing).
[[noreturn]] void RaiseErrno(int err, const std::string& callerMessage, const std::string& fileName);

// 32-bit numbers as the database file holds them: little-endian. Inline:
// writing an index stores three for every entry.
inline void StoreInt32(char* at, int32_t value)
{
    const auto bits = uint32_t(value);
    for (int i = 0; i < 4; ++i)
        at[i] = char((bits >> (8 * i)) & 0xFF);
}

inline int32_t LoadInt32(const char* at)
{
    const auto* b = reinterpret_cast<const unsigned char*>(at);
    return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
}

// Whole reads and writes on a descriptor; they retry short transfers and
// raise the file error for the given database name.
void WriteAll(int fd, const void* data, size_t size, const std::string& fileName);
void WriteAllAt(int fd, const void* data, size_t size, int64_t offset, const std::string& fileName);
// Returns false when the file ends first.
bool ReadAllAt(int fd, void* data, size_t size, int64_t offset, const std::string& fileName);
// Copies up to length bytes from in (at inOffset) to out's current position
// inside the kernel, without passing them through this process. Returns the
// count copied: fewer when the source ends or the kernel cannot copy between
// these files, in which case the caller copies the rest itself.
int64_t KernelCopy(int in, int64_t inOffset, int out, int64_t length, const std::string& fileName);
// Copies length bytes from in (at inOffset) to out (at outOffset), in the
// kernel where it can. Raises the file error when in ends first.
void CopyRange(int in, int64_t inOffset, int out, int64_t outOffset, int64_t length, const std::string& fileName);

} // namespace qdb
