#include "fax/view/page_thumbnail.h"

#include <algorithm>
#include <cstdint>
#include <vector>

QImage PageThumbnail(const QImage& page, QSize box)
{
    if (page.isNull() || box.isEmpty())
        return QImage();
    QImage mono = page;
    if (mono.format() != QImage::Format_Mono)
        mono = page.convertToFormat(QImage::Format_Mono, {QColor(Qt::black).rgb(), QColor(Qt::white).rgb()});
    const bool zeroIsBlack = mono.colorCount() < 2 || qGray(mono.color(0)) < qGray(mono.color(1));
    const QSize size = mono.size().scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)).boundedTo(mono.size());
    QImage out(size, QImage::Format_Grayscale8);
    if (out.isNull())
        return out;
    // Each thumbnail column covers the page columns [x * w / tw, (x + 1) * w / tw).
    std::vector<int> columnOf(static_cast<std::size_t>(mono.width()));
    for (int x = 0; x < mono.width(); ++x)
        columnOf[static_cast<std::size_t>(x)] = static_cast<int>(int64_t{x} * size.width() / mono.width());
    std::vector<int64_t> black(static_cast<std::size_t>(size.width()));
    std::vector<int64_t> covered(static_cast<std::size_t>(size.width()));
    int row = 0;
    for (int y = 0; y < mono.height(); ++y) {
        const uchar* bits = mono.constScanLine(y);
        for (int x = 0; x < mono.width(); ++x) {
            const bool zero = !(bits[x >> 3] & (0x80 >> (x & 7)));
            const std::size_t to = static_cast<std::size_t>(columnOf[static_cast<std::size_t>(x)]);
            black[to] += zero == zeroIsBlack;
            ++covered[to];
        }
        const bool rowEnds = y + 1 == mono.height() ||
                             static_cast<int>(int64_t{y + 1} * size.height() / mono.height()) != row;
        if (!rowEnds)
            continue;
        uchar* to = out.scanLine(row);
        for (int x = 0; x < size.width(); ++x) {
            const std::size_t i = static_cast<std::size_t>(x);
            to[x] = static_cast<uchar>(covered[i] ? 255 - black[i] * 255 / covered[i] : 255);
        }
        std::fill(black.begin(), black.end(), 0);
        std::fill(covered.begin(), covered.end(), 0);
        ++row;
    }
    return out;
}
