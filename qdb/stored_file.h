#pragma once
// TStoredFile: what the database file on disk holds, as this engine last
// read or wrote it, so that a flush can write its changes into the file
// instead of assembling the whole file again.
//
// The first such flush moves the file's end: it writes the new item bytes
// after everything the file holds, leaves room after them for the item bytes
// of later flushes, and then keeps two places for the index. Every flush
// writes its new item bytes into the room and the complete new index into
// the place the current index does not use, flushes them to stable storage,
// and only then changes the data section length in the header so that the
// index section starts at the new index. Until that four-byte write the
// header still leads a reader to the current index, which stays untouched,
// so a crash at any point leaves either the old or the new database. Room
// and index places lie in the data section or after the index section,
// where readers never look.
//
// The working data file holds none of this, so item offsets on disk are
// shifted past the old parts of the file. When the room or an index place
// runs out, the file's end moves again; the parts left behind are gaps, and
// when gaps would take more than two thirds of the file the next flush
// assembles the whole file anew, as closing does. Bytes of the working data
// that no entry uses count as gaps: after a crash they include the room and
// index places of the interrupted session, which the next opening reads as
// data. Assembling the file drops every gap.
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
    // working data file as it stands. A protected file cannot be written
    // into: its cipher depends on the section lengths.
    void SetAssembled(const StoredLayout& layout);
    // A change was written into the working data file at offset.
    void NoteWrite(int64_t offset);
    // True when the file can take changes without being assembled anew and
    // already holds the working data byte at offset.
    bool Holds(int64_t offset) const { return known_ && offset < workingEnd_; }

    // Decides where the working data bytes written since the last commit
    // and an index section of indexLength bytes go; false when the whole
    // file must be assembled instead. usedBytes counts the working data
    // bytes that index entries use: the rest are gaps too.
    bool PlanWrite(int64_t workingSize, int64_t usedBytes, int64_t indexLength);
    // Where the working data byte at offset lies in the data section on
    // disk once the planned changes are committed.
    int32_t StoredOffset(int32_t workingOffset) const;
    // Writes the planned changes (the index with offsets from StoredOffset)
    // into the file at path, then commits them. Throws EQDBFileError and
    // changes nothing known about the file when a step fails.
    void Write(const std::string& path, TDataFile& data, const std::string& index);

private:
    // Data section offsets of an index place (its "QIX" marker) and its size.
    struct Place {
        int64_t at = 0;
        int64_t size = 0;
    };
    struct Plan {
        bool moveEnd = false;
        int64_t dataAt = 0;  // where the new item bytes go
        int64_t indexAt = 0; // where the new index goes
        int64_t roomEnd = 0; // after moving the end: where the room ends
        int64_t placeSize = 0;
    };
    // The data section offset after every byte the file holds.
    int64_t Frontier() const;

    int fd_ = -1;                // the file, open for writing
    bool known_ = false;
    bool overwritten_ = false;   // a committed block was changed in place
    int64_t dataLength_ = 0;     // data section length in the header
    int64_t indexLength_ = 0;    // index section length
    int64_t workingEnd_ = 0;     // working data bytes the file already holds
    int64_t mappedEnd_ = 0;      // where the last of them lies on disk
    int64_t gapBytes_ = 0;       // bytes on disk that nothing uses
    // After the end moved: the room and the two index places.
    bool placed_ = false;
    int64_t roomEnd_ = 0;
    Place places_[2];
    int current_ = 0;            // the place of the current index
    Plan plan_;
    // From each working offset on, the distance to add on disk (ascending).
    std::vector<std::pair<int64_t, int64_t>> shifts_;
};

} // namespace qdb
