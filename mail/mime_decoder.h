#pragma once
// TMimeDecoder reads one stored mail message line by line and reports its
// structure through events: the message header, then each part with its
// header, its decoded data lines and its end. Base64, quoted-printable and
// x-uuencode data is decoded before it is handed out; uuencoded blocks written
// inline in plain text are reported through their own events. Only one line
// buffer is held, whatever the size of the message.
#include "mail/mime_boundaries.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QIODevice;

// The input could not be opened or read, or the destination stream could not
// be written. The message names the file or says what failed.
class EMimeStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TMimeDecoder : public QObject {
    Q_OBJECT
public:
    explicit TMimeDecoder(QObject* parent = nullptr);
    ~TMimeDecoder() override;

    // Opens the file read-only and decodes it from start to end; throws
    // EMimeStreamError when it cannot be opened or read.
    void DecodeFile(const QString& fileName);
    // Decodes a readable stream from its current position to its end. All
    // events fire inside this call. Exceptions of the stream, of the
    // destination stream and of event handlers propagate.
    void DecodeStream(QIODevice* stream);

    // Message header values.
    const std::string& From() const { return from_; }
    const std::string& To() const { return to_; }
    const std::string& Subject() const { return subject_; }
    const std::string& Date() const { return date_; }
    const std::string& ReturnPath() const { return returnPath_; }
    const std::string& ContentType() const { return contentType_; }
    const std::string& MimeVersion() const { return mimeVersion_; }
    // Values of the current part.
    const std::string& PartContentType() const { return partContentType_; }
    const std::string& PartEncoding() const { return partEncoding_; }
    int32_t PartNumber() const { return partNumber_; }
    const std::string& PartName() const { return partName_; }
    const std::string& PartDisposition() const { return partDisposition_; }
    const std::string& PartFileName() const { return partFileName_; }
    const std::string& PartCharset() const { return partCharset_; }
    bool PartStarted() const { return partStarted_; }
    bool InHeader() const { return inHeader_; }
    // "--" and the message's boundary in lower case; empty for a single part.
    const std::string& Boundary() const { return boundaries_.Outer(); }
    // Name of the inline uuencoded block in progress, empty when none.
    const std::string& InlineFileName() const { return inlineFileName_; }
    // The line being handled, NUL-terminated, without its line end; valid
    // only during an event, nullptr otherwise.
    const char* CurrentLine() const { return currentLine_; }

    // When set, every non-empty data line handed to OnPartLine is also written here.
    QIODevice* DestStream() const { return destStream_; }
    void SetDestStream(QIODevice* stream) { destStream_ = stream; }

    // Off by default: the body of a single-part message is handed out as it
    // stands. On, it is decoded by the message's Content-Transfer-Encoding
    // like the data of a part (a mail whose whole body is a file).
    bool DecodeSinglePartBody() const { return decodeSinglePartBody_; }
    void SetDecodeSinglePartBody(bool on) { decodeSinglePartBody_ = on; }

    std::function<void(QObject* sender)> OnHeaderBegin;
    std::function<void(QObject* sender)> OnHeaderLine;
    std::function<void(QObject* sender)> OnHeaderEnd;
    std::function<void(QObject* sender)> OnPartHeaderBegin;
    std::function<void(QObject* sender)> OnPartHeaderLine;
    std::function<void(QObject* sender)> OnPartHeaderEnd;
    std::function<void(QObject* sender)> OnPartBegin;
    std::function<void(QObject* sender, const char* data, int dataLen)> OnPartLine;
    std::function<void(QObject* sender)> OnPartEnd;
    std::function<void(QObject* sender, const std::string& fileName)> OnInlineDecodeBegin;
    std::function<void(QObject* sender, const char* line)> OnInlineDecodeLine;
    std::function<void(QObject* sender, const std::string& fileName)> OnInlineDecodeEnd;

    // A line longer than this is handed out in pieces of this length, so that
    // input without line ends cannot make the buffer grow without bound.
    static constexpr int kMaxLineLength = 1 << 20;

protected:
    virtual void NotifyHeaderBegin();
    virtual void NotifyHeaderLine();
    virtual void NotifyHeaderEnd();
    virtual void NotifyPartHeaderBegin();
    virtual void NotifyPartHeaderLine();
    virtual void NotifyPartHeaderEnd();
    virtual void NotifyPartBegin();
    virtual void NotifyPartLine(const char* data, int length);
    virtual void NotifyPartEnd();

private:
    enum class TLineHandler { MessageHeader, Preamble, PartHeader, PartData, SinglePartBody };
    // PartEncoding as the part data handler uses it, fixed when the data begins.
    enum class TTransferEncoding { AsIs, Base64, QuotedPrintable, Uuencode };

    void Reset();
    void ReadLines(QIODevice* stream);
    void HandleLine(char* line, int length);
    void HandleMessageHeader(char* line, int length);
    void ParseMessageField(std::string_view line);
    void HandlePreamble(char* line, int length);
    void HandlePartHeader(char* line, int length);
    void ParsePartField(std::string_view line);
    void HandlePartData(char* line, int length);
    void HandleUuencodeLine(char* line, int length);
    void HandleSinglePartBody(char* line, int length);
    void DecodeDataLine(char* line, int length);
    static TTransferEncoding EncodingNamed(const std::string& name);
    void EndPart();
    void BeginPartData();
    bool IsBoundaryLine(std::string_view line, bool withClosing);
    void Sink(char* data, int length, bool screen);
    bool InlineDetectorTakes(const char* line, int length);

    std::string from_, to_, subject_, date_, returnPath_, contentType_, mimeVersion_;
    std::string partContentType_, partEncoding_;
    std::string bodyEncoding_; // the message header's Content-Transfer-Encoding
    bool decodeSinglePartBody_ = false;
    int32_t partNumber_ = 0;
    bool partHeaderBegun_ = false;
    std::string partName_, partDisposition_, partFileName_, partCharset_;
    bool partStarted_ = false;
    bool inHeader_ = false;
    int32_t lineCount_ = 0;
    const char* currentLine_ = nullptr;
    TLineHandler lineHandler_ = TLineHandler::MessageHeader;
    TTransferEncoding encoding_ = TTransferEncoding::AsIs;
    QIODevice* destStream_ = nullptr;
    std::string inlineFileName_;
    TMimeBoundaries boundaries_;
    bool decoding_ = false;
};
