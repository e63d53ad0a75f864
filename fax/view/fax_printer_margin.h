#pragma once
// A header or footer line of the fax printer: a template with "$" tokens,
// whether it is printed, its font, and the text height measured when it was
// last drawn.
#include <QFont>
#include <QString>

#include <cstdint>

class TKivCustomFaxPrinterMargin {
public:
    virtual ~TKivCustomFaxPrinterMargin() = default;

    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption) { caption_ = caption; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    const QFont& Font() const { return font_; }
    void SetFont(const QFont& font) { font_ = font; }
    uint16_t TextHeight() const { return textHeight_; }
    void SetTextHeight(uint16_t height) { textHeight_ = height; }

private:
    QString caption_;
    bool enabled_ = false;
    QFont font_;
    uint16_t textHeight_ = 0;
};

class TKivFaxPrinterMargin : public TKivCustomFaxPrinterMargin {};
