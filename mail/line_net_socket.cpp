#include "mail/line_net_socket.h"

#include <algorithm>
#include <cstring>

namespace {

// Bytes asked for by one receive: enough that a fast stream needs few
// receives, small enough that what is held stays modest.
constexpr std::size_t kReceiveBlock = 64 * 1024;

// Offset of the first line end in held[from, count), or -1.
int FindLineEnd(const char* held, int count, int from, const std::string& lineEnd)
{
    const int endLength = static_cast<int>(lineEnd.size());
    for (int i = std::max(from, 0); i + endLength <= count; ++i) {
        const void* hit = std::memchr(held + i, lineEnd[0], static_cast<size_t>(count - endLength + 1 - i));
        if (!hit)
            return -1;
        i = static_cast<int>(static_cast<const char*>(hit) - held);
        if (std::memcmp(held + i, lineEnd.data(), static_cast<size_t>(endLength)) == 0)
            return i;
    }
    return -1;
}

}  // namespace

TCustomLineNetSocket::TCustomLineNetSocket(QObject* owner) : TCustomTlsNetSocket(owner) {}

void TCustomLineNetSocket::SetLineMode(bool value)
{
    if (value == lineMode_)
        return;
    lineMode_ = value;
    // Whatever is held is looked at afresh under the new mode.
    lineLength_ = 0;
    searchFrom_ = 0;
    if (heldCount_ > 0)
        Post([this] { Redeliver(); });
}

int TCustomLineNetSocket::RcvdCount()
{
    if (lineMode_ && lineLength_ > 0)
        return lineLength_;
    if (!lineMode_ && heldCount_ > 0)
        return heldCount_;
    return TCustomTlsNetSocket::RcvdCount();
}

// Consumed bytes only move the start of the held data; the block is
// compacted once before new bytes are appended, so that reading many lines
// out of one large receive stays linear.
void TCustomLineNetSocket::DropFront(int n)
{
    n = std::clamp(n, 0, heldCount_);
    heldStart_ += n;
    heldCount_ -= n;
    if (heldCount_ == 0)
        heldStart_ = 0;
}

void TCustomLineNetSocket::Compact()
{
    if (heldStart_ == 0)
        return;
    std::memmove(held_.data(), held_.data() + heldStart_, static_cast<size_t>(heldCount_));
    heldStart_ = 0;
    held_[static_cast<size_t>(heldCount_)] = '\0';
}

bool TCustomLineNetSocket::NotifyDataAvailable(std::uint16_t error)
{
    if (!lineMode_ || lineEnd_.empty())
        return TCustomTlsNetSocket::NotifyDataAvailable(error);
    // One receive of up to a block behind the held bytes, without asking
    // first how many are waiting; the receive loop below calls again while
    // more are.
    Compact();
    const size_t need = static_cast<size_t>(heldCount_) + kReceiveBlock + 1;
    if (held_.size() < need)
        held_.resize(need);
    const int space = static_cast<int>(held_.size()) - heldCount_ - 1;
    const int got = TCustomTlsNetSocket::RecvRaw(held_.data() + heldCount_, space, 0);
    if (got > 0) {
        heldCount_ += got;
        held_[static_cast<size_t>(heldCount_)] = '\0';
    }
    DeliverLines(error);
    return true;
}

void TCustomLineNetSocket::DeliverLines(std::uint16_t error)
{
    const int endLength = static_cast<int>(lineEnd_.size());
    while (lineMode_ && endLength > 0) {
        const int found = FindLineEnd(held_.data() + heldStart_, heldCount_, searchFrom_, lineEnd_);
        if (found < 0) {
            // Only the new bytes (plus a split terminator) are scanned next time.
            searchFrom_ = std::max(0, heldCount_ - endLength + 1);
            return;
        }
        lineLength_ = found + endLength;
        searchFrom_ = 0;
        if (!DeliverCurrentLine(error))
            return;
    }
}

// Offers the line at the front until the handler has read it or switched
// line mode off. A pass that reads nothing ends the delivery; the line stays
// held and is offered again with the next data.
bool TCustomLineNetSocket::DeliverCurrentLine(std::uint16_t error)
{
    while (lineMode_ && lineLength_ > 0) {
        const int before = lineLength_;
        if (!TCustomTlsNetSocket::NotifyDataAvailable(error)) {
            // Nobody listens: the line is dropped, like unread data below.
            DropFront(lineLength_);
            lineLength_ = 0;
            return true;
        }
        if (lineMode_ && lineLength_ == before) {
            lineLength_ = 0;
            return false;
        }
    }
    return true;
}

void TCustomLineNetSocket::Redeliver()
{
    while (heldCount_ > 0) {
        const int before = heldCount_;
        const bool modeBefore = lineMode_;
        try {
            NotifyDataAvailable(0);
        } catch (...) {
            return;
        }
        if (heldCount_ == before && lineMode_ == modeBefore)
            return;
    }
}

int TCustomLineNetSocket::RecvRaw(char* buffer, int size, int flags)
{
    int n = 0;
    if (lineMode_ && lineLength_ > 0)
        n = std::min(size, lineLength_);
    else if (!lineMode_ && heldCount_ > 0)
        n = std::min(size, heldCount_);
    else
        return TCustomTlsNetSocket::RecvRaw(buffer, size, flags);
    n = std::max(n, 0);
    std::memcpy(buffer, held_.data() + heldStart_, static_cast<size_t>(n));
    DropFront(n);
    if (lineMode_)
        lineLength_ -= n;
    return n;
}

void TCustomLineNetSocket::NotifySessionClosed(std::uint16_t error)
{
    try {
        if (lineMode_ && heldCount_ > 0) {
            // The bytes after the last terminator form one last line.
            lineLength_ = heldCount_;
            DeliverCurrentLine(error);
        }
        // Bytes held with line mode off are offered before the close too,
        // so that nothing received is dropped silently.
        while (!lineMode_ && heldCount_ > 0) {
            const int before = heldCount_;
            if (!TCustomTlsNetSocket::NotifyDataAvailable(error) || heldCount_ == before)
                break;
        }
    } catch (...) {
    }
    held_.clear();
    heldStart_ = 0;
    heldCount_ = 0;
    lineLength_ = 0;
    searchFrom_ = 0;
    TCustomTlsNetSocket::NotifySessionClosed(error);
}
