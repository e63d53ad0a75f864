#include "qdb/compressor.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qdb {

namespace {
constexpr unsigned char CodeCompressed = 0x40;
constexpr unsigned char CodeStored = 0x80;
constexpr size_t MaxRun = 4095;
constexpr size_t MinRun = 16;
constexpr size_t MaxCopy = 18;
} // namespace

std::string CompressPiece(std::string_view piece)
{
    const size_t n = piece.size();
    const auto* in = reinterpret_cast<const unsigned char*>(piece.data());
    auto at = [&](size_t i) -> uint32_t { return i < n ? in[i] : 0; };

    std::array<int32_t, 4096> table;
    table.fill(-1);
    // One group can add at most 2 + 4 bytes after the length test.
    std::string out(n + 16, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    o[0] = CodeCompressed;
    size_t control = 1, pos = 3, p = 0;
    unsigned items = 0;
    uint32_t bits = 0;

    while (p < n && pos <= n) {
        if (items == 16) {
            o[control] = uint8_t(bits >> 8);
            o[control + 1] = uint8_t(bits);
            control = pos;
            pos += 2;
            items = 0;
            bits = 0;
        }
        size_t run = 1;
        while (run < MaxRun && p + run < n && in[p + run] == in[p])
            ++run;
        if (run >= MinRun) {
            o[pos++] = 0;
            o[pos++] = uint8_t((run - MinRun) >> 8);
            o[pos++] = uint8_t((run - MinRun) & 0xFF);
            o[pos++] = in[p];
            p += run;
            bits = (bits << 1) | 1;
        } else {
            const uint32_t h = ((((at(p) << 8) ^ (at(p + 1) << 4) ^ at(p + 2)) * 40543u) >> 4) & 0xFFF;
            const int32_t q = table[h];
            size_t m = 0;
            if (q != -1 && p - size_t(q) < 4096) {
                while (m < MaxCopy && p + m < n && in[p + m] == in[size_t(q) + m])
                    ++m;
            }
            table[h] = int32_t(p);
            if (m >= 3) {
                const uint32_t code = uint32_t((p - size_t(q)) << 4) + uint32_t(m - 3);
                o[pos++] = uint8_t(code >> 8);
                o[pos++] = uint8_t(code);
                p += m;
                bits = (bits << 1) | 1;
            } else {
                o[pos++] = in[p++];
                bits <<= 1;
            }
        }
        ++items;
    }
    bits <<= (16 - items);
    o[control] = uint8_t(bits >> 8);
    o[control + 1] = uint8_t(bits);

    if (pos > n) {
        std::string stored(1, char(CodeStored));
        stored.append(piece);
        return stored;
    }
    out.resize(pos);
    return out;
}

namespace {

// Decodes one block body into a sink that appends literals, runs and copies;
// the same walk both decompresses and measures an item.
template <class Sink>
bool DecodeBody(std::string_view body, Sink& out)
{
    if (body.size() < 2)
        return true;
    const auto* b = reinterpret_cast<const unsigned char*>(body.data());
    const size_t L = body.size();
    if (b[0] == CodeStored) {
        out.Literals(body.substr(1));
        return true;
    }
    size_t produced = 0;
    size_t i = 1;
    while (i < L) {
        if (i + 2 > L)
            return false;
        const uint32_t control = uint32_t(b[i]) << 8 | b[i + 1];
        i += 2;
        for (int bit = 15; bit >= 0 && i < L; --bit) {
            if (!(control & (1u << bit))) {
                out.Literals(body.substr(i++, 1));
                ++produced;
            } else {
                if (i + 2 > L)
                    return false;
                const uint32_t distance = uint32_t(b[i]) << 4 | b[i + 1] >> 4;
                if (distance == 0) {
                    if (i + 4 > L)
                        return false;
                    const size_t run = (size_t(b[i + 1] & 0x0F) << 8 | b[i + 2]) + MinRun;
                    out.Run(run, char(b[i + 3]));
                    produced += run;
                    i += 4;
                } else {
                    const size_t length = size_t(b[i + 1] & 0x0F) + 3;
                    if (distance > produced)
                        return false;
                    out.Copy(distance, length);
                    produced += length;
                    i += 2;
                }
            }
            if (produced > PieceSize)
                return false;
        }
    }
    return true;
}

struct AppendSink {
    std::string& out;
    void Literals(std::string_view bytes) { out.append(bytes); }
    void Run(size_t count, char byte) { out.append(count, byte); }
    void Copy(size_t distance, size_t length)
    {
        // One byte at a time: the source may overlap the bytes being written.
        for (size_t k = 0; k < length; ++k)
            out.push_back(out[out.size() - distance]);
    }
};

struct CountSink {
    uint64_t size = 0;
    void Literals(std::string_view bytes) { size += bytes.size(); }
    void Run(size_t count, char) { size += count; }
    void Copy(size_t, size_t length) { size += length; }
};

// Walks the blocks of an item's stream, handing each body to decode.
template <class DecodeFn>
bool WalkBlocks(std::string_view stream, DecodeFn decode)
{
    size_t at = 0;
    while (at < stream.size()) {
        if (at + 2 > stream.size())
            return false;
        const size_t L = size_t(uint8_t(stream[at])) | size_t(uint8_t(stream[at + 1])) << 8;
        at += 2;
        if (at + L > stream.size() || !decode(stream.substr(at, L)))
            return false;
        at += L;
    }
    return true;
}

} // namespace

bool DecompressBody(std::string_view body, std::string& out)
{
    AppendSink sink{out};
    return DecodeBody(body, sink);
}

std::string CompressItem(std::string_view item)
{
    std::string stream;
    for (size_t at = 0; at < item.size(); at += PieceSize) {
        const std::string body = CompressPiece(item.substr(at, PieceSize));
        stream.push_back(char(body.size() & 0xFF));
        stream.push_back(char(body.size() >> 8));
        stream += body;
    }
    return stream;
}

bool DecompressedSize(std::string_view stream, uint64_t& size)
{
    CountSink sink;
    const bool valid = WalkBlocks(stream, [&](std::string_view body) { return DecodeBody(body, sink); });
    size = sink.size;
    return valid;
}

bool DecompressItem(std::string_view stream, std::string& out, uint64_t maxSize)
{
    uint64_t size = 0;
    if (!DecompressedSize(stream, size) || size > maxSize)
        return false;
    out.reserve(out.size() + size_t(size));
    return WalkBlocks(stream, [&](std::string_view body) { return DecompressBody(body, out); });
}

} // namespace qdb
