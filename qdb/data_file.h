// TDataFile: the open working data file. Items are read through a window of
// the file kept in memory, so that reading neighbouring items costs one
// system call per window rather than one per item, and appended items are
// collected in memory and written out in large pieces.
//
// Collected appends reach the file before anything reads them, before the
// database file is assembled (Flush and Close call WriteOut) and when more
// than a few hundred kilobytes are waiting. Until a flush the working file
// is no more durable than memory anyway: only the assembled database file,
// flushed to stable storage, survives a crash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qdb {

class TDataFile {
public:
    TDataFile() = default;
    ~TDataFile();
    TDataFile(const TDataFile&) = delete;
    TDataFile& operator=(const TDataFile&) = delete;

    // Opens the file for exclusive read/write; errors name reportName.
    void Open(const std::string& path, const std::string& reportName);
    // Closes without writing out collected appends (WriteOut first to keep them).
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // The file's length including collected appends.
    int64_t Size() const { return written_ + int64_t(pending_.size()); }
    // Writes bytes at offset; an offset at the end appends.
    void Write(const std::string& bytes, int64_t offset);
    // Reads exactly size bytes at offset; false when the file ends first.
    bool Read(char* data, size_t size, int64_t offset);
    // Writes the collected appends to the file.
    void WriteOut();
    // Copies length bytes from offset into the file fd at position at.
    void CopyTo(int fd, int64_t at, int64_t offset, int64_t length);

private:
    bool InWindow(int64_t offset, size_t size) const;
    void DropWindowOver(int64_t offset, size_t size);

    int fd_ = -1;
    std::string reportName_;
    int64_t written_ = 0;        // bytes in the file itself
    std::string pending_;        // appends after written_
    std::vector<char> window_;   // a copy of file bytes from windowStart_
    int64_t windowStart_ = 0;
};

} // namespace qdb
