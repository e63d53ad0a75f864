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
