#include "mail/mime_fields.h"

#include <map>

namespace {

char LowerChar(char ch)
{
    return (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
}

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

bool EndsToken(char ch)
{
    return ch == '\0' || IsBlank(ch) || ch == ':' || ch == ';' || ch == '=';
}

} // namespace

std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& ch : lower)
        ch = LowerChar(ch);
    return lower;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

TFieldCursor::TFieldCursor(std::string_view line)
    : line_(line.substr(0, line.find('\0')))
{
}

void TFieldCursor::SkipBlanks()
{
    while (pos_ < line_.size() && IsBlank(line_[pos_]))
        ++pos_;
}

std::string TFieldCursor::Token()
{
    const size_t begin = pos_;
    while (pos_ < line_.size() && !EndsToken(line_[pos_]))
        ++pos_;
    return LowerAscii(line_.substr(begin, pos_ - begin));
}

char TFieldCursor::Peek() const
{
    return pos_ < line_.size() ? line_[pos_] : '\0';
}

void TFieldCursor::Advance()
{
    if (pos_ < line_.size())
        ++pos_;
}

bool TFieldCursor::AtEnd() const
{
    return pos_ >= line_.size();
}

std::string TFieldCursor::Rest() const
{
    return std::string(line_.substr(pos_));
}

std::string TFieldCursor::TakeRest()
{
    std::string rest = Rest();
    pos_ = line_.size();
    return rest;
}

std::string TFieldCursor::QuotedOr(std::string (TFieldCursor::*unquoted)())
{
    if (Peek() != '"')
        return (this->*unquoted)();
    const size_t begin = pos_ + 1;
    size_t close = line_.find('"', begin);
    if (close == std::string_view::npos)
        close = line_.size();
    pos_ = close < line_.size() ? close + 1 : close;
    return std::string(line_.substr(begin, close - begin));
}

bool TFieldCursor::NextParameter()
{
    while (pos_ < line_.size() && line_[pos_] != ';')
        ++pos_;
    if (pos_ >= line_.size())
        return false;
    ++pos_;
    SkipBlanks();
    return true;
}

bool ReadFieldName(std::string_view line, std::string& name, TFieldCursor& value)
{
    value = TFieldCursor(line);
    value.SkipBlanks();
    name = value.Token();
    if (value.Peek() != ':')
        return false;
    value.Advance();
    value.SkipBlanks();
    return true;
}

namespace {

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// %XX escapes turned into bytes; a "%" not followed by two hex digits stays.
std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += char(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// charset'language'text: the charset (lower case) and the decoded text. A
// value without both quote marks is taken as text alone.
void DecodeExtended(std::string_view raw, std::string& charset, std::string& text)
{
    const size_t first = raw.find('\'');
    const size_t second = first == std::string_view::npos ? first : raw.find('\'', first + 1);
    if (second == std::string_view::npos) {
        text += PercentDecode(raw);
        return;
    }
    charset = LowerAscii(raw.substr(0, first));
    text += PercentDecode(raw.substr(second + 1));
}

// One "attribute=value" of the list behind the field's first token.
struct TRawParameter {
    std::string attribute; // lower case
    std::string value;     // unquoted
};

// Reads the parameter at pos (blanks already skipped); pos ends behind its ";".
bool ReadParameter(std::string_view text, size_t& pos, TRawParameter& out)
{
    const size_t begin = pos;
    while (pos < text.size() && text[pos] != '=' && text[pos] != ';')
        ++pos;
    std::string_view attribute = text.substr(begin, pos - begin);
    while (!attribute.empty() && IsBlank(attribute.back()))
        attribute.remove_suffix(1);
    const bool valued = pos < text.size() && text[pos] == '=';
    out.attribute = LowerAscii(attribute);
    out.value.clear();
    if (valued) {
        ++pos;
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
        if (pos < text.size() && text[pos] == '"') {
            // A quoted string; a backslash quotes the next character.
            for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
                if (text[pos] == '\\' && pos + 1 < text.size())
                    ++pos;
                out.value += text[pos];
            }
        } else {
            const size_t start = pos;
            while (pos < text.size() && text[pos] != ';')
                ++pos;
            std::string_view token = text.substr(start, pos - start);
            while (!token.empty() && IsBlank(token.back()))
                token.remove_suffix(1);
            out.value = std::string(token);
        }
    }
    while (pos < text.size() && text[pos] != ';')
        ++pos;
    if (pos < text.size())
        ++pos;
    return valued;
}

// "*3" or "*3*" behind the name: the section number and whether it is encoded.
bool SectionNumber(std::string_view suffix, int& number, bool& encoded)
{
    if (suffix.size() < 2 || suffix[0] != '*')
        return false;
    suffix.remove_prefix(1);
    encoded = suffix.back() == '*';
    if (encoded)
        suffix.remove_suffix(1);
    if (suffix.empty() || suffix.size() > 3 || (suffix.size() > 1 && suffix[0] == '0'))
        return false;
    number = 0;
    for (char ch : suffix) {
        if (ch < '0' || ch > '9')
            return false;
        number = number * 10 + (ch - '0');
    }
    return true;
}

} // namespace

TParameterValue FindParameter(std::string_view fieldValue, std::string_view name)
{
    const std::string_view text = fieldValue.substr(0, fieldValue.find('\0'));
    const std::string wanted = LowerAscii(name);
    TParameterValue plain, extended;
    std::map<int, std::pair<bool, std::string>> sections;

    // Parameters begin behind the first ";" outside a quoted string.
    size_t pos = 0;
    for (bool quoted = false; pos < text.size() && (quoted || text[pos] != ';'); ++pos)
        if (text[pos] == '"')
            quoted = !quoted;
    if (pos < text.size())
        ++pos;
    TRawParameter p;
    while (pos < text.size()) {
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
        if (!ReadParameter(text, pos, p) || !p.attribute.starts_with(wanted))
            continue;
        const std::string_view suffix = std::string_view(p.attribute).substr(wanted.size());
        int number = 0;
        bool encoded = false;
        if (suffix.empty()) {
            if (!plain.found)
                plain = {true, p.value, {}};
        } else if (suffix == "*") {
            if (!extended.found) {
                extended.found = true;
                DecodeExtended(p.value, extended.charset, extended.value);
            }
        } else if (SectionNumber(suffix, number, encoded)) {
            sections.emplace(number, std::make_pair(encoded, p.value));
        }
    }
    if (extended.found)
        return extended;
    if (sections.count(0)) {
        TParameterValue joined{true, {}, {}};
        int next = 0;
        for (const auto& [number, section] : sections) {
            if (number != next++)
                break; // a missing section ends the value
            const auto& [encoded, raw] = section;
            if (!encoded)
                joined.value += raw;
            else if (number == 0)
                DecodeExtended(raw, joined.charset, joined.value);
            else
                joined.value += PercentDecode(raw);
        }
        return joined;
    }
    return plain;
}
