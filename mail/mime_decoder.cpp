#include "mail/mime_decoder.h"

#include "mail/mime_codecs.h"
#include "mail/mime_fields.h"

#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Large enough that a mail file is read in few, big reads straight into the
// line buffer; it grows only for a line longer than about a quarter of it.
constexpr int kInitialBufferSize = 64 * 1024;
constexpr size_t kMaxNameLength = 255;

bool IsCutMarker(std::string_view line)
{
    const std::string lower = LowerAscii(line);
    return lower.find("--") != std::string::npos && lower.find("cut here") != std::string::npos;
}

// The name of a "begin <mode> <name>" line: what follows the second space,
// or with fewer spaces the rest of the line.
std::string BlockName(std::string_view line)
{
    auto afterSpace = [](std::string_view text) {
        const size_t space = text.find(' ');
        if (space == std::string_view::npos)
            return text.substr(0, kMaxNameLength);
        return text.substr(space + 1, kMaxNameLength);
    };
    return std::string(afterSpace(afterSpace(line)));
}

// One growing byte block holding the unconsumed input; content is
// [start, end) and buf[end] is always NUL.
class TLineBuffer {
public:
    TLineBuffer()
        : data_(new char[kInitialBufferSize])
        , size_(kInitialBufferSize)
    {
        data_[0] = '\0';
    }

    char* data() { return data_.get(); }
    int size() const { return size_; }

    // Room for a read behind the content, keeping one byte for the look-ahead
    // of header unfolding and one for the NUL.
    int Room(int end) const { return size_ - end - 2; }

    // Makes room for the next read when little is left: moves the content to
    // the front when it is a short part of the buffer, else grows the buffer.
    // Growth is geometric and happens only for a long unfinished line, so the
    // size stays a small multiple of the longest line, however the stream
    // splits its reads.
    void MakeRoom(int& start, int& end, int& scan)
    {
        if (start > 0 && start == end) {
            data_[0] = '\0';
            end = scan = start = 0;
        }
        if (Room(end) >= size_ / 4)
            return;
        if (start > 0 && end - start <= size_ / 2) {
            std::memmove(data_.get(), data_.get() + start, size_t(end - start) + 1);
            end -= start;
            scan -= start;
            start = 0;
            return;
        }
        const int grown = size_ + std::max(32, size_ / 2);
        std::unique_ptr<char[]> bigger(new char[grown]);
        std::memcpy(bigger.get(), data_.get(), size_t(end) + 1);
        data_ = std::move(bigger);
        size_ = grown;
    }

private:
    std::unique_ptr<char[]> data_;
    int size_;
};

int ReadSome(QIODevice* stream, char* into, int count)
{
    const qint64 got = stream->read(into, count);
    if (got < 0)
        throw EMimeStreamError("Read error in mail stream: " + stream->errorString().toStdString());
    return int(got);
}

} // namespace

TMimeDecoder::TMimeDecoder(QObject* parent)
    : QObject(parent)
{
}

TMimeDecoder::~TMimeDecoder() = default;

void TMimeDecoder::DecodeFile(const QString& fileName)
{
    QFile file(fileName);
    // Unbuffered: the line buffer does the buffering, so the file's data is
    // copied once, not twice.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw EMimeStreamError("Cannot open file \"" + fileName.toStdString() + "\". " + file.errorString().toStdString());
    DecodeStream(&file); // QFile closes on destruction, also when this throws
}

void TMimeDecoder::DecodeStream(QIODevice* stream)
{
    if (!stream || !stream->isReadable())
        throw EMimeStreamError("Mail stream is not open for reading");
    if (decoding_)
        throw EMimeStreamError("A mail is already being decoded");
    decoding_ = true;
    struct TEndDecode {
        TMimeDecoder* self;
        ~TEndDecode()
        {
            self->decoding_ = false;
            self->currentLine_ = nullptr;
            self->boundaries_.ClearNested();
        }
    } endDecode{this};

    inlineFileName_.clear();
    Reset();
    ReadLines(stream);
    if (Boundary().empty() || partStarted_)
        NotifyPartEnd();
}

void TMimeDecoder::Reset()
{
    for (std::string* text : {&from_, &to_, &subject_, &date_, &returnPath_, &contentType_, &mimeVersion_, &bodyEncoding_,
                              &partContentType_, &partEncoding_, &partName_, &partFileName_, &partDisposition_,
                              &partCharset_})
        text->clear();
    partNumber_ = 0;
    lineCount_ = 0;
    boundaries_.Clear();
    currentLine_ = nullptr;
    inHeader_ = true;
    partStarted_ = false;
    partHeaderBegun_ = false;
    lineHandler_ = TLineHandler::MessageHeader;
    encoding_ = TTransferEncoding::AsIs;
}

void TMimeDecoder::ReadLines(QIODevice* stream)
{
    TLineBuffer buffer;
    int start = 0; // first unconsumed byte
    int end = 0;   // end of content
    int scan = 0;  // where the search for the next LF goes on
    for (;;) {
        char* buf = buffer.data();
        const int got = ReadSome(stream, buf + end, buffer.Room(end));
        if (got <= 0)
            break;
        end += got;
        buf[end] = '\0';

        while (char* lf = static_cast<char*>(std::memchr(buf + scan, '\n', size_t(end - scan)))) {
            const int i = int(lf - buf);
            if (inHeader_) {
                const bool lineEmpty = buf[start] == '\n' || buf[start] == '\r';
                // Look ahead at the next line's first byte. The read keeps two
                // bytes free, and only one look-ahead can happen per read: a
                // looked-ahead LF forms an empty line, which needs none.
                if (!lineEmpty && i == end - 1 && end + 2 <= buffer.size() && ReadSome(stream, buf + end, 1) == 1)
                    buf[++end] = '\0';
                if (!lineEmpty && i + 1 < end && (buf[i + 1] == ' ' || buf[i + 1] == '\t')) {
                    // A folded header line: the break and the blank become spaces.
                    buf[i] = ' ';
                    if (i > start && buf[i - 1] == '\r')
                        buf[i - 1] = ' ';
                    buf[i + 1] = ' ';
                    scan = i + 2;
                    continue;
                }
            }
            int lineEnd = i;
            if (i > start && buf[i - 1] == '\r')
                --lineEnd;
            buf[lineEnd] = '\0';
            HandleLine(buf + start, lineEnd - start);
            start = scan = i + 1;
        }
        scan = end;
        while (end - start >= kMaxLineLength) {
            // Too long for one line: hand it out in pieces of the limit's
            // length (a multiple of four, so base64 groups stay whole).
            char* piece = buf + start;
            const char saved = piece[kMaxLineLength];
            piece[kMaxLineLength] = '\0';
            HandleLine(piece, kMaxLineLength);
            piece[kMaxLineLength] = saved;
            start = scan = start + kMaxLineLength;
        }
        buffer.MakeRoom(start, end, scan);
    }
    if (end > start) {
        // A last line without LF.
        char* buf = buffer.data();
        int lineEnd = end;
        if (buf[lineEnd - 1] == '\r')
            --lineEnd;
        buf[lineEnd] = '\0';
        HandleLine(buf + start, lineEnd - start);
    }
}

void TMimeDecoder::HandleLine(char* line, int length)
{
    currentLine_ = line;
    switch (lineHandler_) {
    case TLineHandler::MessageHeader:
        HandleMessageHeader(line, length);
        break;
    case TLineHandler::Preamble:
        HandlePreamble(line, length);
        break;
    case TLineHandler::PartHeader:
        HandlePartHeader(line, length);
        break;
    case TLineHandler::PartData:
        HandlePartData(line, length);
        break;
    case TLineHandler::SinglePartBody:
        HandleSinglePartBody(line, length);
        break;
    }
    currentLine_ = nullptr;
}

void TMimeDecoder::HandleMessageHeader(char* line, int length)
{
    if (length > 0) {
        if (++lineCount_ == 1)
            NotifyHeaderBegin();
        ParseMessageField(std::string_view(line, size_t(length)));
        NotifyHeaderLine();
        return;
    }
    inHeader_ = false;
    NotifyHeaderEnd();
    lineCount_ = 0;
    if (!Boundary().empty()) {
        // The preamble is reported as part 0.
        partStarted_ = true;
        NotifyPartBegin();
        lineHandler_ = TLineHandler::Preamble;
    } else {
        lineHandler_ = TLineHandler::SinglePartBody;
        encoding_ = decodeSinglePartBody_ ? EncodingNamed(bodyEncoding_) : TTransferEncoding::AsIs;
    }
}

void TMimeDecoder::ParseMessageField(std::string_view line)
{
    std::string name;
    TFieldCursor value(line);
    if (!ReadFieldName(line, name, value))
        return;
    if (name == "content-type") {
        contentType_ = value.Token();
        if (!contentType_.starts_with("multipart/"))
            return;
        // The boundary may be any of the parameters.
        while (value.NextParameter()) {
            if (value.Token() != "boundary")
                continue;
            value.SkipBlanks();
            if (value.Peek() != '=')
                continue;
            value.Advance();
            value.SkipBlanks();
            const std::string text = value.QuotedOr(&TFieldCursor::TakeRest);
            if (!text.empty())
                boundaries_.SetOuter(text);
            return;
        }
    } else if (name == "mime-version") {
        mimeVersion_ = value.Rest();
    } else if (name == "from") {
        from_ = value.Rest();
    } else if (name == "to") {
        to_ = value.Rest();
    } else if (name == "subject") {
        subject_ = value.Rest();
    } else if (name == "return-path") {
        returnPath_ = value.Rest();
        if (returnPath_.size() > 1 && returnPath_.front() == '<' && returnPath_.back() == '>')
            returnPath_ = returnPath_.substr(1, returnPath_.size() - 2);
    } else if (name == "date") {
        date_ = value.Rest();
    } else if (name == "content-transfer-encoding") {
        bodyEncoding_ = value.Token();
    }
}

void TMimeDecoder::HandlePreamble(char* line, int length)
{
    if (IsBoundaryLine(std::string_view(line, size_t(length)), false)) {
        EndPart();
        return;
    }
    Sink(line, length, true);
}

void TMimeDecoder::HandlePartHeader(char* line, int length)
{
    if (length == 0) {
        if (!partHeaderBegun_) {
            partHeaderBegun_ = true;
            ++partNumber_;
            NotifyPartHeaderBegin();
        }
        NotifyPartHeaderEnd();
        BeginPartData();
        return;
    }
    if (++lineCount_ == 1) {
        partHeaderBegun_ = true;
        ++partNumber_;
        NotifyPartHeaderBegin();
    }
    if (line[0] == ' ' || line[0] == '\t') {
        // A blank-led line cannot continue a header here: the data begins.
        NotifyPartHeaderEnd();
        BeginPartData();
        HandlePartData(line, length);
        return;
    }
    ParsePartField(std::string_view(line, size_t(length)));
    NotifyPartHeaderLine();
}

void TMimeDecoder::BeginPartData()
{
    inHeader_ = false;
    lineCount_ = 0;
    lineHandler_ = TLineHandler::PartData;
    // Looked up once here rather than compared as text on every data line.
    encoding_ = EncodingNamed(partEncoding_);
}

TMimeDecoder::TTransferEncoding TMimeDecoder::EncodingNamed(const std::string& name)
{
    if (name == "base64")
        return TTransferEncoding::Base64;
    if (name == "quoted-printable")
        return TTransferEncoding::QuotedPrintable;
    if (name == "x-uuencode")
        return TTransferEncoding::Uuencode;
    return TTransferEncoding::AsIs;
}

void TMimeDecoder::ParsePartField(std::string_view line)
{
    std::string name;
    TFieldCursor value(line);
    if (!ReadFieldName(line, name, value))
        return;
    if (name == "content-type") {
        partContentType_ = value.Token();
        while (value.NextParameter()) {
            const std::string param = value.Token();
            value.SkipBlanks();
            if (value.Peek() != '=')
                continue;
            value.Advance();
            value.SkipBlanks();
            if (param == "boundary") {
                // Quoted boundaries may hold "=" and other specials.
                const std::string text = value.QuotedOr(&TFieldCursor::Token);
                if (!text.empty())
                    boundaries_.AddNested(text);
            } else if (param == "name") {
                partName_ = value.Token();
            } else if (param == "charset") {
                partCharset_ = value.Token();
            }
        }
    } else if (name == "content-transfer-encoding") {
        partEncoding_ = value.Token();
    } else if (name == "content-disposition") {
        partDisposition_ = value.Token();
        const std::string parameters = value.Rest();
        while (value.NextParameter()) {
            const std::string param = value.Token();
            value.SkipBlanks();
            if (value.Peek() != '=' || param != "filename")
                continue;
            value.Advance();
            value.SkipBlanks();
            partFileName_ = value.QuotedOr(&TFieldCursor::TakeRest);
            return;
        }
        // Names in RFC 2231 form only (filename*=, filename*0*=, ...).
        partFileName_ = FindParameter(parameters, "filename").value;
    }
}

bool TMimeDecoder::IsBoundaryLine(std::string_view line, bool withClosing)
{
    return boundaries_.EndsPart(line, withClosing);
}

void TMimeDecoder::EndPart()
{
    partStarted_ = false;
    NotifyPartEnd();
    for (std::string* text : {&partEncoding_, &partContentType_, &partDisposition_, &partName_, &partFileName_})
        text->clear();
    inHeader_ = true;
    lineCount_ = 0;
    partHeaderBegun_ = false;
    lineHandler_ = TLineHandler::PartHeader;
}

void TMimeDecoder::HandlePartData(char* line, int length)
{
    if (IsBoundaryLine(std::string_view(line, size_t(length)), true)) {
        EndPart();
        return;
    }
    if (!partStarted_) {
        partStarted_ = true;
        NotifyPartBegin();
    }
    DecodeDataLine(line, length);
}

void TMimeDecoder::DecodeDataLine(char* line, int length)
{
    // Decoded data is handed out as it is; only raw text is screened for
    // inline uuencoded blocks, so attachment bytes are never mistaken for one.
    switch (encoding_) {
    case TTransferEncoding::Uuencode:
        HandleUuencodeLine(line, length);
        break;
    case TTransferEncoding::Base64:
        Sink(line, DecodeBase64Line(line, length), false);
        break;
    case TTransferEncoding::QuotedPrintable:
        Sink(line, DecodeQuotedPrintableLine(line, length), false);
        break;
    case TTransferEncoding::AsIs:
        Sink(line, length, true);
        break;
    }
}

void TMimeDecoder::HandleUuencodeLine(char* line, int length)
{
    if (length == 0)
        return;
    const std::string_view text(line, size_t(length));
    if (StartsWithNoCase(text, "begin ")) {
        if (!IsCutMarker(text))
            inlineFileName_ = BlockName(text);
        return;
    }
    if (StartsWithNoCase(text, "end")) {
        if (!IsCutMarker(text))
            inlineFileName_.clear();
        return;
    }
    if (inlineFileName_.empty())
        return;
    char decoded[64];
    const int count = DecodeUuencodeLine(line, length, decoded);
    if (count > 0)
        Sink(decoded, count, false);
}

void TMimeDecoder::HandleSinglePartBody(char* line, int length)
{
    if (++lineCount_ == 1) {
        partStarted_ = true;
        NotifyPartBegin();
    }
    DecodeDataLine(line, length);
}

void TMimeDecoder::Sink(char* data, int length, bool screen)
{
    if (screen && length > 0 && InlineDetectorTakes(data, length))
        return;
    NotifyPartLine(data, length);
    if (destStream_ && length > 0 && destStream_->write(data, length) != length)
        throw EMimeStreamError("Write error in destination stream: " + destStream_->errorString().toStdString());
}

bool TMimeDecoder::InlineDetectorTakes(const char* line, int length)
{
    if (line[0] == '\0')
        return false;
    const std::string_view text(line, size_t(length));
    if (StartsWithNoCase(text, "begin ")) {
        if (!IsCutMarker(text)) {
            inlineFileName_ = BlockName(text);
            if (OnInlineDecodeBegin)
                OnInlineDecodeBegin(this, inlineFileName_);
        }
        return true;
    }
    if (StartsWithNoCase(text, "end")) {
        if (!IsCutMarker(text)) {
            if (OnInlineDecodeEnd)
                OnInlineDecodeEnd(this, inlineFileName_);
            inlineFileName_.clear();
        }
        return true;
    }
    if (inlineFileName_.empty())
        return false;
    if (OnInlineDecodeLine)
        OnInlineDecodeLine(this, line);
    return true;
}

void TMimeDecoder::NotifyHeaderBegin()
{
    if (OnHeaderBegin)
        OnHeaderBegin(this);
}

void TMimeDecoder::NotifyHeaderLine()
{
    if (OnHeaderLine)
        OnHeaderLine(this);
}

void TMimeDecoder::NotifyHeaderEnd()
{
    if (OnHeaderEnd)
        OnHeaderEnd(this);
}

void TMimeDecoder::NotifyPartHeaderBegin()
{
    if (OnPartHeaderBegin)
        OnPartHeaderBegin(this);
}

void TMimeDecoder::NotifyPartHeaderLine()
{
    if (OnPartHeaderLine)
        OnPartHeaderLine(this);
}

void TMimeDecoder::NotifyPartHeaderEnd()
{
    if (OnPartHeaderEnd)
        OnPartHeaderEnd(this);
}

void TMimeDecoder::NotifyPartBegin()
{
    if (OnPartBegin)
        OnPartBegin(this);
}

void TMimeDecoder::NotifyPartLine(const char* data, int length)
{
    if (OnPartLine)
        OnPartLine(this, data, length);
}

void TMimeDecoder::NotifyPartEnd()
{
    if (OnPartEnd)
        OnPartEnd(this);
}
