#pragma once
// Builds animated-icon files for tests, chunk by chunk, so that each test can
// bend one part of the layout.
#include <QByteArray>
#include <QRgb>

#include <cstdint>
#include <string>
#include <vector>

namespace ani_test {

inline void PutU32(QByteArray& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

inline void PutU16(QByteArray& out, uint16_t v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

// A chunk with the declared size given (by default the real one) and the pad
// byte an odd size needs.
inline QByteArray Chunk(const char* id, const QByteArray& data, int64_t declaredSize = -1)
{
    QByteArray out(id, 4);
    PutU32(out, declaredSize < 0 ? uint32_t(data.size()) : uint32_t(declaredSize));
    out += data;
    if (data.size() % 2)
        out.append('\0');
    return out;
}

inline QByteArray Table(const std::vector<uint32_t>& values)
{
    QByteArray out;
    for (uint32_t v : values)
        PutU32(out, v);
    return out;
}

// An icon resource of 32 x 32 pixels, 24 or 32 bits per pixel, all one colour
// except the top-left pixel, which the mask makes transparent.
inline QByteArray IconImage(QRgb colour, int bitCount = 24)
{
    constexpr int kSide = 32;
    QByteArray out;
    PutU32(out, 40);
    PutU32(out, kSide);
    PutU32(out, 2 * kSide);
    PutU16(out, 1);
    PutU16(out, uint16_t(bitCount));
    for (int i = 0; i < 6; ++i)
        PutU32(out, 0);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            out.append(char(qBlue(colour)));
            out.append(char(qGreen(colour)));
            out.append(char(qRed(colour)));
            if (bitCount == 32)
                out.append(char(0));
        }
    for (int row = 0; row < kSide; ++row) {
        // Rows are stored bottom first: the last row is the top one.
        out.append(char(row == kSide - 1 ? 0x80 : 0));
        out.append(3, '\0');
    }
    return out;
}

// An icon file (directory, one entry, image) whose entry gives this offset.
inline QByteArray IconFile(const QByteArray& image, uint32_t imageOffset = 22)
{
    QByteArray out;
    PutU16(out, 0);
    PutU16(out, 1);
    PutU16(out, 1);
    out.append(char(32));
    out.append(char(32));
    out.append(2, '\0');
    PutU16(out, 1);
    PutU16(out, 24);
    PutU32(out, uint32_t(image.size()));
    PutU32(out, imageOffset);
    return out + image;
}

// The colour that marks frame i, so a test can tell the frames apart.
inline QRgb FrameColour(int i) { return qRgb(i * 3, 255 - i * 3, 0x40); }

struct Builder {
    int frames = 3;               // frame chunks written
    uint32_t declaredFrames = 0;  // frame count in the header; 0: same as frames
    uint32_t defaultRate = 10;
    std::vector<uint32_t> rates;  // a rate chunk when not empty
    std::vector<uint32_t> sequence;
    bool info = true;
    std::string title = "Test";
    std::string author = "Tester";
    std::vector<QByteArray> replacedFrames; // chunk data replacing frame i when not empty

    QByteArray FrameData(int i) const
    {
        if (size_t(i) < replacedFrames.size() && !replacedFrames[size_t(i)].isEmpty())
            return replacedFrames[size_t(i)];
        return IconFile(IconImage(FrameColour(i)));
    }

    QByteArray Build() const
    {
        QByteArray body("ACON");
        if (info) {
            QByteArray list("INFO");
            list += Chunk("INAM", QByteArray::fromStdString(title) + '\0');
            list += Chunk("IART", QByteArray::fromStdString(author) + '\0');
            body += Chunk("LIST", list);
        }
        QByteArray header;
        for (uint32_t v : {36u, declaredFrames ? declaredFrames : uint32_t(frames), uint32_t(frames), 0u, 0u, 0u, 0u,
                           defaultRate, 1u})
            PutU32(header, v);
        body += Chunk("anih", header);
        if (!rates.empty())
            body += Chunk("rate", Table(rates));
        if (!sequence.empty())
            body += Chunk("seq ", Table(sequence));
        QByteArray list("fram");
        for (int i = 0; i < frames; ++i)
            list += Chunk("icon", FrameData(i));
        body += Chunk("LIST", list);
        QByteArray out("RIFF");
        PutU32(out, uint32_t(body.size()));
        return out + body;
    }
};

} // namespace ani_test
