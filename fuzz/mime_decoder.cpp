// Mail comes from whoever can reach the mailbox: decoding any bytes as a
// message either succeeds or throws the decoder's own error, with every
// event handler assigned so all paths that report something run.
#include "mail/mime_decoder.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer input(&bytes);
    input.open(QIODevice::ReadOnly);
    QBuffer dest;
    dest.open(QIODevice::WriteOnly);

    TMimeDecoder decoder;
    size_t seen = 0;
    const auto note = [&seen](QObject*) { ++seen; };
    decoder.OnHeaderBegin = note;
    decoder.OnHeaderLine = [&](QObject*) { seen += std::string(decoder.CurrentLine()).size(); };
    decoder.OnHeaderEnd = note;
    decoder.OnPartHeaderBegin = note;
    decoder.OnPartHeaderLine = note;
    decoder.OnPartHeaderEnd = [&](QObject*) { seen += decoder.PartFileName().size(); };
    decoder.OnPartBegin = note;
    decoder.OnPartLine = [&seen](QObject*, const char* line, int len) {
        if (len > 0) seen += static_cast<unsigned char>(line[len - 1]);
    };
    decoder.OnPartEnd = note;
    decoder.OnInlineDecodeBegin = [&seen](QObject*, const std::string& name) { seen += name.size(); };
    decoder.OnInlineDecodeLine = [&seen](QObject*, const char* line) { seen += std::string(line).size(); };
    decoder.OnInlineDecodeEnd = [&seen](QObject*, const std::string& name) { seen += name.size(); };
    decoder.SetDestStream(&dest);
    try {
        decoder.DecodeStream(&input);
    } catch (const EMimeStreamError&) {
    }
    return seen == SIZE_MAX ? 1 : 0;
}
