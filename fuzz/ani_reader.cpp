// Animated icons are files a user may replace: loading any bytes either
// succeeds or reports failure, without reading or writing out of bounds.
#include "app/ui/ani_file.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TAniFile ani;
    ani.LoadFromData(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
