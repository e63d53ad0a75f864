#include "app/ui/ani_file.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace {

constexpr qsizetype kChunkHeaderSize = 8;
constexpr qsizetype kIconDirectorySize = 6 + 16; // directory plus its first entry
constexpr qsizetype kAniHeaderSize = 36;

uint32_t U32(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint16_t U16(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint16_t(b[0] | b[1] << 8);
}

// One chunk: its id without blanks and control characters, its declared size
// and where its data starts.
struct Chunk {
    std::string id;
    uint32_t size = 0;
    qsizetype start = 0;

    // Ids match by containment, so "seq " (stored with a blank) matches "seq".
    bool Is(const char* name) const { return id.find(name) != std::string::npos; }
    // End of the data, and of the data with the pad byte an odd size needs.
    qsizetype End() const { return start + qsizetype(size); }
    qsizetype PaddedEnd() const { return End() + qsizetype(size & 1); }
};

// A cursor over the data that never moves past its end.
class Reader {
public:
    Reader(const QByteArray& data, qsizetype end) : data_(data.constData()), end_(end) {}

    qsizetype End() const { return end_; }
    const char* At(qsizetype pos) const { return data_ + pos; }
    qsizetype Remaining() const { return end_ - pos_; }

    bool Skip(qsizetype count)
    {
        if (count < 0 || count > Remaining())
            return false;
        pos_ += count;
        return true;
    }

    bool Read(char* out, qsizetype count)
    {
        if (count < 0 || count > Remaining())
            return false;
        std::memcpy(out, data_ + pos_, size_t(count));
        pos_ += count;
        return true;
    }

    bool ReadChunkHeader(Chunk& chunk)
    {
        char header[kChunkHeaderSize];
        if (!Read(header, kChunkHeaderSize))
            return false;
        chunk.id.clear();
        for (int i = 0; i < 4; ++i)
            if (static_cast<unsigned char>(header[i]) > 32)
                chunk.id += header[i];
        chunk.size = U32(header + 4);
        chunk.start = pos_;
        return true;
    }

    // Moves past the chunk; false when its data runs past the end. A missing
    // pad byte at the very end is tolerated.
    bool SkipChunk(const Chunk& chunk)
    {
        if (chunk.End() > end_)
            return false;
        pos_ = std::min(chunk.PaddedEnd(), end_);
        return true;
    }

private:
    const char* data_;
    qsizetype end_;
    qsizetype pos_ = 0;
};

// Reads a text chunk into at most the text buffer's 256 bytes.
bool ReadText(Reader& reader, const Chunk& chunk, std::string& text)
{
    if (chunk.End() > reader.End())
        return false;
    const qsizetype length = std::min<qsizetype>(chunk.size, TAniFile::kTextBufferSize);
    const char* begin = reader.At(chunk.start);
    text.assign(begin, std::find(begin, begin + length, '\0'));
    return reader.SkipChunk(chunk);
}

// Fills as many table entries as the chunk holds and the table has room for.
template <size_t N>
bool ReadTable(Reader& reader, const Chunk& chunk, std::array<uint32_t, N>& table)
{
    if (chunk.End() > reader.End())
        return false;
    const size_t count = std::min<size_t>(chunk.size / 4, N);
    for (size_t i = 0; i < count; ++i)
        table[i] = U32(reader.At(chunk.start + qsizetype(i) * 4));
    return reader.SkipChunk(chunk);
}

QRgb PaletteColour(const char* palette, uint32_t colours, uint32_t index)
{
    if (index >= colours)
        return qRgb(0, 0, 0);
    const auto* entry = reinterpret_cast<const unsigned char*>(palette + index * 4);
    return qRgb(entry[2], entry[1], entry[0]);
}

} // namespace

QImage IconFromResource(const char* data, int size)
{
    constexpr int kMaxSide = 256;
    if (!data || size < 40)
        return {};
    const uint32_t headerSize = U32(data);
    const auto width = int32_t(U32(data + 4));
    const auto doubledHeight = int32_t(U32(data + 8));
    const uint16_t bitCount = U16(data + 14);
    const uint32_t compression = U32(data + 16);
    const uint32_t coloursUsed = U32(data + 32);
    if (headerSize < 40 || headerSize > uint32_t(size) || compression != 0)
        return {};
    if (width < 1 || width > kMaxSide || doubledHeight < 2 || doubledHeight > 2 * kMaxSide || doubledHeight % 2)
        return {};
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return {};
    const int height = doubledHeight / 2;

    uint32_t colours = 0;
    if (bitCount <= 8) {
        const uint32_t maxColours = 1u << bitCount;
        colours = coloursUsed ? coloursUsed : maxColours;
        if (colours > maxColours)
            return {};
    }
    const qint64 colourStride = (qint64(width) * bitCount + 31) / 32 * 4;
    const qint64 maskStride = (qint64(width) + 31) / 32 * 4;
    const qint64 paletteStart = headerSize;
    const qint64 colourStart = paletteStart + qint64(colours) * 4;
    const qint64 maskStart = colourStart + colourStride * height;
    if (maskStart + maskStride * height > size)
        return {};

    const char* palette = data + paletteStart;
    bool hasAlpha = false;
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        // Bitmaps are stored bottom row first.
        const auto* bits = reinterpret_cast<const unsigned char*>(data + colourStart + colourStride * (height - 1 - y));
        const auto* mask = reinterpret_cast<const unsigned char*>(data + maskStart + maskStride * (height - 1 - y));
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            QRgb colour = 0;
            switch (bitCount) {
            case 1: colour = PaletteColour(palette, colours, (bits[x / 8] >> (7 - x % 8)) & 1); break;
            case 4: colour = PaletteColour(palette, colours, (bits[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F); break;
            case 8: colour = PaletteColour(palette, colours, bits[x]); break;
            case 24: colour = qRgb(bits[x * 3 + 2], bits[x * 3 + 1], bits[x * 3]); break;
            case 32:
                colour = qRgba(bits[x * 4 + 2], bits[x * 4 + 1], bits[x * 4], bits[x * 4 + 3]);
                hasAlpha = hasAlpha || bits[x * 4 + 3] != 0;
                break;
            }
            const bool transparent = (mask[x / 8] >> (7 - x % 8)) & 1;
            out[x] = bitCount == 32 ? colour : (transparent ? qRgba(0, 0, 0, 0) : colour);
        }
    }
    // A 32-bit icon without any alpha values takes its transparency from the mask.
    if (bitCount == 32 && !hasAlpha) {
        for (int y = 0; y < height; ++y) {
            const auto* mask = reinterpret_cast<const unsigned char*>(data + maskStart + maskStride * (height - 1 - y));
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const bool transparent = (mask[x / 8] >> (7 - x % 8)) & 1;
                out[x] = transparent ? qRgba(0, 0, 0, 0) : (out[x] | 0xFF000000u);
            }
        }
    }
    return image;
}

void TAniFile::Clear()
{
    header_ = TAniHeader{};
    title_.clear();
    author_.clear();
    rates_.fill(0);
    sequence_.fill(0);
    for (QImage& frame : frames_)
        frame = QImage();
    current_ = 0;
    ticks_ = 0;
}

bool TAniFile::LoadFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        LoadFromData({});
        return false;
    }
    return LoadFromData(file.readAll());
}

bool TAniFile::LoadFromData(const QByteArray& data)
{
    Clear();
    data_ = data;
    if (data_.isEmpty())
        return true;

    // The layout is walked in its fixed order: RIFF header and form type, an
    // optional information list with a title and an author, the animation
    // header, the rate and sequence tables, then the list of frames.
    Reader reader(data_, data_.size());
    Chunk chunk;
    if (!reader.Skip(12) || !reader.ReadChunkHeader(chunk))
        return false;
    if (!chunk.Is("anih")) {
        if (!reader.Skip(4) || !reader.ReadChunkHeader(chunk))
            return false;
        if (!chunk.Is("anih")) {
            if (!ReadText(reader, chunk, title_) || !reader.ReadChunkHeader(chunk))
                return false;
            if (!ReadText(reader, chunk, author_) || !reader.ReadChunkHeader(chunk))
                return false;
        }
    }
    if (!chunk.Is("anih"))
        return false;

    char header[kAniHeaderSize] = {};
    if (chunk.End() > reader.End())
        return false;
    std::memcpy(header, reader.At(chunk.start), size_t(std::min<qsizetype>(chunk.size, kAniHeaderSize)));
    uint32_t* fields[] = {&header_.cbSizeOf, &header_.cFrames, &header_.cSteps, &header_.cx, &header_.cy,
                          &header_.cBitCount, &header_.cPlanes, &header_.jifRate, &header_.flags};
    for (size_t i = 0; i < std::size(fields); ++i)
        *fields[i] = U32(header + i * 4);
    rates_.fill(header_.jifRate);
    if (!reader.SkipChunk(chunk))
        return false;

    if (!reader.ReadChunkHeader(chunk))
        return false;
    if (chunk.Is("rate")) {
        if (!ReadTable(reader, chunk, rates_) || !reader.ReadChunkHeader(chunk))
            return false;
    }
    if (chunk.Is("seq")) {
        if (!ReadTable(reader, chunk, sequence_) || !reader.ReadChunkHeader(chunk))
            return false;
    }
    if (!chunk.Is("LIST"))
        return true;

    // The frames: each an icon file inside its own chunk, read no further
    // than the end of that chunk nor of the list.
    const qsizetype listEnd = std::min(chunk.End(), data_.size());
    Reader frames(data_, listEnd);
    if (!frames.Skip(chunk.start + 4))
        return false;
    const uint32_t count = std::min<uint32_t>(header_.cFrames, kMaxFrames);
    for (uint32_t i = 0; i < count; ++i) {
        Chunk frame;
        if (!frames.ReadChunkHeader(frame))
            return false;
        if (frame.size < kMinFrameChunkSize)
            break;
        if (frame.End() > listEnd)
            return false;
        const uint32_t imageOffset = U32(frames.At(frame.start + 6 + 12));
        qsizetype imageStart = frame.start + kIconDirectorySize;
        qsizetype imageSize = qsizetype(frame.size) - kIconDirectorySize;
        if (imageOffset > kIconDirectorySize) {
            const qsizetype skip = qsizetype(imageOffset) - kIconDirectorySize;
            imageStart += skip;
            imageSize -= skip;
        }
        // An image that starts outside its chunk or does not fit the frame
        // buffer leaves the slot empty.
        if (imageSize > 0 && imageSize <= kFrameImageBufferSize)
            frames_[i] = IconFromResource(frames.At(imageStart), int(imageSize));
        if (!frames.SkipChunk(frame))
            return false;
    }
    return true;
}

uint32_t TAniFile::Rate(int index) const
{
    return index >= 0 && index < kRateEntries ? rates_[size_t(index)] : 0;
}

uint32_t TAniFile::Sequence(int index) const
{
    return index >= 0 && index < kSequenceEntries ? sequence_[size_t(index)] : 0;
}

bool TAniFile::HasFrame(int index) const
{
    return index >= 0 && index < kMaxFrames && !frames_[size_t(index)].isNull();
}

const QImage& TAniFile::FrameIcon(int index) const
{
    static const QImage none;
    return HasFrame(index) ? frames_[size_t(index)] : none;
}

int TAniFile::FrameCount() const
{
    return int(std::count_if(frames_.begin(), frames_.end(), [](const QImage& f) { return !f.isNull(); }));
}

void TAniFile::SetCurrentFrame(int n)
{
    current_ = HasFrame(n) ? n : 0;
    ticks_ = 0;
}

bool TAniFile::Tick()
{
    ticks_ += 2;
    if (Rate(current_) >= ticks_)
        return false;
    // Frames play in stored order; an empty slot ends the cycle.
    ticks_ = 0;
    current_ = (current_ + 1) % kMaxFrames;
    if (!HasFrame(current_))
        current_ = 0;
    return true;
}
