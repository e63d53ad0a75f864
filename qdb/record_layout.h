#pragma once
// The stored form of a record and of its layout descriptors.
//
// A record is, for each field in order, a 32-bit little-endian signed length
// followed by that many bytes; there is no count and no terminator. The
// layout of a record is kept as administrative items "QF.0000", "QF.0001", ...
// whose text is the field's kind byte, ".", the control's name, ".", and the
// control's class name.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qdb {

// Reading past the end of a record or of a field value.
class EReadError : public std::runtime_error {
public:
    EReadError() : std::runtime_error("Stream read error") {}
};

// Reads little-endian values from a byte string; running out raises EReadError.
class TByteReader {
public:
    explicit TByteReader(std::string_view bytes) : bytes_(bytes) {}

    int32_t ReadInt32();
    std::string_view ReadBytes(size_t count);
    std::string_view Rest();
    bool AtEnd() const { return position_ == bytes_.size(); }

private:
    std::string_view bytes_;
    size_t position_ = 0;
};

void AppendInt32(std::string& out, int32_t value);

// Concatenates the field values, each behind its length.
std::string EncodeRecord(const std::vector<std::string>& values);

// Splits a record into exactly `fieldCount` values. A length of zero or less
// gives an empty value; a record shorter than its lengths say raises
// EReadError. Bytes after the last field are ignored.
std::vector<std::string> DecodeRecord(std::string_view record, size_t fieldCount);

// True when the record is exactly `fieldCount` fields, each a length of
// zero or more and that many bytes, as storing fields writes it. Bytes that
// hold no such record (zeros where a copy caught a half-written file, or a
// block of another item) are damage, not a record of empty fields.
bool IsWholeRecord(std::string_view record, size_t fieldCount);

// "QF." followed by the field number as at least four digits.
std::string LayoutKey(int32_t fieldNumber);

// The descriptor text of one field (the terminating zero byte is added when
// it is stored).
std::string LayoutDescriptor(uint8_t kind, const std::string& controlName, const std::string& className);

// Every layout key starts with this.
inline constexpr const char* kLayoutPrefix = "QF.";

} // namespace qdb
