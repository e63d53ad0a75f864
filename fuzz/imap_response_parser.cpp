// A mail server, or anything posing as one, can send anything: the IMAP
// response parser takes the fuzz bytes once whole and once in pieces whose
// sizes the first byte chooses, with small limits so that every limit is
// reached. Both ways must end alike (the same responses, body bytes and
// error), and nothing may be held beyond the limits.
#include "mail/imap_response_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct Outcome {
    std::string responses;  // tags, statuses and data shapes, in order
    std::uint64_t bodyBytes = 0;
    std::string error;
};

void Describe(const TImapValue& value, std::string& out)
{
    out += static_cast<char>('0' + value.kind);
    out += value.text;
    if (value.kind == TImapValue::List) {
        out += '(';
        for (const TImapValue& item : value.items)
            Describe(item, out);
        out += ')';
    }
}

Outcome Parse(const std::uint8_t* data, std::size_t size, std::size_t piece)
{
    TImapResponseParser::Limits limits;
    limits.maxText = 4096;
    limits.maxHeldLiteral = 512;
    limits.maxStreamedLiteral = 1 << 20;
    limits.maxDepth = 8;
    TImapResponseParser parser(limits);
    Outcome outcome;
    std::uint64_t announced = 0, streamed = 0;
    bool open = false;
    parser.OnResponse = [&](const TImapResponse& r) {
        outcome.responses += r.Tag + '|' + r.Status + '|' + r.Code + '|' + r.Text + '|';
        for (const TImapValue& v : r.Data)
            Describe(v, outcome.responses);
        outcome.responses += '\n';
    };
    parser.OnLiteralBegin = [&](std::uint64_t n) {
        if (open || n > limits.maxStreamedLiteral)
            std::abort();
        open = true;
        announced = n;
        streamed = 0;
    };
    parser.OnLiteralData = [&](const char*, std::size_t n) {
        streamed += n;
        if (!open || streamed > announced)
            std::abort();
        outcome.bodyBytes += n;
    };
    parser.OnLiteralEnd = [&] {
        if (!open || streamed != announced)
            std::abort();
        open = false;
    };
    const char* bytes = reinterpret_cast<const char*>(data);
    for (std::size_t at = 0; at < size && !parser.Failed(); at += piece)
        parser.Feed(bytes + at, std::min(piece, size - at));
    outcome.error = parser.Error();
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 17;
    const Outcome whole = Parse(data + 1, size - 1, size);
    const Outcome split = Parse(data + 1, size - 1, piece);
    if (whole.responses != split.responses || whole.bodyBytes != split.bodyBytes || whole.error != split.error)
        std::abort();
    return 0;
}
