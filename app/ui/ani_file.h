#pragma once
// Animated-icon data (the RIFF ANI layout): the raw bytes, up to 64 frame
// icons, the rate and sequence tables and the animation's frame stepping.
#include <QByteArray>
#include <QImage>

#include <array>
#include <cstdint>
#include <string>

// The 36-byte "anih" chunk.
struct TAniHeader {
    uint32_t cbSizeOf = 0;
    uint32_t cFrames = 0;
    uint32_t cSteps = 0;
    uint32_t cx = 0;
    uint32_t cy = 0;
    uint32_t cBitCount = 0;
    uint32_t cPlanes = 0;
    uint32_t jifRate = 0; // default rate in 1/60 s
    uint32_t flags = 0;
};

class TAniFile {
public:
    static constexpr int kMaxFrames = 64;
    static constexpr int kRateEntries = 81;
    static constexpr int kSequenceEntries = 128;
    static constexpr int kTextBufferSize = 256;
    static constexpr int kFrameImageBufferSize = 4096;
    // A frame chunk smaller than this cannot hold a 32 x 32 icon; loading
    // stops there.
    static constexpr uint32_t kMinFrameChunkSize = 766;

    // Replaces the data and reads it. Returns false when the data ended early
    // or was malformed; whatever was read completely before that is kept.
    bool LoadFromData(const QByteArray& data);
    bool LoadFromFile(const QString& path);

    const QByteArray& Data() const { return data_; }
    bool Empty() const { return data_.isEmpty(); }

    const TAniHeader& Header() const { return header_; }
    const std::string& Title() const { return title_; }
    const std::string& Author() const { return author_; }
    uint32_t Rate(int index) const;
    uint32_t Sequence(int index) const;

    // Frame slots 0..63; an empty slot holds a null image.
    bool HasFrame(int index) const;
    const QImage& FrameIcon(int index) const;
    int FrameCount() const; // filled slots

    int CurrentFrame() const { return current_; }
    uint32_t TickCount() const { return ticks_; }
    // Current frame n (outside 0..63 or an empty slot gives 0), tick counter 0.
    void SetCurrentFrame(int n);
    // One 20 ms step of the animation; true when the current frame changed.
    bool Tick();

private:
    void Clear();

    QByteArray data_;
    TAniHeader header_;
    std::string title_;
    std::string author_;
    std::array<uint32_t, kRateEntries> rates_{};
    std::array<uint32_t, kSequenceEntries> sequence_{};
    std::array<QImage, kMaxFrames> frames_;
    int current_ = 0;
    uint32_t ticks_ = 0;
};

// Builds an image from an icon resource (bitmap header, palette, colour
// bits and transparency mask). Returns a null image for data that is not a
// complete icon of 1, 4, 8, 24 or 32 bits per pixel.
QImage IconFromResource(const char* data, int size);
