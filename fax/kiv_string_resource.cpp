#include "fax/kiv_string_resource.h"

#include "fax/kiv_errors.h"

#include <QFile>
#include <QtEndian>

#include <cstdint>
#include <cstring>

namespace {

constexpr int kHeaderSize = 8;
constexpr int kEntrySize = 12;

enum ManagerMessage { kStringNotFound = 1, kCannotLock = 2, kResourceNotFound = 3, kCannotOpen = 4, kInvalidResource = 5 };

uint32_t ReadU32(const char* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return qFromLittleEndian(v);
}

const QString kManagerResource = QStringLiteral("KIVSTRMGR_STRINGS");

// One of the manager's own messages with its argument filled in. While the
// manager's resource is itself being opened, the fixed texts stand in.
std::string ManagerMessageText(int key, const QString& argument, const QString& failing)
{
    static const char* const fixed[] = {"", "String not found: %d", "Cannot lock resource",
                                        "String resource not found: %s",
                                        "Unable to open string resource: %s", "Invalid string resource"};
    std::string text = failing == kManagerResource ? fixed[key] : KivManagerStrings().GetString(key);
    const std::size_t at = text.find('%');
    if (at != std::string::npos && at + 1 < text.size())
        text.replace(at, 2, argument.toLatin1().toStdString());
    return text;
}

[[noreturn]] void RaiseManagerError(int key, const QString& name)
{
    throw EKivStringResourceError(ManagerMessageText(key, name, name));
}

} // namespace

TKivStringResource::TKivStringResource(const QString& module, const QString& name) : name_(name)
{
    QFile file(module + QLatin1Char('/') + name);
    if (!file.exists())
        RaiseManagerError(kResourceNotFound, name);
    if (!file.open(QIODevice::ReadOnly))
        RaiseManagerError(kCannotOpen, name);
    data_ = file.readAll();
    if (data_.isNull())
        RaiseManagerError(kCannotLock, name);
    bool valid = data_.size() >= kHeaderSize && data_.startsWith("STR0");
    if (valid) {
        const qint64 count = ReadU32(data_.constData() + 4);
        valid = count <= (data_.size() - kHeaderSize) / kEntrySize;
    }
    if (!valid)
        RaiseManagerError(kInvalidResource, name);
}

std::string TKivStringResource::GetString(int key) const
{
    const char* base = data_.constData();
    const qint64 size = data_.size();
    qint64 low = 0;
    qint64 high = static_cast<qint64>(ReadU32(base + 4)) - 1;
    while (low <= high) {
        const qint64 mid = (low + high) / 2;
        const char* entry = base + kHeaderSize + mid * kEntrySize;
        const int32_t entryKey = static_cast<int32_t>(ReadU32(entry));
        if (entryKey < key) {
            low = mid + 1;
        } else if (entryKey > key) {
            high = mid - 1;
        } else {
            const qint64 offset = ReadU32(entry + 4);
            const qint64 units = ReadU32(entry + 8);
            if (offset > size || units > (size - offset) / 2)
                break; // text outside the resource: treat as missing
            QString text(units, Qt::Uninitialized);
            for (qint64 i = 0; i < units; ++i) {
                const auto* p = reinterpret_cast<const uchar*>(base + offset + 2 * i);
                text[i] = QChar(static_cast<char16_t>(p[0] | (p[1] << 8)));
            }
            return text.toLatin1().toStdString();
        }
    }
    if (raiseOnMissing_)
        throw EKivStringResourceError(ManagerMessageText(kStringNotFound, QString::number(key), name_));
    return {};
}

const TKivStringResource& KivErrorStrings()
{
    static const TKivStringResource strings(QStringLiteral(":/kiv"), QStringLiteral("ORVO_ERROR_STRINGS_ENGLISH"));
    return strings;
}

const TKivStringResource& KivManagerStrings()
{
    static const TKivStringResource strings(QStringLiteral(":/kiv"), kManagerResource);
    return strings;
}
