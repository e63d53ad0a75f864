#pragma once
// TViewer: the engine of the fax viewer window. It holds the page images,
// the scroll state, the selection and a decoder state, and does everything
// that touches pixels. Its public surface is the numbered commands
// (viewer_commands.h) plus the window events its widget passes on.
#include "fax/page_decoder.h"
#include "fax/view/viewer_commands.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QSize>

#include <memory>
#include <string>
#include <vector>

class QAbstractScrollArea;
class QPainter;
class QRect;
class QTimer;

class TViewer {
public:
    // `window` is the widget the engine draws into and scrolls; `designing`
    // selects the form-designer behaviour (design-time text, no files).
    TViewer(QAbstractScrollArea* window, bool designing);
    ~TViewer();
    TViewer(const TViewer&) = delete;
    TViewer& operator=(const TViewer&) = delete;

    // False when the decoder state could not be made: the window then has
    // no engine.
    bool Created() const { return state_ != nullptr; }

    intptr_t Command(unsigned number, uintptr_t wParam = 0, intptr_t lParam = 0);

    // True while any viewer of the process is producing a page image.
    static bool Busy();

    // Receives the two notifications the window sends itself
    // (kVwPageShown, kVwError).
    std::function<void(unsigned number, uintptr_t wParam, intptr_t lParam)> notify;

    // Marks `boxes` on page `page`: rectangles in the pixels of the page
    // as its file holds it (`pageSize`, before any stretching or turning).
    // They are drawn over the page, following zoom and rotation, while that
    // page is shown; an empty list takes them away.
    void SetHighlights(int page, QSize pageSize, std::vector<QRect> boxes);

    // Window events.
    void Paint(QPainter& painter, const QRect& area);
    void Resized();
    void BarMoved(Qt::Orientation orientation, int value);
    // False for a key the viewer does not use.
    bool KeyDown(int key, bool ctrl);
    void MouseDown(const QPoint& client);
    void MouseMove(const QPoint& client);
    void MouseUp();

private:
    struct Page {
        int width = 0;
        int height = 0;
        QImage image;
        bool decoded = false; // a page without lines decodes to no image
    };

    // Loading and pages (viewer_engine.cpp).
    int Load(const char* name);
    void Unload();
    void ReleasePages(int keep = 0);
    int Unpack(int page, QImage& image);
    // Unpacks page `page` (1-based) into its entry of the page table.
    int Decode(int page);
    int UnpackMissingPages();
    void ShowCurrentPage();
    void ShowPage(int page);
    int SetCurrentPage(int page);
    void SetScaling(const TViewerScaling& scale);
    int SetRotation(int quarterTurns);
    int SetLoadWholeFax(bool on);
    intptr_t PageBitmap(int page, TViewerPageBitmap* out);
    const Page* Current() const;
    // Where the displayed image's top-left corner lies in the client while
    // the image is narrower (or lower) than the client: centred.
    QPoint Margin() const;
    // The highlights as rectangles of the client area.
    std::vector<QRect> HighlightsInClient() const;
    void Send(unsigned number, uintptr_t wParam, intptr_t lParam);
    void Repaint();

    // Scrolling, keys and selection (viewer_input.cpp).
    void RecomputeScrollBars();
    void ScrollTo(Qt::Orientation orientation, int position);
    void ScrollBy(Qt::Orientation orientation, int pixels);
    void NextPage();
    void PreviousPage();
    void FirstPage();
    void LastPage();
    void ScrollHome();
    void DropSelection();
    void ExtendSelection(const QPoint& client);
    void AutoScroll();
    int SelectAll();
    int SetSelection(const TViewerRect* rect);
    int CopySelection();
    bool ClipToImage(TViewerRect& rect) const;

    QAbstractScrollArea* window_;
    bool designing_;
    std::unique_ptr<UnpackState> state_;
    std::vector<Page> pages_;
    bool loadWholeFax_ = false;
    int busyCursor_ = Qt::ArrowCursor;
    QRgb foreground_ = 0xFF000000;
    QRgb background_ = 0xFFFFFFFF;
    QSize displayed_;
    int vertStep_ = 8;
    int horizStep_ = 8;
    bool resizing_ = false;
    int currentPage_ = 0;
    QPoint offset_;
    int vertRange_ = 0;
    int horizRange_ = 0;
    TViewerScaling scale_;
    int rotation_ = 0;
    bool hasSelection_ = false;
    bool captured_ = false;
    int corner_ = 3; // 1 top-left, 2 top-right, 3 bottom-right, 4 bottom-left
    TViewerRect selection_;
    QPoint pointer_; // last pointer position while captured
    QTimer* autoScrollTimer_;
    TViewerDefaultProc defaultProc_;
    bool childDefault_ = false;
    std::string fileName_;
    std::string designText_;
    bool hasDesignText_ = false;
    bool renderLocked_ = false;
    bool decoding_ = false; // this viewer's decoder state is in use
    int highlightPage_ = 0;
    QSize highlightPageSize_;
    std::vector<QRect> highlights_;
};
