#pragma once
// Incremental parser of IMAP server responses. Bytes go in as they arrive,
// in pieces of any size; every complete response comes out through
// OnResponse, tagged, untagged or a continuation request, whenever the
// server sends it.
//
// A response is one line, or several when literals ({n} CR LF and n bytes)
// sit inside it. The message body of a FETCH (the literal behind BODY[...],
// BINARY[...] or RFC822) is not held: its bytes go to the literal events as
// they arrive, so a mail of any size costs only the receive buffer. Any
// other literal is held in the response.
//
// Hostile input is bounded: the text of a response outside its literals,
// a held literal, a streamed literal and the nesting of lists each have a
// limit, and a response that breaks one (or is malformed) ends the parse
// with Error(). After an error the stream cannot be followed any further;
// Reset starts afresh (after STARTTLS, say).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TImapValue {
    enum Kind { Atom, String, Nil, List, StreamedLiteral };
    Kind kind = Atom;
    std::string text;               // Atom, String (quoted or literal)
    std::vector<TImapValue> items;  // List
    std::uint64_t size = 0;         // StreamedLiteral: its length
};

struct TImapResponse {
    std::string Tag;     // "*" untagged, "+" continuation request, else the command's tag
    std::string Status;  // OK, NO, BAD, BYE or PREAUTH (upper case) for a status response
    std::string Code;    // a status response's [code], without brackets
    std::string Text;    // a status response's or continuation's text
    std::vector<TImapValue> Data;  // the values of a data response ("5", "FETCH", (...))
    std::string Line;    // the response's first line, shortened, for the log

    bool IsStatus() const { return !Status.empty(); }
    // Data[index] as upper-case atom text, or "" when it is not an atom.
    std::string AtomAt(std::size_t index) const;
};

// The value behind the name (an atom, compared without regard to case) in
// a list of name-value pairs such as a FETCH response's; nullptr when absent.
const TImapValue* ImapItem(const TImapValue& list, const std::string& name);
// "ABC" for "abc".
std::string ImapUpper(std::string text);

class TImapResponseParser {
public:
    struct Limits {
        std::size_t maxText = 1024 * 1024;             // of a response outside its literals
        std::size_t maxHeldLiteral = 1024 * 1024;      // of a literal that is held
        std::uint64_t maxStreamedLiteral = 1ull << 30;  // of a message body
        int maxDepth = 32;                             // of nested lists
    };

    TImapResponseParser();
    explicit TImapResponseParser(const Limits& limits);

    // Parses the bytes; false once the stream has failed (see Error). The
    // events run from inside Feed.
    bool Feed(const char* data, std::size_t length);
    void Reset();
    void SetLimits(const Limits& limits) { limits_ = limits; }
    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }
    // True while a streamed literal is being received.
    bool InLiteral() const { return literalLeft_ > 0 || streaming_; }

    std::function<void(const TImapResponse&)> OnResponse;
    // A message body begins (size bytes), continues, and has ended; the
    // response it belongs to follows through OnResponse.
    std::function<void(std::uint64_t size)> OnLiteralBegin;
    std::function<void(const char* data, std::size_t length)> OnLiteralData;
    std::function<void()> OnLiteralEnd;

private:
    void Fail(const std::string& why);
    void TakeLine();  // the complete line in pending_
    bool LineEndsInLiteral(const std::string& line, std::uint64_t& size) const;
    bool LiteralIsBody(const std::string& textBefore) const;
    void TakeLiteralBytes(const char*& data, std::size_t& length);
    void Complete();
    void ParseResponse(TImapResponse& response);

    Limits limits_;
    std::string pending_;  // bytes of the current line not yet complete
    // The response so far: its text pieces and, after each but the last, a literal.
    std::vector<std::string> pieces_;
    std::vector<TImapValue> literals_;  // held strings and streamed bodies
    std::size_t textSize_ = 0;
    std::uint64_t heldSize_ = 0;
    std::uint64_t literalLeft_ = 0;
    bool streaming_ = false;
    std::string error_;
};
