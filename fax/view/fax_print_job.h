#pragma once
// The print job of the fax printer, over a QPrinter: a title, begin, new
// sheet, end and abort, the printable size in pixels, the pixels per inch,
// and a canvas to draw text, lines and stretched bitmaps on.
//
// Sheets are recorded in a spool file and handed to the QPrinter only when
// the job ends. QPrinter cannot take back what it has been given (its abort
// does nothing for PDF output or CUPS queues), and so this is what keeps an
// aborted or failed job from reaching the printer half finished; the spool
// file, rather than memory, holds the finished sheets, so that a long fax
// needs no more memory than one page. The system's spooler receives a CUPS
// job as one file at its end anyway. A PDF file is written under a
// temporary name beside it and renamed into place when complete.
#include <QDataStream>
#include <QFont>
#include <QImage>
#include <QPrinter>
#include <QRect>
#include <QString>
#include <QTemporaryFile>

#include <memory>

class QPainter;

// True when both names lead to one existing file (also through links).
bool IsSameFile(const QString& a, const QString& b);

class TFaxPrintCanvas {
public:
    explicit TFaxPrintCanvas(QPrinter& printer) : printer_(printer) {}

    const QFont& Font() const { return font_; }
    void SetFont(const QFont& font) { font_ = font; }
    // Height of the text in the current font, in printer pixels.
    int TextHeight(const QString& text) const;
    // Draws the text with its top-left corner at (x, y), clipped to `clip`.
    void TextRect(const QRect& clip, int x, int y, const QString& text);
    void Line(int x1, int y1, int x2, int y2);
    // Plain copy of the whole bitmap stretched onto (x, y, width, height).
    void StretchImage(int x, int y, int width, int height, const QImage& image);

private:
    friend class TFaxPrintJob;

    QPrinter& printer_;
    QFont font_;
    QDataStream* spool_ = nullptr; // the running job's, else none
    bool drawn_ = false;
};

class TFaxPrintJob {
public:
    explicit TFaxPrintJob(QPrinter& printer) : printer_(printer), canvas_(printer) {}
    TFaxPrintJob(const TFaxPrintJob&) = delete;
    TFaxPrintJob& operator=(const TFaxPrintJob&) = delete;

    QString Title() const { return printer_.docName(); }
    void SetTitle(const QString& title) { printer_.setDocName(title); }

    // Starts a job on its first sheet; false when no spool file can be made.
    bool Begin();
    void NewPage();
    // Hands the sheets to the printer. False when the printer would not take
    // them. A job in which nothing was drawn sends nothing.
    bool End();
    // Drops the job; nothing reaches the printer.
    void Abort();
    bool Running() const { return running_; }
    // While a print preview records the printer's pages: the sheets are drawn
    // on it as for paper, but no PDF file is made or replaced.
    void SetPreview(bool on) { preview_ = on; }

    int PageWidth() const { return printer_.width(); }
    int PageHeight() const { return printer_.height(); }
    int PixelsPerInch() const { return printer_.logicalDpiX(); }
    bool Landscape() const { return printer_.pageLayout().orientation() == QPageLayout::Landscape; }
    TFaxPrintCanvas& Canvas() { return canvas_; }

private:
    // Draws the spooled sheets with the painter; false when a sheet is refused.
    bool Replay(QDataStream& in, QPainter& painter);
    bool Print();

    QPrinter& printer_;
    TFaxPrintCanvas canvas_;
    std::unique_ptr<QTemporaryFile> spoolFile_;
    QDataStream spool_;
    bool running_ = false;
    bool preview_ = false;
};
