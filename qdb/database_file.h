#pragma once
// The database file: opening it (reading a plain file in place, or
// deciphering a protected one into the two working files) and assembling a
// new file on close or flush.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qdb {

// Writes the 21-byte file of a new, empty database (flushed to disk) when
// no file has that name; raises EQDBFileError when one has.
void WriteTemplate(const std::string& path);
// Puts the 21-byte file in the place of an existing file in one step.
void ReplaceWithTemplate(const std::string& path);

struct WorkingFiles {
    std::string data;  // "QDB..." file: the data section
    std::string index; // "QIX..." file beside it: the index section
};

// The sections of a database file as unpacked or assembled.
struct StoredLayout {
    int64_t dataLength = 0;
    int64_t indexLength = 0;
    int64_t trailingBytes = 0; // after the index section; ignored by readers
    bool protectedFile = false;
};

// A byte range of an open file.
struct FileSection {
    int fd = -1;
    int64_t offset = 0;
    int64_t length = 0;
};

// A whole file opened for reading as one section.
class TSectionFile {
public:
    TSectionFile(const std::string& path, const std::string& reportName);
    ~TSectionFile();
    TSectionFile(const TSectionFile&) = delete;
    TSectionFile& operator=(const TSectionFile&) = delete;
    FileSection Section() const { return {fd_, 0, length_}; }

private:
    int fd_ = -1;
    int64_t length_ = 0;
};

// A whole open file as one section.
FileSection WholeFile(int fd, const std::string& reportName);

// A section's bytes read into memory.
class TSectionBytes {
public:
    // Throws EQDBFileError when the file ends before the section does.
    TSectionBytes(const FileSection& section, const std::string& reportName);
    std::string_view View() const { return {bytes_.get(), length_}; }

private:
    std::unique_ptr<char[]> bytes_;
    size_t length_ = 0;
};

// A plain database file kept open for reading, so that its sections are read
// where they lie. Another writer replaces the file rather than changing it, so
// the bytes read stay those of the opening.
class TPackedSource {
public:
    TPackedSource() = default;
    ~TPackedSource() { Close(); }
    TPackedSource(const TPackedSource&) = delete;
    TPackedSource& operator=(const TPackedSource&) = delete;
    void Close();
    bool IsOpen() const { return fd >= 0; }

    int fd = -1;
    FileSection data;
    FileSection index;
};

// Creates a fresh pair of working files in the temporary folder.
// Throws EQDBIndexError when no names can be had.
WorkingFiles CreateWorkingFiles();
void RemoveWorkingFiles(const WorkingFiles& files);

// Unpacks a database file. A protected file asks demandPassword when password
// is empty. Every length is checked against the file: a bad file raises
// EQDBFileError and leaves no working file behind; a wrong password raises
// EQDBInvalidPW before any working file exists. When source is given, a
// plain file is not copied: source keeps it open and no working files are
// made (the names returned are empty).
WorkingFiles UnpackDatabase(const std::string& path, std::string& password,
                            const std::function<void(std::string&)>& demandPassword,
                            StoredLayout* layout = nullptr, TPackedSource* source = nullptr);

// Assembles a new database file beside target from the data section (its
// pieces in order) and the index section, flushes it to stable storage and
// puts it in target's place in one step (see TNewFile). The old target stays
// intact when anything fails. An empty password writes no protection.
StoredLayout PackDatabase(const std::string& target, const std::vector<FileSection>& data, const FileSection& index,
                          const std::string& password, const std::string& reportName);
// The same from the two working files.
StoredLayout PackDatabase(const std::string& target, const WorkingFiles& files, const std::string& password,
                          const std::string& reportName);

} // namespace qdb
