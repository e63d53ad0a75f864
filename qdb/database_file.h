// The database file: unpacking it into the two working files on open and
// assembling a new file from them on close or flush.
#pragma once

#include <functional>
#include <string>

namespace qdb {

// Writes the 21-byte file of a new, empty database (flushed to disk).
void WriteTemplate(const std::string& path);

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

// Creates a fresh pair of working files in the temporary folder.
// Throws EQDBIndexError when no names can be had.
WorkingFiles CreateWorkingFiles();
void RemoveWorkingFiles(const WorkingFiles& files);

// Unpacks a database file. A protected file asks demandPassword when password
// is empty. Every length is checked against the file: a bad file raises
// EQDBFileError and leaves no working file behind; a wrong password raises
// EQDBInvalidPW before any working file exists.
WorkingFiles UnpackDatabase(const std::string& path, std::string& password,
                            const std::function<void(std::string&)>& demandPassword,
                            StoredLayout* layout = nullptr);

// Assembles a new database file from the working files in a "QDD" temporary
// file, flushes it to stable storage and moves it over target. The old target
// stays intact when anything fails. An empty password writes no protection.
StoredLayout PackDatabase(const std::string& target, const WorkingFiles& files, const std::string& password,
                          const std::string& reportName);

} // namespace qdb
