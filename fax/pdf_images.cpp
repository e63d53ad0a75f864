#include "fax/pdf_images.h"

#include <cctype>
#include <climits>
#include <cstring>

namespace {

// How far an image's /Width and /Height may lie from its /Subtype.
constexpr qsizetype kDictionaryReach = 4096;

bool Delimiter(char c) { return std::isspace(static_cast<unsigned char>(c)) || std::strchr("/<>[]()%", c); }

// The integer after `key` within [from, to), or -1.
int IntegerAfter(const QByteArray& file, const char* key, qsizetype from, qsizetype to)
{
    const QByteArray name(key);
    for (qsizetype at = file.indexOf(name, from); at >= 0 && at < to; at = file.indexOf(name, at + 1)) {
        qsizetype p = at + name.size();
        if (p < to && !Delimiter(file[p]))
            continue; // a longer name, such as /WidthX
        while (p < to && std::isspace(static_cast<unsigned char>(file[p])))
            ++p;
        int64_t value = 0;
        qsizetype digits = 0;
        while (p < to && std::isdigit(static_cast<unsigned char>(file[p])) && digits < 10) {
            value = value * 10 + (file[p] - '0');
            ++p;
            ++digits;
        }
        if (digits > 0 && value <= INT_MAX && (p >= to || Delimiter(file[p])))
            return static_cast<int>(value);
    }
    return -1;
}

} // namespace

std::vector<PdfImageSize> ScanPdfImageSizes(const QByteArray& file, std::size_t limit)
{
    std::vector<PdfImageSize> sizes;
    const QByteArray image("/Image");
    for (qsizetype at = file.indexOf(image); at >= 0 && sizes.size() < limit; at = file.indexOf(image, at + 1)) {
        const qsizetype end = at + image.size();
        if (end < file.size() && !Delimiter(file[end]))
            continue; // /ImageB, /ImageMask and the like
        qsizetype before = at - 1;
        while (before >= 0 && std::isspace(static_cast<unsigned char>(file[before])))
            --before;
        const QByteArray subtype("/Subtype");
        if (before + 1 < subtype.size() || file.mid(before + 1 - subtype.size(), subtype.size()) != subtype)
            continue;
        // The dictionary: from its object's start to its stream's.
        qsizetype first = file.lastIndexOf("obj", at);
        if (first < 0 || at - first > kDictionaryReach)
            first = std::max<qsizetype>(0, at - kDictionaryReach);
        qsizetype last = file.indexOf("stream", at);
        if (last < 0 || last - at > kDictionaryReach)
            last = std::min(file.size(), at + kDictionaryReach);
        const int width = IntegerAfter(file, "/Width", first, last);
        const int height = IntegerAfter(file, "/Height", first, last);
        if (width > 0 && height > 0)
            sizes.push_back({width, height});
    }
    return sizes;
}
