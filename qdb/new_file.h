#pragma once
// TNewFile: a file written in the folder of the file it is to become, and
// put in that file's place only when it is complete and on stable storage.
//
// Where the file system allows, the file has no name while it is written,
// so a crash leaves nothing behind. Otherwise, and for the moment between
// naming it and moving it into place, its name is the target's name, the
// writing process's id and ".new"; RemoveStaleNewFiles removes such files
// once their process has ended.
#include <string>

namespace qdb {

class TNewFile {
public:
    // Errors name reportName (the database file).
    TNewFile(const std::string& target, const std::string& reportName);
    // Removes the file when it was not put in place.
    ~TNewFile();
    TNewFile(const TNewFile&) = delete;
    TNewFile& operator=(const TNewFile&) = delete;

    int Descriptor() const { return fd_; }
    // Flushes the file to stable storage and gives it the target's name when
    // no file has that name yet; false (the new file is dropped) when one has.
    bool CreateTarget();
    // Flushes the file to stable storage and puts it in the target's place
    // in one step: readers see either the old file or the new one.
    void ReplaceTarget();

private:
    void Sync();
    std::string SideName() const;

    std::string target_;
    std::string reportName_;
    std::string name_; // the file's name while it is written; empty without one
    int fd_ = -1;
};

// Removes the files that processes which no longer run left beside target.
void RemoveStaleNewFiles(const std::string& target);

} // namespace qdb
