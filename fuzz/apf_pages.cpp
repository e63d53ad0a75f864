// Fax files arrive by mail from any sender: counting and decoding every page
// of any bytes either succeeds or throws the fax component's own errors.
#include "fax/fax_unpacker.h"
#include "fax/kiv_errors.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.apf"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    TKivFaxUnpacker unpacker;
    try {
        unpacker.SetInFileName(path);
        const int pages = unpacker.PageCount();
        for (int page = 1; page <= pages; ++page)
            unpacker.UnpackPage(page);
    } catch (const EKIVException&) {
    } catch (const EInOutError&) {
    }
    return 0;
}
