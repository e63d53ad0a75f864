#include "mail/mime_fields.h"

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
