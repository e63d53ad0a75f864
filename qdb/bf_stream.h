#pragma once
// TBFStream: a file stream with its own buffer that reads and writes
// zero-terminated texts and little-endian 32-bit integers (the index files).
// TTempBFStream writes such a file under a temporary name and moves it over
// its target when finished.
#include <cstdint>
#include <string>
#include <vector>

namespace qdb {

class TBFStream {
public:
    enum class Mode { Create, ReadWrite, Read };

    // bufferSize -1 means the file's current size. Errors name reportName
    // (the database file) when given, else the stream's own file.
    TBFStream(const std::string& fileName, int32_t bufferSize, Mode mode, const std::string& reportName = {});
    virtual ~TBFStream();
    TBFStream(const TBFStream&) = delete;
    TBFStream& operator=(const TBFStream&) = delete;

    // Reads fail (false) when the file ends first or a text is longer than
    // 255 characters or than the buffer.
    bool ReadText(std::string& text);
    bool ReadInt32(int32_t& value);
    void WriteText(const std::string& text);
    void WriteInt32(int32_t value);
    void Seek(int64_t position);
    // Writes out pending bytes and flushes the file to stable storage.
    void Sync();
    // Writes out pending bytes and closes the file; errors are raised here
    // rather than lost in the destructor.
    void Finish();

    int32_t Limit() const { return limit_; }
    const std::string& FileName() const { return fileName_; }

protected:
    void Reset();
    void Refill();
    void WriteOut();

    std::string fileName_;
    std::string reportName_;
    int fd_ = -1;
    std::vector<char> buffer_;
    int32_t limit_ = 0;
    int32_t cursor_ = 0;
    int32_t valid_ = 0;
    bool dirty_ = false;
};

class TTempBFStream : public TBFStream {
public:
    explicit TTempBFStream(const std::string& target, const std::string& reportName = {});
    // Removes the temporary file when Commit was not reached.
    ~TTempBFStream() override;
    // Writes out and moves the file over the target (a working file, so
    // without flushing it to stable storage).
    void Commit();

private:
    std::string target_;
    bool committed_ = false;
};

} // namespace qdb
