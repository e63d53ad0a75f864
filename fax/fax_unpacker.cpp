#include "fax/fax_unpacker.h"

#include "fax/fax_document.h"
#include "fax/kiv_errors.h"
#include "fax/page_bitmap.h"

#include <QFile>

namespace {

std::string NativeName(const QString& name) { return QFile::encodeName(name).toStdString(); }

} // namespace

void TKivCustomFaxUnpacker::SetOptions(unsigned options)
{
    if (options == options_)
        return;
    options_ = options;
    if ((options & uoAbort) && state_)
        SetUnpackOption(*state_, kUnpackAbort);
}

void TKivCustomFaxUnpacker::SetFactor(int& factor, int value)
{
    if (value != 0)
        factor = value;
}

void TKivCustomFaxUnpacker::SetInFileName(const QString& name)
{
    if (name.compare(inFileName_, Qt::CaseInsensitive) == 0)
        return;
    inFileName_ = name;
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    outFileName_ = dot > slash ? name.left(dot) : name;
}

void TKivCustomFaxUnpacker::FireOutputLine(bool starting, bool ending, const uint8_t* data, int len, int pageNum)
{
    if (OnOutputLine)
        OnOutputLine(this, starting, ending, data, len, pageNum);
}

void TKivCustomFaxUnpacker::FireStatus(const QString& fName, int pageNum, int bytesUnpacked, int bytesToUnpack)
{
    if (OnStatus)
        OnStatus(this, fName, pageNum, bytesUnpacked, bytesToUnpack);
}

std::shared_ptr<UnpackState> TKivCustomFaxUnpacker::PrepareState()
{
    state_.reset();
    std::unique_ptr<UnpackState> created;
    auto lineBridge = [this](UnpackState&, int kind, const uint8_t* data, int len, int page) {
        try {
            FireOutputLine(kind == kLineStartPage, kind == kLineEndPage, data, len, page);
            return 0;
        } catch (...) {
            return KivExceptionToCode(std::current_exception());
        }
    };
    KivErrorCheck(this, CreateUnpackState(created, this, lineBridge));
    if (!created)
        return nullptr; // only while loading, when errors are not raised
    // Status comes after every input byte of the file being read, which is
    // InFileName: its name is not converted each time.
    created->statusCallback = [this, name = inFileName_](UnpackState&, const std::string&, int page, int done,
                                                         int total) {
        try {
            FireStatus(name, page, done, total);
            return 0;
        } catch (...) {
            return KivExceptionToCode(std::current_exception());
        }
    };
    created->options = 0;
    if (options_ & uoYield)
        SetUnpackOption(*created, kUnpackYield);
    if (autoScaleMode_ == asDoubleHeight)
        SetUnpackOption(*created, kUnpackDoubleHeight);
    else if (autoScaleMode_ == asHalfWidth)
        SetUnpackOption(*created, kUnpackHalfWidth);
    if (whitespaceCompression_) {
        const int rc = whitespaceFrom_ < 0 || whitespaceTo_ < 0
                           ? kErrBadArgument
                           : SetUnpackWhitespace(*created, static_cast<uint32_t>(whitespaceFrom_),
                                                 static_cast<uint32_t>(whitespaceTo_));
        KivErrorCheck(this, rc);
    }
    if (scaling_) {
        auto one = [](int v) { return v == 0 ? 1 : v; };
        SetUnpackScaling(*created, one(horizMult_), one(horizDiv_), one(vertMult_), one(vertDiv_));
    }
    state_ = std::move(created);
    return state_;
}

int TKivCustomFaxUnpacker::PageCount()
{
    PrepareState();
    int pages = 0;
    return FaxDocumentPageCount(NativeName(inFileName_), pages) == 0 ? pages : 0;
}

bool TKivCustomFaxUnpacker::PageFlag(uint16_t flag)
{
    PrepareState();
    uint16_t flags = 0;
    const int rc = FaxDocumentPageFlags(NativeName(inFileName_), 1, flags);
    KivErrorCheck(this, rc);
    return rc == 0 && (flags & flag);
}

bool TKivCustomFaxUnpacker::FineResolution() { return PageFlag(kApfFine); }

bool TKivCustomFaxUnpacker::WidePage() { return PageFlag(kApfWide); }

QImage TKivCustomFaxUnpacker::UnpackPage(int pageNum)
{
    const std::shared_ptr<UnpackState> state = PrepareState();
    QImage bitmap;
    if (!state)
        return bitmap;
    int width = 0;
    int height = 0;
    const int rc = UnpackPageToBitmap(*state, NativeName(inFileName_), pageNum, true, width, height, bitmap);
    KivErrorCheck(this, rc);
    return bitmap;
}
