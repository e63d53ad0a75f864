// The IMAP response parser on the shapes servers send (status responses
// with codes, data responses with nested lists, quoted strings, NIL, held
// and streamed literals), each fed whole and one byte at a time, and on
// input that breaks its limits.
#include "mail/imap_response_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A compact picture of a value: atoms bare, strings quoted, NIL, lists in
// parentheses, streamed bodies as <size>.
std::string Show(const TImapValue& v)
{
    switch (v.kind) {
    case TImapValue::Atom: return v.text;
    case TImapValue::String: return "\"" + v.text + "\"";
    case TImapValue::Nil: return "NIL";
    case TImapValue::StreamedLiteral: return "<" + std::to_string(v.size) + ">";
    case TImapValue::List: {
        std::string out = "(";
        for (const TImapValue& item : v.items)
            out += (out.size() > 1 ? " " : "") + Show(item);
        return out + ")";
    }
    }
    return {};
}

struct Parsed {
    std::vector<std::string> responses;
    std::string body;
    std::string error;
};

Parsed Parse(const std::string& input, std::size_t piece, const TImapResponseParser::Limits& limits = {})
{
    TImapResponseParser parser(limits);
    Parsed parsed;
    parser.OnResponse = [&](const TImapResponse& r) {
        std::string s = r.Tag;
        if (r.IsStatus())
            s += " " + r.Status + " [" + r.Code + "] " + r.Text;
        for (const TImapValue& v : r.Data)
            s += " " + Show(v);
        if (r.Tag == "+")
            s += " " + r.Text;
        parsed.responses.push_back(s);
    };
    parser.OnLiteralBegin = [&](std::uint64_t) { parsed.body += "{"; };
    parser.OnLiteralData = [&](const char* data, std::size_t n) { parsed.body.append(data, n); };
    parser.OnLiteralEnd = [&] { parsed.body += "}"; };
    for (std::size_t at = 0; at < input.size(); at += piece)
        parser.Feed(input.data() + at, std::min(piece, input.size() - at));
    parsed.error = parser.Error();
    return parsed;
}

TEST(ImapResponseParser, ResponseShapesWholeAndByteByByte)
{
    struct Case {
        std::string input;
        std::vector<std::string> responses;
        std::string body;
    };
    const Case cases[] = {
        {"* OK [CAPABILITY IMAP4rev1 IDLE] Dovecot ready.\r\n", {"* OK [CAPABILITY IMAP4rev1 IDLE] Dovecot ready."}, ""},
        {"P1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n",
         {"P1 NO [AUTHENTICATIONFAILED] Authentication failed."}, ""},
        {"* 3 EXISTS\r\n* SEARCH 2 9\r\n", {"* 3 EXISTS", "* SEARCH 2 9"}, ""},
        {"* FLAGS (\\Answered \\Flagged \\Deleted)\r\n", {"* FLAGS (\\Answered \\Flagged \\Deleted)"}, ""},
        // A body is streamed, other literals are held; UID may come after the body.
        {"* 1 FETCH (BODY[] {5}\r\nab\r\nc UID 4)\r\n", {"* 1 FETCH (BODY[] <5> UID 4)"}, "{ab\r\nc}"},
        {"* 1 FETCH (UID 4 BODY[]<0> {0}\r\n)\r\n", {"* 1 FETCH (UID 4 BODY[]<0> <0>)"}, "{}"},
        {"* 2 FETCH (BODY[HEADER.FIELDS (FROM SUBJECT)] {3}\r\nabc FLAGS (\\Seen))\r\n",
         {"* 2 FETCH (BODY[HEADER.FIELDS (FROM SUBJECT)] <3> FLAGS (\\Seen))"}, "{abc}"},
        {"* 5 FETCH (ENVELOPE (\"a \\\"q\\\"\" NIL ((NIL NIL {3}\r\nx)y \"h\"))))\r\n",
         {"* 5 FETCH (ENVELOPE (\"a \"q\"\" NIL ((NIL NIL \"x)y\" \"h\"))))"}, ""},
        {"+ idling\r\n", {"+ idling"}, ""},
        {"* BYE server shutting down\n", {"* BYE [] server shutting down"}, ""},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {c.input.size(), std::size_t(1)}) {
            SCOPED_TRACE(c.input + " in pieces of " + std::to_string(piece));
            const Parsed parsed = Parse(c.input, piece);
            EXPECT_EQ(parsed.error, "");
            EXPECT_EQ(parsed.responses, c.responses);
            EXPECT_EQ(parsed.body, c.body);
        }
    }
}

TEST(ImapResponseParser, HostileInputEndsInAClearErrorWithinTheLimits)
{
    TImapResponseParser::Limits limits;
    limits.maxText = 1000;
    limits.maxHeldLiteral = 100;
    limits.maxStreamedLiteral = 10000;
    limits.maxDepth = 4;
    struct Case {
        std::string input;
        std::string error;  // the start of the error
    };
    const Case cases[] = {
        {"* 1 FETCH (FLAGS (" + std::string(2000, 'x'), "response line longer than 1000 bytes"},
        {"* 1 FETCH (X {60}\r\n" + std::string(60, 'a') + " Y {60}\r\n" + std::string(60, 'a') + " " +
             std::string(1000, 'z') + ")\r\n",
         "response line longer than 1000 bytes"},
        {"* 1 FETCH (X {101}\r\n", "literal of 101 bytes is larger than the limit of 100"},
        {"* 1 FETCH (BODY[] {10001}\r\n", "message literal of 10001 bytes is larger than the limit of 10000"},
        {"* 1 FETCH (BODY[] {99999999999999999999}\r\n", "malformed response"},
        {"* LIST (((((x)))))\r\n", "lists nested deeper than 4"},
        {"* LIST (a \"open\r\n", "unterminated quoted string"},
        {"* LIST (a b\r\n", "unterminated list"},
        {"\r\n", "malformed response (no tag)"},
        {"P1 MAYBE fine\r\n", "malformed response (no status)"},
        {"* OK [ALERT never closed\r\n", "malformed response code"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 60));
        const Parsed parsed = Parse(c.input + "* OK after\r\n", 7, limits);
        EXPECT_EQ(parsed.error.substr(0, c.error.size()), c.error) << parsed.error;
        // Nothing after the failure is taken for a response.
        for (const std::string& r : parsed.responses)
            EXPECT_EQ(r.find("after"), std::string::npos);
    }
}

}  // namespace
