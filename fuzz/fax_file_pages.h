// The driver that the TIFF and PDF fuzz targets share: the fax document is
// chosen by content, so only the temporary file's suffix differs between them.
// Counting and rendering the pages of any bytes, with the aspect and
// whitespace rules applied, either succeeds or throws the fax component's own
// errors, within the bounds a page may take.
#pragma once

#include "fax/fax_unpacker.h"
#include "fax/kiv_errors.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>

// Pages rendered per input: the bounds hold per page, and more pages only
// slow the fuzzer down.
inline constexpr int kFuzzPagesTried = 4;

inline int FuzzFaxFilePages(const uint8_t* data, size_t size, const char* fileName)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(fileName));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    TKivFaxUnpacker unpacker;
    unpacker.SetOptions(0);
    unpacker.SetWhitespaceCompression(size % 2 == 0);
    unpacker.SetWhitespaceFrom(8);
    unpacker.SetWhitespaceTo(2);
    unpacker.SetAutoScaleMode(size % 3 == 0 ? asHalfWidth : asDoubleHeight);
    try {
        unpacker.SetInFileName(path);
        const int pages = std::min(unpacker.PageCount(), kFuzzPagesTried);
        for (int page = 1; page <= pages; ++page)
            unpacker.UnpackPage(page);
    } catch (const EKIVException&) {
    } catch (const EInOutError&) {
    }
    return 0;
}
