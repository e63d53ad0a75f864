#include "fax/view/view_renderer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <vector>

namespace {

// The page pixels [first, end) that displayed pixel `shown` covers along one
// axis scaled by mult/div.
struct Span {
    int first = 0;
    int end = 0;
};

// A span of at most 9 pixels read as one 16-bit window of its row: the
// window starts at byte `byte` and `mask` marks the span's pixels.
struct PackedSpan {
    int byte = -1; // -1: count pixel by pixel
    uint16_t mask = 0;
};

// Set bits per byte value (a table: the build targets no popcount instruction).
constexpr auto kBitCounts = [] {
    std::array<uint8_t, 256> counts{};
    for (int i = 0; i < 256; ++i)
        counts[static_cast<std::size_t>(i)] = static_cast<uint8_t>(std::popcount(static_cast<unsigned>(i)));
    return counts;
}();

int CountBits(unsigned window) { return kBitCounts[window >> 8] + kBitCounts[window & 0xFF]; }

PackedSpan Pack(const Span& span, int bytesPerLine)
{
    const int byte = span.first >> 3;
    const int shift = span.first & 7;
    const int length = span.end - span.first;
    if (length <= 0 || shift + length > 16 || byte + 1 >= bytesPerLine)
        return {};
    const unsigned bits = ((1u << length) - 1) << (16 - shift - length);
    return {byte, static_cast<uint16_t>(bits)};
}

Span SourceSpan(int64_t shown, int mult, int div, int limit)
{
    const int64_t first = shown * div / mult;
    int64_t end = first + 1;
    if (mult < div)
        end = std::max(end, (shown + 1) * div / mult);
    return {static_cast<int>(std::min<int64_t>(first, limit - 1)), static_cast<int>(std::min<int64_t>(end, limit))};
}

bool Black(const uchar* row, int x) { return !(row[x >> 3] & (0x80 >> (x & 7))); }

QRgb Mix(QRgb fg, QRgb bg, int black, int total)
{
    if (black == 0)
        return bg;
    if (black == total)
        return fg;
    auto channel = [&](int f, int b) { return (f * black + b * (total - black)) / total; };
    return qRgb(channel(qRed(fg), qRed(bg)), channel(qGreen(fg), qGreen(bg)), channel(qBlue(fg), qBlue(bg)));
}

bool Inside(const TViewerRect& r, int x, int y) { return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom; }

} // namespace

QImage RenderViewArea(const QImage& page, const TViewFrame& frame, const QRect& area)
{
    QImage out(area.size(), QImage::Format_RGB32);
    if (out.isNull())
        return out;
    out.fill(frame.background);
    if (page.isNull())
        return out;
    const TViewerScaling& s = frame.scale;
    const int x0 = area.left() + frame.offset.x();
    const int y0 = area.top() + frame.offset.y();
    const int columns = std::clamp(frame.displayed.width() - x0, 0, area.width());
    const int rows = std::clamp(frame.displayed.height() - y0, 0, area.height());
    if (x0 < 0 || y0 < 0)
        return out;

    std::vector<Span> columnSpans(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i)
        columnSpans[static_cast<std::size_t>(i)] = SourceSpan(x0 + i, s.horizMult, s.horizDiv, page.width());
    const bool averaged = s.horizMult < s.horizDiv || s.vertMult < s.vertDiv;
    std::vector<int> counts(static_cast<std::size_t>(columns));
    std::vector<PackedSpan> packed(static_cast<std::size_t>(columns));
    if (averaged)
        for (int i = 0; i < columns; ++i)
            packed[static_cast<std::size_t>(i)] = Pack(columnSpans[static_cast<std::size_t>(i)], static_cast<int>(page.bytesPerLine()));

    for (int j = 0; j < rows; ++j) {
        const Span rowSpan = SourceSpan(y0 + j, s.vertMult, s.vertDiv, page.height());
        QRgb* to = reinterpret_cast<QRgb*>(out.scanLine(j));
        if (!averaged) {
            const uchar* from = page.constScanLine(rowSpan.first);
            for (int i = 0; i < columns; ++i)
                if (Black(from, columnSpans[static_cast<std::size_t>(i)].first))
                    to[i] = frame.foreground;
        } else {
            std::fill(counts.begin(), counts.end(), 0);
            for (int y = rowSpan.first; y < rowSpan.end; ++y) {
                const uchar* from = page.constScanLine(y);
                for (int i = 0; i < columns; ++i) {
                    const PackedSpan& p = packed[static_cast<std::size_t>(i)];
                    if (p.byte >= 0) {
                        const unsigned window = static_cast<unsigned>(from[p.byte] << 8 | from[p.byte + 1]);
                        counts[static_cast<std::size_t>(i)] += CountBits(~window & p.mask);
                        continue;
                    }
                    const Span& c = columnSpans[static_cast<std::size_t>(i)];
                    for (int x = c.first; x < c.end; ++x)
                        counts[static_cast<std::size_t>(i)] += Black(from, x);
                }
            }
            const int height = rowSpan.end - rowSpan.first;
            for (int i = 0; i < columns; ++i) {
                const Span& c = columnSpans[static_cast<std::size_t>(i)];
                const int total = (c.end - c.first) * height;
                if (total > 0)
                    to[i] = Mix(frame.foreground, frame.background, counts[static_cast<std::size_t>(i)], total);
            }
        }
        if (frame.selection)
            for (int i = 0; i < columns; ++i)
                if (Inside(*frame.selection, x0 + i, y0 + j))
                    to[i] ^= 0x00FFFFFF;
    }
    return out;
}

QImage RenderViewAreaForDevice(const QImage& page, const TViewFrame& frame, const QRect& area, int pixelRatio)
{
    if (pixelRatio <= 1)
        return RenderViewArea(page, frame, area);
    const int n = pixelRatio;
    auto device = [n](int v) { return static_cast<int>(std::clamp<int64_t>(int64_t{v} * n, INT_MIN / 2, INT_MAX / 2)); };
    TViewFrame fine = frame;
    fine.scale.horizMult *= n;
    fine.scale.vertMult *= n;
    fine.offset = QPoint(device(frame.offset.x()), device(frame.offset.y()));
    fine.displayed = QSize(device(frame.displayed.width()), device(frame.displayed.height()));
    TViewerRect selection;
    if (frame.selection) {
        const TViewerRect& s = *frame.selection;
        selection = {device(s.left), device(s.top), device(s.right + 1) - 1, device(s.bottom + 1) - 1};
        fine.selection = &selection;
    }
    QImage out = RenderViewArea(page, fine, QRect(device(area.left()), device(area.top()), device(area.width()),
                                                  device(area.height())));
    out.setDevicePixelRatio(n);
    return out;
}

QImage CopyDisplayedBlock(const QImage& page, const TViewerScaling& s, const TViewerRect& block)
{
    const int width = block.right - block.left + 1;
    const int height = block.bottom - block.top + 1;
    QImage out(width, height, QImage::Format_Mono);
    if (out.isNull() || page.isNull())
        return QImage();
    out.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    out.fill(1);
    for (int j = 0; j < height; ++j) {
        const int y = SourceSpan(block.top + j, s.vertMult, s.vertDiv, page.height()).first;
        const uchar* from = page.constScanLine(y);
        uchar* to = out.scanLine(j);
        for (int i = 0; i < width; ++i) {
            const int x = SourceSpan(block.left + i, s.horizMult, s.horizDiv, page.width()).first;
            if (Black(from, x))
                to[i >> 3] &= static_cast<uchar>(~(0x80 >> (i & 7)));
        }
    }
    return out;
}
