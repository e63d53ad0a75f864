#include "mail/imap_response_parser.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kShownLine = 200;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Walks the text pieces of one response; at the end of every piece but the
// last, the literal that followed it is the next value.
class ResponseReader {
public:
    ResponseReader(const std::vector<std::string>& pieces, const std::vector<TImapValue>& literals, int maxDepth)
        : pieces_(pieces), literals_(literals), maxDepth_(maxDepth)
    {
    }

    const std::string& Error() const { return error_; }

    void SkipSpaces()
    {
        while (piece_ < pieces_.size() && pos_ < pieces_[piece_].size() && pieces_[piece_][pos_] == ' ')
            ++pos_;
    }
    bool AtEnd() const { return piece_ + 1 >= pieces_.size() && pos_ >= pieces_[piece_].size(); }
    bool AtLiteral() const { return piece_ + 1 < pieces_.size() && pos_ >= pieces_[piece_].size(); }
    char Peek() const { return pos_ < pieces_[piece_].size() ? pieces_[piece_][pos_] : '\0'; }

    // The rest of the current piece (status and continuation texts hold no literals).
    std::string Rest()
    {
        std::string rest = pieces_[piece_].substr(std::min(pos_, pieces_[piece_].size()));
        pos_ = pieces_[piece_].size();
        return rest;
    }

    // A token up to the next blank (the tag, the status word).
    std::string Word()
    {
        const std::string& s = pieces_[piece_];
        const std::size_t start = pos_;
        while (pos_ < s.size() && s[pos_] != ' ')
            ++pos_;
        return s.substr(start, pos_ - start);
    }

    bool Value(TImapValue& value, int depth)
    {
        SkipSpaces();
        if (AtLiteral()) {
            value = literals_[piece_];
            ++piece_;
            pos_ = 0;
            return true;
        }
        const char c = Peek();
        if (c == '(')
            return ListValue(value, depth);
        if (c == '"')
            return Quoted(value);
        if (c == '\0' || c == ')' || c == '{')
            return Fail("malformed response");
        return AtomValue(value);
    }

private:
    bool Fail(const std::string& why)
    {
        if (error_.empty())
            error_ = why;
        return false;
    }

    bool ListValue(TImapValue& value, int depth)
    {
        if (depth >= maxDepth_)
            return Fail("lists nested deeper than " + std::to_string(maxDepth_));
        ++pos_;
        value.kind = TImapValue::List;
        for (;;) {
            SkipSpaces();
            if (!AtLiteral() && Peek() == ')') {
                ++pos_;
                return true;
            }
            if (AtEnd())
                return Fail("unterminated list");
            TImapValue item;
            if (!Value(item, depth + 1))
                return false;
            value.items.push_back(std::move(item));
        }
    }

    bool Quoted(TImapValue& value)
    {
        const std::string& s = pieces_[piece_];
        value.kind = TImapValue::String;
        for (++pos_; pos_ < s.size(); ++pos_) {
            char c = s[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c == '\\') {
                if (++pos_ >= s.size())
                    break;
                c = s[pos_];
            }
            value.text += c;
        }
        return Fail("unterminated quoted string");
    }

    // An atom; a "[...]" section inside it (BODY[HEADER.FIELDS (FROM)])
    // may hold blanks and parentheses.
    bool AtomValue(TImapValue& value)
    {
        const std::string& s = pieces_[piece_];
        const std::size_t start = pos_;
        int brackets = 0;
        while (pos_ < s.size()) {
            const char c = s[pos_];
            if (c == '[')
                ++brackets;
            else if (c == ']' && brackets > 0)
                --brackets;
            else if (brackets == 0 && (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{'))
                break;
            ++pos_;
        }
        if (brackets > 0)
            return Fail("unterminated [ in an atom");
        value.text = s.substr(start, pos_ - start);
        value.kind = ImapUpper(value.text) == "NIL" ? TImapValue::Nil : TImapValue::Atom;
        if (value.kind == TImapValue::Nil)
            value.text.clear();
        return true;
    }

    const std::vector<std::string>& pieces_;
    const std::vector<TImapValue>& literals_;
    int maxDepth_;
    std::size_t piece_ = 0, pos_ = 0;
    std::string error_;
};

bool IsStatusWord(const std::string& word)
{
    return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH";
}

}  // namespace

std::string ImapUpper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string TImapResponse::AtomAt(std::size_t index) const
{
    return index < Data.size() && Data[index].kind == TImapValue::Atom ? ImapUpper(Data[index].text) : std::string();
}

const TImapValue* ImapItem(const TImapValue& list, const std::string& name)
{
    const std::string wanted = ImapUpper(name);
    for (std::size_t i = 0; i + 1 < list.items.size(); i += 2)
        if (list.items[i].kind == TImapValue::Atom && ImapUpper(list.items[i].text) == wanted)
            return &list.items[i + 1];
    return nullptr;
}

TImapResponseParser::TImapResponseParser() : TImapResponseParser(Limits{}) {}

TImapResponseParser::TImapResponseParser(const Limits& limits) : limits_(limits) {}

void TImapResponseParser::Reset()
{
    pending_.clear();
    pieces_.clear();
    literals_.clear();
    textSize_ = 0;
    heldSize_ = 0;
    literalLeft_ = 0;
    streaming_ = false;
    error_.clear();
}

void TImapResponseParser::Fail(const std::string& why)
{
    if (error_.empty())
        error_ = why;
}

bool TImapResponseParser::Feed(const char* data, std::size_t length)
{
    while (length > 0 && !Failed()) {
        if (literalLeft_ > 0) {
            TakeLiteralBytes(data, length);
            continue;
        }
        // Only the new bytes are searched for the line end, so a long line
        // arriving in small pieces costs no more than its length.
        const void* lf = std::memchr(data, '\n', length);
        const std::size_t take = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1 : length;
        if (textSize_ + pending_.size() + take > limits_.maxText + 2) {
            Fail("response line longer than " + std::to_string(limits_.maxText) + " bytes");
            break;
        }
        pending_.append(data, take);
        data += take;
        length -= take;
        if (lf)
            TakeLine();
    }
    return !Failed();
}

bool TImapResponseParser::LineEndsInLiteral(const std::string& line, std::uint64_t& size) const
{
    if (line.empty() || line.back() != '}')
        return false;
    std::size_t end = line.size() - 1;
    if (end > 0 && line[end - 1] == '+')
        --end;  // a non-synchronizing literal
    std::size_t start = end;
    while (start > 0 && IsDigit(line[start - 1]))
        --start;
    if (start == end || start == 0 || line[start - 1] != '{' || end - start > 19)
        return false;
    size = 0;
    for (std::size_t i = start; i < end; ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(line[i] - '0');
        if (size > (UINT64_MAX - digit) / 10)
            return false;
        size = size * 10 + digit;
    }
    return true;
}

// A literal is a message body when the item before it names one:
// BODY[...], BINARY[...] (with an optional <origin>) or RFC822.
bool TImapResponseParser::LiteralIsBody(const std::string& textBefore) const
{
    std::size_t end = textBefore.size();
    while (end > 0 && textBefore[end - 1] == ' ')
        --end;
    std::size_t i = end;
    if (i > 0 && textBefore[i - 1] == '>')
        while (i > 0 && textBefore[i - 1] != '<')
            --i;
    if (i > 0 && textBefore[i - 1] == '<')
        --i;
    std::size_t stop = i;
    if (stop > 0 && textBefore[stop - 1] == ']') {
        int depth = 0;
        while (stop > 0) {
            const char c = textBefore[--stop];
            if (c == ']')
                ++depth;
            else if (c == '[' && --depth == 0)
                break;
        }
    }
    std::size_t start = stop;
    while (start > 0 && textBefore[start - 1] != ' ' && textBefore[start - 1] != '(')
        --start;
    const std::string item = ImapUpper(textBefore.substr(start, end - start));
    return item.rfind("BODY[", 0) == 0 || item.rfind("BINARY[", 0) == 0 || item == "RFC822";
}

void TImapResponseParser::TakeLine()
{
    std::string line;
    line.swap(pending_);
    line.pop_back();  // LF
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::uint64_t size = 0;
    if (!LineEndsInLiteral(line, size)) {
        textSize_ += line.size();
        pieces_.push_back(std::move(line));
        Complete();
        return;
    }
    const std::size_t brace = line.rfind('{');
    std::string before = line.substr(0, brace);
    const bool body = LiteralIsBody(before);
    textSize_ += line.size();
    pieces_.push_back(std::move(before));
    if (body) {
        if (size > limits_.maxStreamedLiteral)
            return Fail("message literal of " + std::to_string(size) + " bytes is larger than the limit of " +
                        std::to_string(limits_.maxStreamedLiteral));
        literals_.push_back({TImapValue::StreamedLiteral, {}, {}, size});
        streaming_ = true;
        literalLeft_ = size;
        if (OnLiteralBegin)
            OnLiteralBegin(size);
        if (size == 0) {
            streaming_ = false;
            if (OnLiteralEnd)
                OnLiteralEnd();
        }
        return;
    }
    if (size > limits_.maxHeldLiteral || heldSize_ + size > 4 * static_cast<std::uint64_t>(limits_.maxHeldLiteral))
        return Fail("literal of " + std::to_string(size) + " bytes is larger than the limit of " +
                    std::to_string(limits_.maxHeldLiteral));
    heldSize_ += size;
    literals_.push_back({TImapValue::String, {}, {}, size});
    literalLeft_ = size;
}

void TImapResponseParser::TakeLiteralBytes(const char*& data, std::size_t& length)
{
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(literalLeft_, length));
    if (streaming_) {
        if (OnLiteralData)
            OnLiteralData(data, n);
    } else {
        literals_.back().text.append(data, n);
    }
    data += n;
    length -= n;
    literalLeft_ -= n;
    if (literalLeft_ == 0 && streaming_) {
        streaming_ = false;
        if (OnLiteralEnd)
            OnLiteralEnd();
    }
}

void TImapResponseParser::Complete()
{
    TImapResponse response;
    ParseResponse(response);
    pieces_.clear();
    literals_.clear();
    textSize_ = 0;
    heldSize_ = 0;
    if (!Failed() && OnResponse)
        OnResponse(response);
}

void TImapResponseParser::ParseResponse(TImapResponse& response)
{
    response.Line = pieces_.front().substr(0, kShownLine);
    if (pieces_.front().size() > kShownLine)
        response.Line += "...";
    ResponseReader reader(pieces_, literals_, limits_.maxDepth);
    response.Tag = reader.Word();
    const bool tagOk = !response.Tag.empty() &&
                       std::none_of(response.Tag.begin(), response.Tag.end(), [](char c) {
                           return c < '!' || c > '~' || c == '(' || c == ')' || c == '{' || c == '"' || c == '\\';
                       });
    if (!tagOk)
        return Fail("malformed response (no tag): " + response.Line);
    if (response.Tag == "+") {
        reader.SkipSpaces();
        response.Text = reader.Rest();
        return;
    }
    reader.SkipSpaces();
    const std::string word = ImapUpper(reader.Peek() == '(' ? std::string() : reader.Word());
    if (response.Tag != "*" || IsStatusWord(word)) {
        if (!IsStatusWord(word))
            return Fail("malformed response (no status): " + response.Line);
        response.Status = word;
        reader.SkipSpaces();
        std::string rest = reader.Rest();
        if (!rest.empty() && rest.front() == '[') {
            const std::size_t close = rest.find(']');
            if (close == std::string::npos)
                return Fail("malformed response code: " + response.Line);
            response.Code = rest.substr(1, close - 1);
            rest.erase(0, close + 1);
            if (!rest.empty() && rest.front() == ' ')
                rest.erase(0, 1);
        }
        response.Text = rest;
        return;
    }
    // An untagged data response: its first word (a number or a name) was read already.
    if (!word.empty())
        response.Data.push_back({TImapValue::Atom, word, {}, 0});
    reader.SkipSpaces();
    while (!reader.AtEnd()) {
        TImapValue value;
        if (!reader.Value(value, 0))
            return Fail(reader.Error() + ": " + response.Line);
        response.Data.push_back(std::move(value));
        reader.SkipSpaces();
    }
    if (response.Data.empty())
        Fail("malformed response (empty): " + response.Line);
}
