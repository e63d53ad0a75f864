#include "fax/view/page_rotation.h"

#include "fax/kiv_errors.h"

#include <cstring>

namespace {

// A white image (all bits set) with the colour table of `like`.
QImage WhiteImage(const QImage& like, int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull())
        return image;
    image.setColorTable(like.colorTable());
    std::memset(image.bits(), 0xFF, static_cast<std::size_t>(image.sizeInBytes()));
    return image;
}

bool IsBlack(const uchar* row, int x) { return !(row[x >> 3] & (0x80 >> (x & 7))); }
void SetBlack(uchar* row, int x) { row[x >> 3] &= static_cast<uchar>(~(0x80 >> (x & 7))); }

// Calls visit(x) for every black pixel of the first `width` pixels of a row,
// skipping all-white bytes quickly.
template <typename Visit>
void ForEachBlack(const uchar* row, int width, Visit visit)
{
    const int bytes = (width + 7) / 8;
    for (int b = 0; b < bytes; ++b) {
        if (row[b] == 0xFF)
            continue;
        for (int x = b * 8; x < b * 8 + 8 && x < width; ++x)
            if (IsBlack(row, x))
                visit(x);
    }
}

} // namespace

int PageRowBytes(int width) { return (width + 15) / 16 * 2; }

int RotatePageImage(const QImage& source, int quarterTurns, QImage& rotated)
{
    const int w = source.width();
    const int h = source.height();
    const int span = PageRowBytes(w) * 8; // B * 8
    const int turns = ((quarterTurns % 4) + 4) % 4;
    if (turns == 0 || source.isNull()) {
        rotated = source;
        return 0;
    }
    QImage target = turns == 2 ? WhiteImage(source, span, h) : WhiteImage(source, h, span);
    if (target.isNull())
        return kErrOutOfMemory;
    for (int y = 0; y < h; ++y) {
        const uchar* row = source.constScanLine(y);
        switch (turns) {
        case 1:
            ForEachBlack(row, w, [&](int x) { SetBlack(target.scanLine(x), h - 1 - y); });
            break;
        case 2: {
            uchar* to = target.scanLine(h - 1 - y);
            ForEachBlack(row, w, [&](int x) { SetBlack(to, span - 1 - x); });
            break;
        }
        default:
            ForEachBlack(row, w, [&](int x) { SetBlack(target.scanLine(span - 1 - x), y); });
            break;
        }
    }
    rotated = std::move(target);
    return 0;
}
