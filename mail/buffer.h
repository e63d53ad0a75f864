// One chunk of a socket's send chain: a fixed-size block that is filled at
// the back and drained from the front.
#pragma once

#include <utility>
#include <vector>

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
