// The viewer engine's scrolling, keyboard, navigation and selection.
#include "fax/kiv_errors.h"
#include "fax/view/view_renderer.h"
#include "fax/view/viewer_engine.h"

#include <QAbstractScrollArea>
#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kStepsPerPage = 10;
constexpr int kFarOutside = 20; // auto-scroll doubles its speed beyond this

// The scroll range along one axis: what the image exceeds the client by;
// once it fits, the current offset, so that the view can still return to
// the top or left edge before the range shrinks to 0.
int Range(int displayed, int client, int offset) { return displayed > client ? displayed - client : offset; }

// The bars report their moves back through BarMoved, which finds the
// offsets already in place.
void SetBar(QScrollBar* bar, int range, int step, int value)
{
    bar->setRange(0, range);
    bar->setSingleStep(step);
    bar->setPageStep(step * kStepsPerPage);
    bar->setValue(value);
}

} // namespace

void TViewer::RecomputeScrollBars()
{
    const QSize client = window_->viewport()->size();
    vertRange_ = Range(displayed_.height(), client.height(), offset_.y());
    horizRange_ = Range(displayed_.width(), client.width(), offset_.x());
    const QPoint clamped(std::min(offset_.x(), horizRange_), std::min(offset_.y(), vertRange_));
    if (clamped != offset_) {
        offset_ = clamped;
        Repaint();
    }
    SetBar(window_->verticalScrollBar(), vertRange_, vertStep_, offset_.y());
    SetBar(window_->horizontalScrollBar(), horizRange_, horizStep_, offset_.x());
}

void TViewer::Resized()
{
    if (resizing_) {
        // Showing or hiding a scroll bar resizes the client again; handle
        // that once the current resize is done rather than nested.
        QPointer<QAbstractScrollArea> window(window_);
        QMetaObject::invokeMethod(
            window_, [this, window] { if (window) Resized(); }, Qt::QueuedConnection);
        return;
    }
    resizing_ = true;
    RecomputeScrollBars();
    resizing_ = false;
}

void TViewer::BarMoved(Qt::Orientation orientation, int value) { ScrollTo(orientation, value); }

void TViewer::ScrollTo(Qt::Orientation orientation, int position)
{
    const bool vertical = orientation == Qt::Vertical;
    const int range = vertical ? vertRange_ : horizRange_;
    position = std::clamp(position, 0, range);
    int& offset = vertical ? offset_.ry() : offset_.rx();
    const int delta = position - offset;
    if (delta == 0)
        return;
    offset = position;
    QWidget* viewport = window_->viewport();
    const int extent = vertical ? viewport->height() : viewport->width();
    if (std::abs(delta) > extent)
        viewport->update();
    else if (vertical)
        viewport->scroll(0, -delta);
    else
        viewport->scroll(-delta, 0);
    (vertical ? window_->verticalScrollBar() : window_->horizontalScrollBar())->setValue(position);
    if (position == 0)
        RecomputeScrollBars();
}

void TViewer::ScrollBy(Qt::Orientation orientation, int pixels)
{
    ScrollTo(orientation, (orientation == Qt::Vertical ? offset_.y() : offset_.x()) + pixels);
}

void TViewer::ScrollHome()
{
    ScrollTo(Qt::Vertical, 0);
    ScrollTo(Qt::Horizontal, 0);
}

void TViewer::NextPage()
{
    if (currentPage_ >= 1 && currentPage_ < static_cast<int>(pages_.size()))
        ShowPage(currentPage_ + 1);
}

void TViewer::PreviousPage()
{
    if (currentPage_ > 1)
        ShowPage(currentPage_ - 1);
}

void TViewer::FirstPage()
{
    if (currentPage_ == 1)
        ScrollHome();
    else if (currentPage_ > 1)
        ShowPage(1);
}

void TViewer::LastPage()
{
    const int last = static_cast<int>(pages_.size());
    if (currentPage_ == 0)
        return;
    if (last == 1 || currentPage_ == last)
        ScrollHome();
    else
        ShowPage(last);
}

bool TViewer::KeyDown(int key, bool ctrl)
{
    const int lines = ctrl ? kStepsPerPage : 1;
    switch (key) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (captured_)
            return true; // the keyboard waits while a selection is drawn
        break;
    default:
        return false;
    }
    switch (key) {
    case Qt::Key_PageUp:
        ctrl ? ScrollTo(Qt::Vertical, 0) : PreviousPage();
        break;
    case Qt::Key_PageDown:
        ctrl ? ScrollTo(Qt::Vertical, vertRange_) : NextPage();
        break;
    case Qt::Key_Home:
        ctrl ? FirstPage() : ScrollTo(Qt::Horizontal, 0);
        break;
    case Qt::Key_End:
        ctrl ? LastPage() : ScrollTo(Qt::Horizontal, horizRange_);
        break;
    case Qt::Key_Left:
        ScrollBy(Qt::Horizontal, -lines * horizStep_);
        break;
    case Qt::Key_Right:
        ScrollBy(Qt::Horizontal, lines * horizStep_);
        break;
    case Qt::Key_Up:
        ScrollBy(Qt::Vertical, -lines * vertStep_);
        break;
    case Qt::Key_Down:
        ScrollBy(Qt::Vertical, lines * vertStep_);
        break;
    }
    return true;
}

void TViewer::DropSelection()
{
    hasSelection_ = false;
    captured_ = false;
    autoScrollTimer_->stop();
}

bool TViewer::ClipToImage(TViewerRect& r) const
{
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, displayed_.width() - 1);
    r.bottom = std::min(r.bottom, displayed_.height() - 1);
    return r.left <= r.right && r.top <= r.bottom;
}

void TViewer::MouseDown(const QPoint& client)
{
    const Page* page = Current();
    if (!page || page->image.isNull())
        return;
    const QPoint at = client + offset_ - Margin();
    selection_ = TViewerRect{at.x(), at.y(), at.x(), at.y()};
    hasSelection_ = ClipToImage(selection_);
    corner_ = 3;
    captured_ = true;
    pointer_ = client;
    Repaint();
}

void TViewer::MouseMove(const QPoint& client)
{
    if (!captured_)
        return;
    pointer_ = client;
    if (window_->viewport()->rect().contains(client))
        autoScrollTimer_->stop();
    else if (!autoScrollTimer_->isActive())
        autoScrollTimer_->start();
    ExtendSelection(client);
}

void TViewer::MouseUp()
{
    if (!captured_)
        return;
    captured_ = false;
    autoScrollTimer_->stop();
    if (selection_.left == selection_.right && selection_.top == selection_.bottom)
        hasSelection_ = false;
    Repaint();
}

// Moves the corner being dragged to the pointer; when it crosses the
// opposite edge the rectangle is turned the right way round and the dragged
// corner becomes the one now under the pointer.
void TViewer::ExtendSelection(const QPoint& client)
{
    const QPoint at = client + offset_ - Margin();
    TViewerRect& r = selection_;
    (corner_ == 1 || corner_ == 4 ? r.left : r.right) = at.x();
    (corner_ == 1 || corner_ == 2 ? r.top : r.bottom) = at.y();
    static constexpr int kMirrorX[] = {0, 2, 1, 4, 3};
    static constexpr int kMirrorY[] = {0, 4, 3, 2, 1};
    if (r.left > r.right) {
        std::swap(r.left, r.right);
        corner_ = kMirrorX[corner_];
    }
    if (r.top > r.bottom) {
        std::swap(r.top, r.bottom);
        corner_ = kMirrorY[corner_];
    }
    hasSelection_ = ClipToImage(r);
    Repaint();
}

void TViewer::AutoScroll()
{
    const QSize client = window_->viewport()->size();
    auto steps = [](int outside) { return outside > kFarOutside ? 2 : 1; };
    if (pointer_.x() < 0)
        ScrollBy(Qt::Horizontal, -steps(-pointer_.x()) * horizStep_);
    else if (pointer_.x() >= client.width())
        ScrollBy(Qt::Horizontal, steps(pointer_.x() - client.width() + 1) * horizStep_);
    if (pointer_.y() < 0)
        ScrollBy(Qt::Vertical, -steps(-pointer_.y()) * vertStep_);
    else if (pointer_.y() >= client.height())
        ScrollBy(Qt::Vertical, steps(pointer_.y() - client.height() + 1) * vertStep_);
    ExtendSelection(pointer_);
}

int TViewer::SelectAll()
{
    const Page* page = Current();
    if (!page || page->image.isNull())
        return kErrNoImageLoaded;
    selection_ = TViewerRect{0, 0, displayed_.width() - 1, displayed_.height() - 1};
    hasSelection_ = ClipToImage(selection_);
    Repaint();
    return 0;
}

int TViewer::SetSelection(const TViewerRect* rect)
{
    const Page* page = Current();
    if (!page || page->image.isNull())
        return kErrNoImageLoaded;
    if (!rect)
        return kErrBadArgument;
    selection_ = *rect;
    if (selection_.left > selection_.right)
        std::swap(selection_.left, selection_.right);
    if (selection_.top > selection_.bottom)
        std::swap(selection_.top, selection_.bottom);
    hasSelection_ = ClipToImage(selection_);
    Repaint();
    return 0;
}

int TViewer::CopySelection()
{
    const Page* page = Current();
    if (!page || page->image.isNull())
        return kErrNoImageLoaded;
    if (!hasSelection_)
        return kErrNoBlockMarked;
    const QImage block = CopyDisplayedBlock(page->image, scale_, selection_);
    if (block.isNull())
        return kErrCantMakeBitmap;
    QGuiApplication::clipboard()->setImage(block);
    return 0;
}
