#pragma once
// TDataFile: the data section of the open database. Items are read through a
// window kept in memory, so that reading neighbouring items costs one system
// call per window rather than one per item, and appended items are collected
// in memory and written out in large pieces.
//
// A plain database file is not copied when it is opened: the section as it
// lies in the file (the base) is read in place, and only bytes written since
// the opening go to the working data file. A change inside the base first
// copies the base into the working file, which then holds the whole section.
//
// Collected appends reach the file before anything reads them, before the
// database file is written (Flush and Close call WriteOut) and when more
// than a few hundred kilobytes are waiting. Until a flush the working file
// is no more durable than memory anyway: only the database file, flushed to
// stable storage, survives a crash.
#include "qdb/database_file.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qdb {

class TDataFile {
public:
    TDataFile() = default;
    ~TDataFile();
    TDataFile(const TDataFile&) = delete;
    TDataFile& operator=(const TDataFile&) = delete;

    // Takes over a working file (open for reading and writing) that holds
    // the whole section; errors name reportName.
    void Open(int fd, const std::string& reportName);
    // Reads the section in place from base (a descriptor the caller keeps
    // open). makeWorkingFile opens a new, empty working file when one is
    // first needed (-1 when none can be had).
    void OpenOver(const FileSection& base, std::function<int()> makeWorkingFile, const std::string& reportName);
    // Closes without writing out collected appends (WriteOut first to keep them).
    void Close();
    bool IsOpen() const { return fd_ >= 0 || base_.fd >= 0; }

    // The section's length including collected appends.
    int64_t Size() const { return base_.length + written_ + int64_t(pending_.size()); }
    // Writes bytes at offset; an offset at the end appends.
    void Write(const std::string& bytes, int64_t offset);
    // Reads exactly size bytes at offset; false when the section ends first.
    bool Read(char* data, size_t size, int64_t offset);
    // Writes the collected appends to the working file.
    void WriteOut();
    // Copies length bytes from offset into the file fd at position at.
    void CopyTo(int fd, int64_t at, int64_t offset, int64_t length);
    // The section's bytes in order, as ranges of open files (after WriteOut).
    std::vector<FileSection> Pieces() const;

private:
    void OpenWorkingFile(int fd);
    void OpenNewWorkingFile();
    void MakeWhole();
    bool ReadDirect(char* data, size_t size, int64_t offset);
    bool InWindow(int64_t offset, size_t size) const;
    void DropWindowOver(int64_t offset, size_t size);

    int fd_ = -1;                // the working file: section bytes from base_.length on
    FileSection base_;           // the section's first bytes, read in place
    std::function<int()> makeWorkingFile_;
    std::string reportName_;
    int64_t written_ = 0;        // bytes in the working file itself
    std::string pending_;        // appends after them
    std::vector<char> window_;   // a copy of section bytes from windowStart_
    int64_t windowStart_ = 0;
};

} // namespace qdb
