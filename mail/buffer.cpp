#include "mail/buffer.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int size)
{
    data_.resize(size > 0 ? size : DefaultSize);
}

void TBuffer::SetSize(int size)
{
    if (size <= 0)
        size = DefaultSize;
    data_.resize(size);
    wr_ = std::min(wr_, size);
    rd_ = std::min(rd_, wr_);
}

int TBuffer::Write(const char* data, int length)
{
    const int n = std::clamp(Size() - wr_, 0, std::max(length, 0));
    if (n > 0) {
        std::memcpy(data_.data() + wr_, data, n);
        wr_ += n;
    }
    return n;
}

std::pair<const char*, int> TBuffer::Peek() const
{
    return {data_.data() + rd_, wr_ - rd_};
}

void TBuffer::Remove(int n)
{
    rd_ += std::clamp(n, 0, wr_ - rd_);
    if (rd_ >= wr_)
        rd_ = wr_ = 0;
}

TLineBuffer::TLineBuffer(std::size_t initialSize, std::size_t maxLine)
    : data_(std::max<std::size_t>(initialSize, 2)), initialSize_(data_.size()), maxLine_(maxLine)
{
}

std::span<char> TLineBuffer::Space()
{
    if (count_ == 0) {
        start_ = 0;
        if (data_.size() > initialSize_)
            data_.assign(initialSize_, '\0');  // a long line is gone: give its memory back
    } else if (start_ > 0) {
        std::memmove(data_.data(), data_.data() + start_, count_);
        work_ += count_;
        start_ = 0;
    }
    if (count_ >= data_.size()) {
        if (count_ > maxLine_)
            return {};
        data_.resize(std::min(data_.size() * 2, maxLine_ + 2));
    }
    return {data_.data() + count_, data_.size() - count_};
}

void TLineBuffer::Commit(std::size_t n)
{
    count_ += std::min(n, data_.size() - start_ - count_);
}

bool TLineBuffer::TakeLine(std::string& line)
{
    const char* held = data_.data() + start_;
    // A LF ends a line only right after a CR; the CR may be the last byte
    // searched before.
    std::size_t from = std::max<std::size_t>(searched_, 1);
    while (from < count_) {
        const void* lf = std::memchr(held + from, '\n', count_ - from);
        const std::size_t at = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - held) : count_;
        work_ += at - from;
        if (!lf)
            break;
        if (held[at - 1] == '\r') {
            line.assign(held, at - 1);
            start_ += at + 1;
            count_ -= at + 1;
            searched_ = 0;
            return true;
        }
        from = at + 1;
    }
    searched_ = count_;
    return false;
}

void TLineBuffer::Clear()
{
    start_ = count_ = searched_ = 0;
}
