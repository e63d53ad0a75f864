#include "fax/view/fax_viewer.h"

#include "fax/kiv_errors.h"
#include "fax/view/viewer_engine.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <cstdlib>
#include <utility>

namespace {

Qt::CursorShape CursorShapeOf(TCursor cursor)
{
    static const std::pair<TCursor, Qt::CursorShape> kShapes[] = {
        {crCross, Qt::CrossCursor},     {crIBeam, Qt::IBeamCursor},         {crHourGlass, Qt::WaitCursor},
        {crAppStart, Qt::BusyCursor},   {crHandPoint, Qt::PointingHandCursor},
    };
    for (const auto& [number, shape] : kShapes)
        if (number == cursor)
            return shape;
    return Qt::ArrowCursor;
}

intptr_t ColourValue(const QColor& colour) { return static_cast<intptr_t>(colour.rgb() & 0xFFFFFFu); }

// The local file a drag carries first, or an empty name.
QString FirstLocalFile(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return QString();
    const QUrl url = data->urls().first();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

TKivCustomFaxViewer::TKivCustomFaxViewer(QWidget* parent, bool designing)
    : QAbstractScrollArea(parent), designing_(designing)
{
    resize(100, 50);
    setFocusPolicy(Qt::StrongFocus);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    // The engine paints every pixel itself; the background is never erased.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    connect(this, &QObject::objectNameChanged, this, [this](const QString& name) {
        setAccessibleName(name);
        if (designing_)
            Perform(kVwSetDesignText, 0, reinterpret_cast<intptr_t>(name.toLatin1().constData()));
    });
    auto viewer = std::make_unique<TViewer>(this, designing);
    if (viewer->Created()) {
        viewer_ = std::move(viewer);
        viewer_->notify = [this](unsigned number, uintptr_t wParam, intptr_t lParam) {
            Notification(number, wParam, lParam);
        };
    }
    CreateWindowState();
    UpdateAccessibleDescription();
}

TKivCustomFaxViewer::~TKivCustomFaxViewer() = default;

// Brings a new window up to the stored properties.
void TKivCustomFaxViewer::CreateWindowState()
{
    if (designing_) {
        Perform(kVwSetDesignText, 0, reinterpret_cast<intptr_t>(objectName().toLatin1().constData()));
        Perform(kVwSetForeground, 0, ColourValue(fgColor_));
        Perform(kVwSetBackground, 0, ColourValue(bgColor_));
        return;
    }
    Perform(kVwSetForeground, 0, ColourValue(fgColor_));
    Perform(kVwSetBackground, 0, ColourValue(bgColor_));
    if (scaling_)
        SendScaling();
    if (whitespaceCompression_)
        SendWhitespace();
    Perform(kVwSetScrollSteps, static_cast<uintptr_t>(horizScroll_), vertScroll_);
    SetAutoScaleMode(autoScaleMode_);
    Check(Perform(kVwSetLoadWholeFax, loadWholeFax_ ? 1 : 0));
    Perform(kVwSetBusyCursor, static_cast<uintptr_t>(CursorShapeOf(busyCursor_)));
}

intptr_t TKivCustomFaxViewer::Perform(unsigned number, uintptr_t wParam, intptr_t lParam)
{
    return viewer_ ? viewer_->Command(number, wParam, lParam) : 0;
}

void TKivCustomFaxViewer::Check(intptr_t code) { KivErrorCheck(this, static_cast<int>(code)); }

void TKivCustomFaxViewer::SetBorderStyle(TBorderStyle style)
{
    if (style == borderStyle_)
        return;
    borderStyle_ = style;
    setFrameStyle(style == bsSingle ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
}

void TKivCustomFaxViewer::SetFGColor(const QColor& colour)
{
    if (colour == fgColor_)
        return;
    fgColor_ = colour;
    Perform(kVwSetForeground, 0, ColourValue(colour));
}

void TKivCustomFaxViewer::SetBGColor(const QColor& colour)
{
    if (colour == bgColor_)
        return;
    bgColor_ = colour;
    Perform(kVwSetBackground, 0, ColourValue(colour));
}

void TKivCustomFaxViewer::SendScaling()
{
    const TViewerScaling scale = scaling_ ? factors_ : TViewerScaling{};
    TViewerScaling applied;
    Perform(kVwGetScaling, 0, reinterpret_cast<intptr_t>(&applied));
    // The window keeps equal factors as 1/1; so does the comparison.
    auto reduced = [](int mult, int div) { return mult == div ? std::pair(1, 1) : std::pair(mult, div); };
    if (reduced(scale.horizMult, scale.horizDiv) != reduced(applied.horizMult, applied.horizDiv) ||
        reduced(scale.vertMult, scale.vertDiv) != reduced(applied.vertMult, applied.vertDiv))
        Perform(kVwSetScaling, 0, reinterpret_cast<intptr_t>(&scale));
}

// Setting a value already stored still sends it when the window shows
// something else (it resets its factors when it loads a file).
void TKivCustomFaxViewer::SetScaling(bool on)
{
    scaling_ = on;
    SendScaling();
}

void TKivCustomFaxViewer::SetFactor(int& factor, int value)
{
    if (value == 0)
        return;
    factor = value;
    if (scaling_)
        SendScaling();
}

void TKivCustomFaxViewer::SetAutoScaleMode(TAutoScaleMode mode)
{
    autoScaleMode_ = mode;
    const uintptr_t flag = mode == asDoubleHeight ? kUnpackDoubleHeight : mode == asHalfWidth ? kUnpackHalfWidth : 0;
    Perform(kVwSetAspect, flag);
}

void TKivCustomFaxViewer::SendWhitespace()
{
    const bool on = whitespaceCompression_;
    if ((on && (whitespaceFrom_ < 0 || whitespaceTo_ < 0)))
        return Check(kErrBadArgument);
    Check(Perform(kVwSetWhitespace, on ? static_cast<uintptr_t>(whitespaceFrom_) : 0, on ? whitespaceTo_ : 0));
}

void TKivCustomFaxViewer::SetWhitespaceCompression(bool on)
{
    if (on == whitespaceCompression_)
        return;
    whitespaceCompression_ = on;
    SendWhitespace();
}

void TKivCustomFaxViewer::SetWhitespaceFrom(int lines)
{
    if (lines == whitespaceFrom_)
        return;
    whitespaceFrom_ = lines;
    if (whitespaceCompression_)
        SendWhitespace();
}

void TKivCustomFaxViewer::SetWhitespaceTo(int lines)
{
    if (lines == whitespaceTo_)
        return;
    whitespaceTo_ = lines;
    if (whitespaceCompression_)
        SendWhitespace();
}

void TKivCustomFaxViewer::SetHorizScroll(int pixels)
{
    if (pixels == horizScroll_)
        return;
    horizScroll_ = pixels;
    Perform(kVwSetScrollSteps, static_cast<uintptr_t>(std::max(horizScroll_, 0)), vertScroll_);
}

void TKivCustomFaxViewer::SetVertScroll(int pixels)
{
    if (pixels == vertScroll_)
        return;
    vertScroll_ = pixels;
    Perform(kVwSetScrollSteps, static_cast<uintptr_t>(std::max(horizScroll_, 0)), vertScroll_);
}

void TKivCustomFaxViewer::SetAcceptDragged(bool on)
{
    if (on == acceptDragged_)
        return;
    acceptDragged_ = on;
    setAcceptDrops(on && !designing_);
}

void TKivCustomFaxViewer::SetLoadWholeFax(bool on)
{
    if (on == loadWholeFax_)
        return;
    loadWholeFax_ = on;
    Check(Perform(kVwSetLoadWholeFax, on ? 1 : 0));
}

void TKivCustomFaxViewer::SetBusyCursor(TCursor cursor)
{
    if (cursor == busyCursor_)
        return;
    busyCursor_ = cursor;
    Perform(kVwSetBusyCursor, static_cast<uintptr_t>(CursorShapeOf(cursor)));
}

QString TKivCustomFaxViewer::FileName() { return designing_ ? designFileName_ : WindowFileName(); }

void TKivCustomFaxViewer::SetFileName(const QString& name)
{
    if (name == FileName())
        return;
    if (designing_) {
        designFileName_ = name;
        return;
    }
    const intptr_t rc = Perform(kVwLoadFile, 0, reinterpret_cast<intptr_t>(QFile::encodeName(name).constData()));
    UpdateAccessibleDescription();
    Check(rc);
    if (rc == 0)
        ForgetViewSettings();
}

void TKivCustomFaxViewer::ForgetViewSettings()
{
    // A newly loaded file resets the window's scale factors; the stored
    // factors follow.
    factors_ = TViewerScaling{};
}

int TKivCustomFaxViewer::PageCount() { return static_cast<int>(Perform(kVwGetPageCount)); }

int TKivCustomFaxViewer::CurrentPage() { return static_cast<int>(Perform(kVwGetCurrentPage)); }

void TKivCustomFaxViewer::SetCurrentPage(int page)
{
    if (page == CurrentPage() || FileName().isEmpty())
        return;
    if (page < 1 || page > PageCount())
        return Check(kErrBadArgument);
    Check(Perform(kVwSetCurrentPage, static_cast<uintptr_t>(page)));
}

int TKivCustomFaxViewer::PageRotation() { return static_cast<int>(Perform(kVwGetRotation)); }

void TKivCustomFaxViewer::SetPageRotation(int quarterTurns)
{
    if (quarterTurns == PageRotation())
        return;
    if (quarterTurns < 0 || quarterTurns > 3)
        return Check(kErrBadArgument);
    Check(Perform(kVwSetRotation, static_cast<uintptr_t>(quarterTurns)));
}

int TKivCustomFaxViewer::PageFlags() { return static_cast<int>(Perform(kVwGetPageFlags)); }

void TKivCustomFaxViewer::SetHighlights(int page, QSize pageSize, std::vector<QRect> boxes)
{
    if (viewer_)
        viewer_->SetHighlights(page, pageSize, std::move(boxes));
}

void TKivCustomFaxViewer::LockRendering() { Perform(kVwLockRendering); }

void TKivCustomFaxViewer::UnlockRendering() { Perform(kVwUnlockRendering); }

QString TKivCustomFaxViewer::WindowFileName()
{
    const auto* name = reinterpret_cast<const char*>(Perform(kVwGetFileName));
    return name ? QFile::decodeName(name) : QString();
}

void TKivCustomFaxViewer::FireDropFile()
{
    if (OnDropFile)
        OnDropFile(this, FileName());
}

void TKivCustomFaxViewer::Notification(unsigned number, uintptr_t wParam, intptr_t)
{
    if (number == kVwPageShown) {
        UpdateAccessibleDescription();
        if (OnPageChange)
            OnPageChange(this);
    } else if (number == kVwError) {
        // The window has unloaded the file: no page is shown any more, which
        // OnPageChange tells after the error.
        UpdateAccessibleDescription();
        if (OnViewerError)
            OnViewerError(this, static_cast<int>(static_cast<intptr_t>(wParam)));
        if (OnPageChange)
            OnPageChange(this);
    }
}

void TKivCustomFaxViewer::UpdateAccessibleDescription()
{
    const int count = PageCount();
    const int page = CurrentPage();
    setAccessibleDescription(page > 0 ? QStringLiteral("Page %1 of %2").arg(page).arg(count)
                                      : QStringLiteral("No fax loaded"));
}

void TKivCustomFaxViewer::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    if (viewer_)
        viewer_->Paint(painter, event->rect());
    else
        painter.fillRect(event->rect(), bgColor_);
}

void TKivCustomFaxViewer::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (viewer_)
        viewer_->Resized();
}

void TKivCustomFaxViewer::scrollContentsBy(int dx, int dy)
{
    if (!viewer_)
        return;
    if (dx)
        viewer_->BarMoved(Qt::Horizontal, horizontalScrollBar()->value());
    if (dy)
        viewer_->BarMoved(Qt::Vertical, verticalScrollBar()->value());
}

void TKivCustomFaxViewer::keyPressEvent(QKeyEvent* event)
{
    if (viewer_ && event->matches(QKeySequence::Copy)) {
        Perform(kVwCopySelection); // without a selection there is nothing to copy
        event->accept();
        return;
    }
    if (viewer_ && viewer_->KeyDown(event->key(), event->modifiers() & Qt::ControlModifier))
        event->accept();
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void TKivCustomFaxViewer::wheelEvent(QWheelEvent* event)
{
    constexpr int kNotch = 120;
    QScrollBar* down = verticalScrollBar();
    const int delta = event->angleDelta().y();
    const int page = CurrentPage();
    const bool onward = delta < 0 && down->value() >= down->maximum() && page > 0 && page < PageCount();
    const bool back = delta > 0 && down->value() <= down->minimum() && page > 1;
    if (!viewer_ || (event->modifiers() & Qt::ControlModifier) || !(onward || back)) {
        pageTurnDelta_ = 0;
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    event->accept();
    // A whole notch turns the page; smooth wheels add up to one.
    pageTurnDelta_ += delta;
    if (std::abs(pageTurnDelta_) < kNotch)
        return;
    pageTurnDelta_ = 0;
    Check(Perform(kVwSetCurrentPage, static_cast<uintptr_t>(onward ? page + 1 : page - 1)));
    if (back)
        down->setValue(down->maximum()); // the previous page is met at its bottom
}

void TKivCustomFaxViewer::mousePressEvent(QMouseEvent* event)
{
    if (viewer_ && event->button() == Qt::LeftButton)
        viewer_->MouseDown(event->position().toPoint());
    QAbstractScrollArea::mousePressEvent(event);
}

void TKivCustomFaxViewer::mouseMoveEvent(QMouseEvent* event)
{
    if (viewer_)
        viewer_->MouseMove(event->position().toPoint());
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TKivCustomFaxViewer::mouseReleaseEvent(QMouseEvent* event)
{
    if (viewer_ && event->button() == Qt::LeftButton)
        viewer_->MouseUp();
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void TKivCustomFaxViewer::dragEnterEvent(QDragEnterEvent* event)
{
    if (!FirstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TKivCustomFaxViewer::dragMoveEvent(QDragMoveEvent* event)
{
    if (!FirstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TKivCustomFaxViewer::dropEvent(QDropEvent* event)
{
    const QString name = FirstLocalFile(event->mimeData());
    if (name.isEmpty() || !viewer_)
        return;
    event->acceptProposedAction();
    if (Perform(kVwLoadFile, 0, reinterpret_cast<intptr_t>(QFile::encodeName(name).constData())) == 0)
        ForgetViewSettings();
    FireDropFile();
    UpdateAccessibleDescription();
}
