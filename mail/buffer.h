#pragma once
// Byte buffers of the socket stack: TBuffer, one chunk of a socket's send
// chain, and TLineBuffer, which cuts received bytes into CR LF lines.
#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

// A fixed-size block that is filled at the back and drained from the front.
class TBuffer {
public:
    static constexpr int DefaultSize = 1514;

    // A size of 0 or less gives the default chunk size.
    explicit TBuffer(int size = DefaultSize);

    int Size() const { return static_cast<int>(data_.size()); }
    // Changes the chunk size; a non-empty chunk keeps its content (cut to the
    // new size if it shrinks).
    void SetSize(int size);

    // Copies as many bytes as fit behind the stored ones; returns that number.
    int Write(const char* data, int length);
    // The unsent run: pointer and length.
    std::pair<const char*, int> Peek() const;
    // Marks up to n unsent bytes as sent; an emptied chunk is reset for reuse.
    void Remove(int n);

    int WriteCount() const { return wr_; }
    int ReadCount() const { return rd_; }
    bool Empty() const { return rd_ >= wr_; }

private:
    std::vector<char> data_;
    int wr_ = 0;
    int rd_ = 0;
};

// Received bytes held until they form lines ending in CR LF. Taking a line
// only moves the start of the held bytes, and only bytes not yet looked at
// are searched; what is left of a line is moved to the front once, before
// the next receive. The work therefore stays linear in the bytes received,
// however long the lines are.
class TLineBuffer {
public:
    // The block starts at initialSize bytes and grows, while a line is
    // incomplete, up to a little more than maxLine.
    TLineBuffer(std::size_t initialSize, std::size_t maxLine);

    // Where the next receive may write, behind the held bytes; empty when
    // the held bytes are already longer than maxLine without a line end.
    std::span<char> Space();
    // n bytes were written into the last Space().
    void Commit(std::size_t n);
    // Takes the next complete line without its CR LF; false when none is complete.
    bool TakeLine(std::string& line);
    // True when the held bytes hold no complete line and exceed maxLine.
    bool Overlong() const { return count_ > maxLine_; }
    std::size_t Held() const { return count_; }
    void Clear();
    // Bytes searched or moved so far (a measure of the work done).
    std::size_t Work() const { return work_; }

private:
    std::vector<char> data_;
    std::size_t start_ = 0;     // first held byte
    std::size_t count_ = 0;     // held bytes
    std::size_t searched_ = 0;  // held bytes already known to end no line
    std::size_t initialSize_;
    std::size_t maxLine_;
    std::size_t work_ = 0;
};
