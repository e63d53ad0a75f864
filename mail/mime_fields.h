#pragma once
// Reading the fields of mail header lines: field names, tokens and parameter
// values, the way the MIME decoder needs them. Every function stops at the end
// of the text or at a NUL byte.
#include <string>
#include <string_view>

std::string LowerAscii(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EqualsNoCase(std::string_view a, std::string_view b);

// A read position in one header line.
class TFieldCursor {
public:
    explicit TFieldCursor(std::string_view line);

    void SkipBlanks();
    // Characters up to NUL, TAB, space, ":", ";" or "=", in lower case.
    std::string Token();
    // The character at the cursor, NUL at the end.
    char Peek() const;
    void Advance();
    bool AtEnd() const;
    // The rest of the line, unchanged.
    std::string Rest() const;
    // A value in double quotes (without them; an unclosed quote runs to the end
    // of the line), or, unquoted, whatever unquoted() reads.
    std::string QuotedOr(std::string (TFieldCursor::*unquoted)());
    std::string TakeRest();

    // Moves to the next ";" and past it and the blanks behind it; false when
    // the line holds no further parameter.
    bool NextParameter();

private:
    std::string_view line_;
    size_t pos_ = 0;
};

// A header line's field name (leading blanks skipped, lower case) and the
// cursor behind the ":" and its blanks. Returns false when the name does not
// end in ":".
bool ReadFieldName(std::string_view line, std::string& name, TFieldCursor& value);

// One parameter of a header field ("attachment; filename=fax.apf") as
// RFC 2045 and RFC 2231 write it: name=token, name="quoted", the extended
// form name*=charset'language'%XX, or sections name*0=, name*1*=, ... that
// are joined in order (sections ending in "*" are percent-encoded; the
// charset is that of section 0). An extended or sectioned value wins over a
// plain one of the same name, which older readers are given as a fallback.
struct TParameterValue {
    bool found = false;
    std::string value;   // the bytes of the value, decoded
    std::string charset; // lower case; empty for a plain value
};
// fieldValue is the text after the field's ":" (its first token included).
TParameterValue FindParameter(std::string_view fieldValue, std::string_view name);
