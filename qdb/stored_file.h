// TStoredFile: what the database file on disk holds, as this engine last
// read or wrote it, so that a flush can append its changes to the file
// instead of assembling the whole file again.
//
// An append writes the new item bytes and a complete new index after the
// file's current end, flushes them to stable storage, and only then changes
// the data section length in the header to take the old index and the new
// bytes into the data section. Until that four-byte write the header still
// leads a reader to the old index, which stays untouched, so a crash at any
// point leaves either the old or the new database. The old index becomes
// unused space inside the data section; the working data file does not hold
// it, so item offsets on disk are shifted past every such gap. The next full
// assembly (at close, or when the gaps would take more than two thirds of
// the file) writes the compact file again.
#pragma once

#include "qdb/database_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qdb {

class TDataFile;

class TStoredFile {
public:
    TStoredFile() = default;
    ~TStoredFile();
    TStoredFile(const TStoredFile&) = delete;
    TStoredFile& operator=(const TStoredFile&) = delete;

    // Nothing is known: the next flush assembles the whole file.
    void Forget();
    // The file was just unpacked or assembled; its data section is the
    // working data file as it stands (workingEnd bytes). A protected file
    // cannot be appended to: its cipher depends on the section lengths.
    void SetAssembled(const StoredLayout& layout);
    // A change was written into the working data file at offset.
    void NoteWrite(int64_t offset);

    // True when the changes since the file was last written can be appended.
    bool CanAppend(int64_t workingSize) const;
    // The length of the index section in the file.
    int64_t IndexLength() const { return indexLength_; }
    // Where the working data byte at offset lies in the data section on
    // disk once the pending changes are appended.
    int32_t StoredOffset(int32_t workingOffset) const;
    // Appends the working data bytes written since the last commit and the
    // given index section (offsets from StoredOffset) to the file at path,
    // then commits them. Throws EQDBFileError and changes nothing known
    // about the file when a step fails.
    void Append(const std::string& path, TDataFile& data, const std::string& index);

private:
    int64_t FileEnd() const { return 8 + dataLength_ + 8 + indexLength_; }
    int64_t PendingShift() const { return FileEnd() - 8 - workingEnd_; }

    int fd_ = -1;                // the file, open for appending
    bool known_ = false;
    bool overwritten_ = false;   // a committed block was changed in place
    int64_t dataLength_ = 0;     // data section length in the header
    int64_t indexLength_ = 0;    // index section length
    int64_t workingEnd_ = 0;     // working data bytes the file already holds
    int64_t gapBytes_ = 0;       // old indexes inside the data section
    // From each working offset on, the distance to add on disk (ascending).
    std::vector<std::pair<int64_t, int64_t>> shifts_;
};

} // namespace qdb
