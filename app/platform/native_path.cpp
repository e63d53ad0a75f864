#include "app/platform/native_path.h"

#include <string>

QString NativePath(const QString& dataPath)
{
    QString path = dataPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

QString SafeFileName(const std::string& name)
{
    static const char* hex = "0123456789ABCDEF";
    QString out;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool unsafe = c < 0x20 || c >= 0x7F || c == '/' || c == '\\' || c == '%' || (i == 0 && c == '.');
        if (unsafe) {
            out += QLatin1Char('%');
            out += QLatin1Char(hex[c >> 4]);
            out += QLatin1Char(hex[c & 15]);
        } else {
            out += QLatin1Char(static_cast<char>(c));
        }
    }
    return out;
}
