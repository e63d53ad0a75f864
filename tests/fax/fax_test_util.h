#pragma once
// Helpers for the fax tests: fixture paths, a coder that writes synthetic
// one-dimensional code streams, and APF files built around them.
#include "fax/t4_codes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <string>
#include <vector>

inline std::string FaxFixture(const std::string& name)
{
    return std::string(PELLIMAR_SOURCE_DIR) + "/tests/data/fax/" + name;
}

// Writes codes least significant bit first, as APF page data runs.
class CodeWriter {
public:
    void Bits(const std::string& bits)
    {
        for (char c : bits) {
            if (bitCount_ % 8 == 0)
                bytes_.push_back(0);
            if (c == '1')
                bytes_.back() |= static_cast<uint8_t>(1u << (bitCount_ % 8));
            ++bitCount_;
        }
    }
    void Eol() { Bits("000000000001"); }
    // One run, split into make-up and terminating codes.
    void Run(bool black, int length)
    {
        while (length > 2560) {
            Code(black, 2560);
            length -= 2560;
        }
        if (length >= 64) {
            Code(black, length / 64 * 64);
            length %= 64;
        }
        Code(black, length);
    }
    // A line of alternating runs starting with white, then an EOL.
    void Line(const std::vector<int>& runs)
    {
        bool black = false;
        for (int run : runs) {
            Run(black, run);
            black = !black;
        }
        Eol();
    }
    void WhiteLine(int width = 1728) { Line({width}); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    int BitCount() const { return bitCount_; }

private:
    void Code(bool black, int run)
    {
        for (int i = 0; i < kT4CodeCount; ++i) {
            const T4Code& code = kT4Codes[i];
            const bool colourMatches = code.colour == T4Colour::Both ||
                                       code.colour == (black ? T4Colour::Black : T4Colour::White);
            if (colourMatches && code.run == run && (run < 1792 || code.colour == T4Colour::Both)) {
                Bits(code.bits);
                return;
            }
        }
        throw std::logic_error("no code for run");
    }

    std::vector<uint8_t> bytes_;
    int bitCount_ = 0;
};

struct TestPage {
    std::vector<uint8_t> data;
    uint16_t flags = 0;
    int64_t lengthOverride = -1; // image length field when >= 0
};

inline std::vector<uint8_t> ApfBytes(const std::vector<TestPage>& pages, int pageCountField = -1, uint32_t gap = 0)
{
    std::vector<uint8_t> out = {'A', 'P', 'F', '1', '0', 0x1A};
    out.resize(64, 0);
    const uint16_t count = static_cast<uint16_t>(pageCountField >= 0 ? pageCountField : static_cast<int>(pages.size()));
    const uint32_t first = 64 + gap;
    out[32] = count & 0xFF;
    out[33] = count >> 8;
    for (int i = 0; i < 4; ++i)
        out[34 + i] = static_cast<uint8_t>(first >> (8 * i));
    out.resize(first, 0xEE);
    for (const TestPage& page : pages) {
        const uint32_t length = page.lengthOverride >= 0 ? static_cast<uint32_t>(page.lengthOverride)
                                                         : static_cast<uint32_t>(page.data.size());
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(length >> (8 * i)));
        out.push_back(page.flags & 0xFF);
        out.push_back(page.flags >> 8);
        out.insert(out.end(), 10, 0x55);
        out.insert(out.end(), page.data.begin(), page.data.end());
    }
    return out;
}

// Length-word framing with blocks of at most `block` bytes.
inline std::vector<uint8_t> Framed(const std::vector<uint8_t>& data, std::size_t block)
{
    std::vector<uint8_t> out;
    for (std::size_t at = 0; at < data.size(); at += block) {
        const std::size_t size = std::min(block, data.size() - at);
        out.push_back(size & 0xFF);
        out.push_back(static_cast<uint8_t>(size >> 8));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
    return out;
}

// A temporary folder that holds the files a test writes.
class FaxTempFiles {
public:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const QString path = dir_.filePath(QString::fromStdString(name));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return QFile::encodeName(path).toStdString();
    }
    std::string Path(const std::string& name) const
    {
        return QFile::encodeName(dir_.filePath(QString::fromStdString(name))).toStdString();
    }

private:
    QTemporaryDir dir_;
};
