#pragma once
// Records every event of a TMimeDecoder: a readable trace of the event order
// and, per part, the bytes handed to OnPartLine.
#include "mail/mime_decoder.h"

#include <QBuffer>

#include <string>
#include <vector>

struct TMimePartRecord {
    int number = 0;
    bool begun = false;
    std::string fileName, encoding, contentType, name;
    std::string data;               // all OnPartLine bytes, joined
    std::vector<std::string> lines; // each OnPartLine on its own
};

class TMimeEventLog {
public:
    std::vector<std::string> events;
    std::vector<TMimePartRecord> parts;
    std::vector<std::string> inlineLines;
    std::vector<std::string> headerLines;

    explicit TMimeEventLog(TMimeDecoder& decoder)
    {
        auto line = [&decoder] { return std::string(decoder.CurrentLine() ? decoder.CurrentLine() : "(none)"); };
        decoder.OnHeaderBegin = [this](QObject*) { events.push_back("HeaderBegin"); };
        decoder.OnHeaderLine = [this, line](QObject*) {
            events.push_back("HeaderLine");
            headerLines.push_back(line());
        };
        decoder.OnHeaderEnd = [this](QObject*) { events.push_back("HeaderEnd"); };
        decoder.OnPartHeaderBegin = [this, &decoder](QObject*) {
            events.push_back("PartHeaderBegin " + std::to_string(decoder.PartNumber()));
        };
        decoder.OnPartHeaderLine = [this, line](QObject*) { events.push_back("PartHeaderLine " + line()); };
        decoder.OnPartHeaderEnd = [this](QObject*) { events.push_back("PartHeaderEnd"); };
        decoder.OnPartBegin = [this](QObject*) {
            events.push_back("PartBegin");
            current_ = TMimePartRecord{};
            current_.begun = true;
        };
        decoder.OnPartLine = [this](QObject*, const char* data, int length) {
            events.push_back("PartLine " + std::to_string(length));
            current_.data.append(data, size_t(length));
            current_.lines.emplace_back(data, size_t(length));
        };
        decoder.OnPartEnd = [this, &decoder](QObject*) {
            events.push_back("PartEnd");
            current_.number = decoder.PartNumber();
            current_.fileName = decoder.PartFileName();
            current_.encoding = decoder.PartEncoding();
            current_.contentType = decoder.PartContentType();
            current_.name = decoder.PartName();
            parts.push_back(current_);
            current_ = TMimePartRecord{};
        };
        decoder.OnInlineDecodeBegin = [this](QObject*, const std::string& name) {
            events.push_back("InlineBegin " + name);
        };
        decoder.OnInlineDecodeLine = [this](QObject*, const char* text) {
            events.push_back("InlineLine");
            inlineLines.emplace_back(text);
        };
        decoder.OnInlineDecodeEnd = [this](QObject*, const std::string& name) {
            events.push_back("InlineEnd " + name);
        };
    }

    const TMimePartRecord* PartNamed(const std::string& fileName) const
    {
        for (const auto& part : parts) {
            if (part.fileName == fileName)
                return &part;
        }
        return nullptr;
    }

private:
    TMimePartRecord current_;
};

// Decodes text held in memory.
inline void DecodeText(TMimeDecoder& decoder, const std::string& text)
{
    QByteArray bytes(text.data(), qsizetype(text.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    decoder.DecodeStream(&buffer);
}
