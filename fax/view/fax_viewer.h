#pragma once
// TKivFaxViewer: the fax viewer control placed on forms. It keeps the
// published properties, forwards each change to its viewer engine as a
// numbered command, raises the exception for a failed command and turns the
// engine's notifications into events.
#include "fax/fax_unpacker.h"
#include "fax/kiv_base_component.h"
#include "fax/view/viewer_commands.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TViewer;

enum TBorderStyle { bsNone, bsSingle };

// Screen cursor numbers as forms store them (0 is the default cursor).
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHandPoint = -21;

class TKivCustomFaxViewer : public QAbstractScrollArea, public TKivBaseComponent {
    Q_OBJECT
public:
    using TDropFileEvent = std::function<void(TKivCustomFaxViewer* sender, const QString& fileName)>;
    using TNotifyEvent = std::function<void(TKivCustomFaxViewer* sender)>;
    using TViewerErrorEvent = std::function<void(TKivCustomFaxViewer* sender, int errorCode)>;

    // `designing` gives the form designer's window: it shows the component
    // name instead of a fax and loads no file.
    explicit TKivCustomFaxViewer(QWidget* parent = nullptr, bool designing = false);
    ~TKivCustomFaxViewer() override;

    // The one dispatch entry: sends a numbered command to the viewer window
    // and returns its result (0 when the window has no engine).
    intptr_t Perform(unsigned number, uintptr_t wParam = 0, intptr_t lParam = 0);

    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle style);
    QColor FGColor() const { return fgColor_; }
    void SetFGColor(const QColor& colour);
    QColor BGColor() const { return bgColor_; }
    void SetBGColor(const QColor& colour);
    bool Scaling() const { return scaling_; }
    void SetScaling(bool on);
    int HorizMult() const { return factors_.horizMult; }
    void SetHorizMult(int v) { SetFactor(factors_.horizMult, v); }
    int HorizDiv() const { return factors_.horizDiv; }
    void SetHorizDiv(int v) { SetFactor(factors_.horizDiv, v); }
    int VertMult() const { return factors_.vertMult; }
    void SetVertMult(int v) { SetFactor(factors_.vertMult, v); }
    int VertDiv() const { return factors_.vertDiv; }
    void SetVertDiv(int v) { SetFactor(factors_.vertDiv, v); }
    TAutoScaleMode AutoScaleMode() const { return autoScaleMode_; }
    void SetAutoScaleMode(TAutoScaleMode mode);
    bool WhitespaceCompression() const { return whitespaceCompression_; }
    void SetWhitespaceCompression(bool on);
    int WhitespaceFrom() const { return whitespaceFrom_; }
    void SetWhitespaceFrom(int lines);
    int WhitespaceTo() const { return whitespaceTo_; }
    void SetWhitespaceTo(int lines);
    int HorizScroll() const { return horizScroll_; }
    void SetHorizScroll(int pixels);
    int VertScroll() const { return vertScroll_; }
    void SetVertScroll(int pixels);
    bool AcceptDragged() const { return acceptDragged_; }
    void SetAcceptDragged(bool on);
    bool LoadWholeFax() const { return loadWholeFax_; }
    void SetLoadWholeFax(bool on);
    TCursor BusyCursor() const { return busyCursor_; }
    void SetBusyCursor(TCursor cursor);
    // The file the viewer window shows (empty when none): after a page that
    // cannot be shown the window has unloaded it, and FileName says so.
    QString FileName();
    void SetFileName(const QString& name);

    int PageCount();
    int CurrentPage();
    void SetCurrentPage(int page);
    // The quarter turns in force; a newly loaded file shows unturned.
    int PageRotation();
    void SetPageRotation(int quarterTurns);
    int PageFlags();
    // Marks `boxes` (in the pixels of page `page` as its file holds it, of
    // size `pageSize`) while that page is shown; an empty list clears them.
    void SetHighlights(int page, QSize pageSize, std::vector<QRect> boxes);
    void LockRendering();
    void UnlockRendering();

    TDropFileEvent OnDropFile;
    TNotifyEvent OnPageChange;
    TViewerErrorEvent OnViewerError;

protected:
    // Reads the window's file name into FileName and raises OnDropFile.
    virtual void FireDropFile();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    // Ctrl+C copies the selection to the clipboard.
    void keyPressEvent(QKeyEvent* event) override;
    // At the bottom of a page the wheel turns to the next page, at the top
    // back to the previous one.
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateWindowState();
    void Check(intptr_t code);
    // Sends the wanted factors when they differ from those in force.
    void SendScaling();
    void SendWhitespace();
    void SetFactor(int& factor, int value);
    void ForgetViewSettings();
    void Notification(unsigned number, uintptr_t wParam, intptr_t lParam);
    QString WindowFileName();
    void UpdateAccessibleDescription();

    bool designing_;
    std::unique_ptr<TViewer> viewer_;
    TBorderStyle borderStyle_ = bsSingle;
    QColor fgColor_ = Qt::black;
    QColor bgColor_ = Qt::white;
    bool scaling_ = false;
    TViewerScaling factors_;
    TAutoScaleMode autoScaleMode_ = asDoubleHeight;
    bool whitespaceCompression_ = false;
    int whitespaceFrom_ = 0;
    int whitespaceTo_ = 0;
    int horizScroll_ = 8;
    int vertScroll_ = 8;
    bool acceptDragged_ = true;
    bool loadWholeFax_ = false;
    TCursor busyCursor_ = crDefault;
    QString designFileName_; // the form designer loads no file
    int pageTurnDelta_ = 0;  // wheel turned at a page's edge, in eighths of a degree
};

class TKivFaxViewer : public TKivCustomFaxViewer {
    Q_OBJECT
public:
    using TKivCustomFaxViewer::TKivCustomFaxViewer;
};
