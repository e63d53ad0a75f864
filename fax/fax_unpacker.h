#pragma once
// TKivFaxUnpacker: a non-visual component around the page decoder. Each
// public operation prepares a fresh decoder state from the properties and
// turns a failure code into an exception.
#include "fax/kiv_base_component.h"
#include "fax/page_decoder.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// Options set members.
constexpr unsigned uoYield = 0x1;
constexpr unsigned uoAbort = 0x2;

enum TAutoScaleMode { asNone, asDoubleHeight, asHalfWidth };

class TKivCustomFaxUnpacker : public TKivBaseComponent {
public:
    using TOutputLineEvent = std::function<void(TKivCustomFaxUnpacker* sender, bool starting, bool ending,
                                                const uint8_t* data, int len, int pageNum)>;
    using TUnpackStatusEvent = std::function<void(TKivCustomFaxUnpacker* sender, const QString& fName,
                                                  int pageNum, int bytesUnpacked, int bytesToUnpack)>;

    unsigned Options() const { return options_; }
    void SetOptions(unsigned options);
    bool WhitespaceCompression() const { return whitespaceCompression_; }
    void SetWhitespaceCompression(bool on) { whitespaceCompression_ = on; }
    int WhitespaceFrom() const { return whitespaceFrom_; }
    void SetWhitespaceFrom(int lines) { whitespaceFrom_ = lines; }
    int WhitespaceTo() const { return whitespaceTo_; }
    void SetWhitespaceTo(int lines) { whitespaceTo_ = lines; }
    bool Scaling() const { return scaling_; }
    void SetScaling(bool on) { scaling_ = on; }
    int HorizMult() const { return horizMult_; }
    void SetHorizMult(int v) { SetFactor(horizMult_, v); }
    int HorizDiv() const { return horizDiv_; }
    void SetHorizDiv(int v) { SetFactor(horizDiv_, v); }
    int VertMult() const { return vertMult_; }
    void SetVertMult(int v) { SetFactor(vertMult_, v); }
    int VertDiv() const { return vertDiv_; }
    void SetVertDiv(int v) { SetFactor(vertDiv_, v); }
    TAutoScaleMode AutoScaleMode() const { return autoScaleMode_; }
    void SetAutoScaleMode(TAutoScaleMode mode) { autoScaleMode_ = mode; }
    const QString& InFileName() const { return inFileName_; }
    // A name differing only in letter case changes nothing; any other name
    // also sets OutFileName to the name without its extension.
    void SetInFileName(const QString& name);
    const QString& OutFileName() const { return outFileName_; }
    void SetOutFileName(const QString& name) { outFileName_ = name; }

    // Page count of InFileName; 0 when the file cannot be read.
    int PageCount();
    // Flags of page 1; failures raise.
    bool FineResolution();
    bool WidePage();
    // Page `pageNum` as a bitmap with set bits white (a null image for a
    // page without lines); failures raise.
    QImage UnpackPage(int pageNum);

    TOutputLineEvent OnOutputLine;
    TUnpackStatusEvent OnStatus;

protected:
    virtual void FireOutputLine(bool starting, bool ending, const uint8_t* data, int len, int pageNum);
    virtual void FireStatus(const QString& fName, int pageNum, int bytesUnpacked, int bytesToUnpack);

private:
    static void SetFactor(int& factor, int value);
    // Replaces the state of the previous operation. The operation keeps its
    // own reference, so an event handler starting another operation while
    // one is running cannot pull the state from under it.
    std::shared_ptr<UnpackState> PrepareState();
    bool PageFlag(uint16_t flag);

    unsigned options_ = uoYield;
    bool whitespaceCompression_ = false;
    int whitespaceFrom_ = 0;
    int whitespaceTo_ = 0;
    bool scaling_ = false;
    int horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;
    TAutoScaleMode autoScaleMode_ = asDoubleHeight;
    QString inFileName_;
    QString outFileName_;
    std::shared_ptr<UnpackState> state_;
};

class TKivFaxUnpacker : public TKivCustomFaxUnpacker {};
