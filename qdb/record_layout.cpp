#include "qdb/record_layout.h"

#include <cstdio>

namespace qdb {

int32_t TByteReader::ReadInt32()
{
    const std::string_view raw = ReadBytes(4);
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(raw[i]);
    return static_cast<int32_t>(value);
}

std::string_view TByteReader::ReadBytes(size_t count)
{
    if (count > bytes_.size() - position_)
        throw EReadError();
    const std::string_view part = bytes_.substr(position_, count);
    position_ += count;
    return part;
}

std::string_view TByteReader::Rest()
{
    const std::string_view part = bytes_.substr(position_);
    position_ = bytes_.size();
    return part;
}

void AppendInt32(std::string& out, int32_t value)
{
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

std::string EncodeRecord(const std::vector<std::string>& values)
{
    std::string record;
    for (const std::string& value : values) {
        AppendInt32(record, static_cast<int32_t>(value.size()));
        record += value;
    }
    return record;
}

std::vector<std::string> DecodeRecord(std::string_view record, size_t fieldCount)
{
    TByteReader reader(record);
    std::vector<std::string> values(fieldCount);
    for (std::string& value : values) {
        const int32_t length = reader.ReadInt32();
        if (length > 0)
            value = std::string(reader.ReadBytes(static_cast<size_t>(length)));
    }
    return values;
}

bool IsWholeRecord(std::string_view record, size_t fieldCount)
{
    TByteReader reader(record);
    try {
        for (size_t i = 0; i < fieldCount; ++i) {
            const int32_t length = reader.ReadInt32();
            if (length < 0)
                return false;
            reader.ReadBytes(static_cast<size_t>(length));
        }
    } catch (const EReadError&) {
        return false;
    }
    return reader.AtEnd();
}

std::string LayoutKey(int32_t fieldNumber)
{
    char text[24];
    std::snprintf(text, sizeof text, "%s%.4d", kLayoutPrefix, static_cast<int>(fieldNumber));
    return text;
}

std::string LayoutDescriptor(uint8_t kind, const std::string& controlName, const std::string& className)
{
    std::string text(1, static_cast<char>(kind));
    text += '.';
    text += controlName;
    text += '.';
    text += className;
    return text;
}

} // namespace qdb
