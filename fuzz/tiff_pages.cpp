// TIFF faxes arrive by mail from any sender: counting and rendering their
// pages, with the aspect and whitespace rules applied, either succeeds or
// throws the fax component's own errors, within the bounds a page may take.
#include "fax/fax_unpacker.h"
#include "fax/kiv_errors.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// Pages rendered per input: the bounds hold per page, and more pages only
// slow the fuzzer down.
constexpr int kPagesTried = 4;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.tiff"));
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
        const int pages = std::min(unpacker.PageCount(), kPagesTried);
        for (int page = 1; page <= pages; ++page)
            unpacker.UnpackPage(page);
    } catch (const EKIVException&) {
    } catch (const EInOutError&) {
    }
    return 0;
}
