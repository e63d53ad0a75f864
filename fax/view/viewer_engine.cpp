#include "fax/view/viewer_engine.h"

#include "fax/apf_file.h"
#include "fax/fax_document.h"
#include "fax/kiv_errors.h"
#include "fax/page_bitmap.h"
#include "fax/view/page_rotation.h"
#include "fax/view/view_renderer.h"

#include <QAbstractScrollArea>
#include <QGuiApplication>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <sys/stat.h>

namespace {

bool g_busy = false; // some viewer of the process is producing a page image

// Page images one viewer keeps at most. A fine A4 page takes about half a
// megabyte, so this holds hundreds of pages, yet a file that claims
// thousands of pages cannot make load-whole-fax exhaust the memory.
constexpr qsizetype kMaxCachedBytes = qsizetype(256) << 20;

class ScopedFlag {
public:
    explicit ScopedFlag(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
    ~ScopedFlag() { flag_ = before_; }
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;

private:
    bool& flag_;
    bool before_;
};

class BusyCursor {
public:
    explicit BusyCursor(int shape) { QGuiApplication::setOverrideCursor(QCursor(static_cast<Qt::CursorShape>(shape))); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

bool FileExists(const char* name)
{
    struct stat info;
    return ::stat(name, &info) == 0;
}

// The page size after scaling, kept within what scroll bars can address.
int Scaled(int size, int mult, int div)
{
    return static_cast<int>(std::min<int64_t>(static_cast<int64_t>(size) * mult / div, INT_MAX / 2));
}

QRgb ColourOf(intptr_t value) { return 0xFF000000u | (static_cast<QRgb>(value) & 0xFFFFFFu); }

} // namespace

TViewer::TViewer(QAbstractScrollArea* window, bool designing)
    : window_(window), designing_(designing), autoScrollTimer_(new QTimer(window))
{
    std::unique_ptr<UnpackState> state;
    if (CreateUnpackState(state, nullptr, nullptr) == 0)
        state_ = std::move(state);
    autoScrollTimer_->setInterval(50);
    QObject::connect(autoScrollTimer_, &QTimer::timeout, window_, [this] { AutoScroll(); });
    window_->setAcceptDrops(!designing);
}

TViewer::~TViewer()
{
    autoScrollTimer_->stop();
    window_->setAcceptDrops(false);
}

bool TViewer::Busy() { return g_busy; }

intptr_t TViewer::Command(unsigned number, uintptr_t wParam, intptr_t lParam)
{
    if (!state_)
        return defaultProc_ ? defaultProc_(number, wParam, lParam) : 0;
    switch (number) {
    case kVwLoadFile:
        return Load(reinterpret_cast<const char*>(lParam));
    case kVwSetForeground:
        foreground_ = ColourOf(lParam);
        Repaint();
        return 0;
    case kVwSetBackground:
        background_ = ColourOf(lParam);
        Repaint();
        return 0;
    case kVwSetScaling:
        if (lParam)
            SetScaling(*reinterpret_cast<const TViewerScaling*>(lParam));
        return 0;
    case kVwSetScrollSteps:
        if (wParam)
            horizStep_ = static_cast<int>(std::min<uintptr_t>(wParam, INT_MAX / 16));
        if (lParam > 0)
            vertStep_ = static_cast<int>(std::min<intptr_t>(lParam, INT_MAX / 16));
        RecomputeScrollBars();
        return 0;
    case kVwSelectAll:
        return SelectAll();
    case kVwSetSelection:
        return SetSelection(reinterpret_cast<const TViewerRect*>(lParam));
    case kVwCopySelection:
        return CopySelection();
    case kVwSetDefaultProc:
        childDefault_ = wParam == 1;
        defaultProc_ = lParam ? *reinterpret_cast<const TViewerDefaultProc*>(lParam) : TViewerDefaultProc();
        return 0;
    case kVwSetWhitespace:
        return SetUnpackWhitespace(*state_, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
    case kVwGetPageBitmap:
        return PageBitmap(static_cast<int>(wParam), reinterpret_cast<TViewerPageBitmap*>(lParam));
    case kVwGetPageCount:
        return static_cast<intptr_t>(pages_.size());
    case kVwLockRendering:
        renderLocked_ = true;
        return 0;
    case kVwUnlockRendering:
        renderLocked_ = false;
        ShowCurrentPage();
        return 0;
    case kVwSetCurrentPage:
        return SetCurrentPage(static_cast<int>(wParam));
    case kVwGetCurrentPage:
        return currentPage_;
    case kVwSetDesignText:
        designText_ = lParam ? std::string(reinterpret_cast<const char*>(lParam)).substr(0, 255) : std::string();
        hasDesignText_ = !designText_.empty();
        Repaint();
        return 0;
    case kVwSetRotation:
        return SetRotation(static_cast<int>(wParam));
    case kVwSetAspect:
        ClearUnpackOption(*state_, kUnpackDoubleHeight | kUnpackHalfWidth);
        if (wParam == kUnpackDoubleHeight || wParam == kUnpackHalfWidth)
            SetUnpackOption(*state_, static_cast<uint16_t>(wParam));
        return 0;
    case kVwPageShown:
    case kVwError:
        if (notify)
            notify(number, wParam, lParam);
        return 0;
    case kVwGetPageRect: {
        auto* rect = reinterpret_cast<TViewerRect*>(lParam);
        if (rect) {
            const Page* page = Current();
            *rect = page && page->width > 0 ? TViewerRect{0, 0, page->width - 1, page->height - 1} : TViewerRect{};
        }
        return 0;
    }
    case kVwSetLoadWholeFax:
        return SetLoadWholeFax(wParam != 0);
    case kVwSetBusyCursor:
        busyCursor_ = static_cast<int>(wParam);
        return 0;
    case kVwGetPageFlags:
        return state_->pageHeader.Flags();
    case kVwGetFileName:
        return reinterpret_cast<intptr_t>(fileName_.c_str());
    case kVwGetRotation:
        return rotation_;
    case kVwGetScaling:
        if (auto* out = reinterpret_cast<TViewerScaling*>(lParam))
            *out = scale_;
        return 0;
    default:
        return defaultProc_ ? defaultProc_(number, wParam, lParam) : 0;
    }
}

void TViewer::Send(unsigned number, uintptr_t wParam, intptr_t lParam) { Command(number, wParam, lParam); }

void TViewer::Repaint() { window_->viewport()->update(); }

const TViewer::Page* TViewer::Current() const
{
    if (currentPage_ < 1 || currentPage_ > static_cast<int>(pages_.size()))
        return nullptr;
    return &pages_[static_cast<std::size_t>(currentPage_ - 1)];
}

int TViewer::Load(const char* name)
{
    if (decoding_)
        return kErrInternal; // the decoder is busy with a page of this viewer
    if (!name || !*name) {
        Unload();
        return 0;
    }
    if (!FileExists(name))
        return kErrFileNotFound;
    const FaxDocumentKind kind = FaxDocumentKindOfFile(name);
    if (kind == FaxDocumentKind::Apf ? !ApfProbeSignature(name) : kind == FaxDocumentKind::Unknown)
        return kErrFaxBadFormat;
    ReleasePages();
    pages_.clear();
    currentPage_ = 0;
    rotation_ = 0;
    fileName_ = name;
    Repaint();
    int pages = 0;
    int rc = FaxDocumentPageCount(fileName_, pages);
    if (rc == 0) {
        pages_.resize(static_cast<std::size_t>(pages));
        rc = loadWholeFax_ ? UnpackMissingPages() : Decode(1);
    }
    if (rc != 0) {
        Unload();
        return rc;
    }
    currentPage_ = 1;
    scale_ = TViewerScaling{};
    ShowCurrentPage();
    return 0;
}

void TViewer::Unload()
{
    highlights_.clear();
    highlightPage_ = 0;
    ReleasePages();
    pages_.clear();
    fileName_.clear();
    currentPage_ = 0;
    displayed_ = QSize();
    offset_ = QPoint();
    DropSelection();
    RecomputeScrollBars();
    Repaint();
}

void TViewer::ReleasePages(int keep)
{
    for (std::size_t i = 0; i < pages_.size(); ++i)
        if (static_cast<int>(i) + 1 != keep)
            pages_[i] = Page{};
}

int TViewer::Unpack(int page, QImage& image)
{
    if (decoding_)
        return kErrInternal;
    ScopedFlag busy(g_busy);
    ScopedFlag decoding(decoding_);
    BusyCursor cursor(busyCursor_);
    int width = 0;
    int height = 0;
    const int rc = UnpackPageToBitmap(*state_, fileName_, page, true, width, height, image);
    if (rc != 0)
        return rc;
    qsizetype cached = image.sizeInBytes();
    for (const Page& p : pages_)
        cached += p.image.sizeInBytes();
    if (cached > kMaxCachedBytes) {
        image = QImage();
        return kErrOutOfMemory;
    }
    return 0;
}

int TViewer::Decode(int page)
{
    if (page < 1 || page > static_cast<int>(pages_.size()))
        return kErrFaxBadFormat; // the header counts fewer pages
    QImage image;
    if (const int rc = Unpack(page, image))
        return rc;
    Page& entry = pages_[static_cast<std::size_t>(page - 1)];
    entry.image = std::move(image);
    entry.width = entry.image.width();
    entry.height = entry.image.height();
    entry.decoded = true;
    return 0;
}

// Pages decoded for load-whole-fax are turned to the rotation in force, so
// that every page shows the same way up.
int TViewer::UnpackMissingPages()
{
    for (int page = 1; page <= static_cast<int>(pages_.size()); ++page) {
        Page& entry = pages_[static_cast<std::size_t>(page - 1)];
        if (entry.decoded)
            continue;
        if (const int rc = Decode(page))
            return rc;
        if (rotation_ != 0) {
            QImage turned;
            if (RotatePageImage(entry.image, rotation_, turned) != 0)
                return kErrOutOfMemory;
            entry.image = std::move(turned);
            entry.width = entry.image.width();
            entry.height = entry.image.height();
        }
    }
    return 0;
}

void TViewer::ShowCurrentPage()
{
    if (g_busy || !Current())
        return;
    ScopedFlag busy(g_busy);
    const std::size_t index = static_cast<std::size_t>(currentPage_ - 1);
    if (!loadWholeFax_ && !pages_[index].decoded) {
        ReleasePages();
        // Unloaded before the error is reported, so that whoever hears of it
        // finds no file and no page.
        if (const int rc = Decode(currentPage_)) {
            Unload();
            Send(kVwError, static_cast<uintptr_t>(rc), 0);
            return;
        }
        Page& entry = pages_[index];
        if (rotation_ != 0) {
            QImage turned;
            if (RotatePageImage(entry.image, rotation_, turned) != 0) {
                Unload();
                Send(kVwError, static_cast<uintptr_t>(kErrOutOfMemory), 0);
                return;
            }
            entry.image = std::move(turned);
            entry.width = entry.image.width();
            entry.height = entry.image.height();
        }
    }
    const Page& page = pages_[index];
    offset_ = QPoint();
    displayed_ = QSize(Scaled(page.width, scale_.horizMult, scale_.horizDiv),
                       Scaled(page.height, scale_.vertMult, scale_.vertDiv));
    DropSelection();
    RecomputeScrollBars();
    Repaint();
    Send(kVwPageShown, 0, currentPage_);
}

void TViewer::ShowPage(int page)
{
    if (g_busy)
        return;
    currentPage_ = page;
    ShowCurrentPage();
}

int TViewer::SetCurrentPage(int page)
{
    if (page < 1 || page > static_cast<int>(pages_.size()))
        return kErrBadArgument;
    ShowPage(page);
    return 0;
}

void TViewer::SetScaling(const TViewerScaling& wanted)
{
    auto positive = [](int v) { return v > 0 ? v : 1; };
    TViewerScaling scale{positive(wanted.horizMult), positive(wanted.horizDiv), positive(wanted.vertMult),
                         positive(wanted.vertDiv)};
    if (scale.horizMult == scale.horizDiv)
        scale.horizMult = scale.horizDiv = 1;
    if (scale.vertMult == scale.vertDiv)
        scale.vertMult = scale.vertDiv = 1;
    const bool changed = !(scale == scale_);
    scale_ = scale;
    if (changed && !fileName_.empty() && !renderLocked_)
        ShowCurrentPage();
}

int TViewer::SetRotation(int quarterTurns)
{
    if (quarterTurns < 0 || quarterTurns > 3)
        return kErrBadArgument;
    if (fileName_.empty() || quarterTurns == rotation_)
        return 0;
    if (decoding_)
        return kErrInternal;
    const int turns = (quarterTurns - rotation_ + 4) % 4;
    // Turn into copies first, so that a failure leaves every page as it was.
    std::vector<QImage> turned(pages_.size());
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        const bool wanted = loadWholeFax_ || static_cast<int>(i) + 1 == currentPage_;
        if (wanted && !pages_[i].image.isNull() && RotatePageImage(pages_[i].image, turns, turned[i]) != 0)
            return kErrOutOfMemory;
    }
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        if (turned[i].isNull())
            continue;
        pages_[i].image = std::move(turned[i]);
        pages_[i].width = pages_[i].image.width();
        pages_[i].height = pages_[i].image.height();
    }
    rotation_ = quarterTurns;
    ShowCurrentPage();
    return 0;
}

int TViewer::SetLoadWholeFax(bool on)
{
    if (decoding_)
        return kErrInternal;
    loadWholeFax_ = on;
    if (fileName_.empty())
        return 0;
    if (!on) {
        ReleasePages(currentPage_);
        for (std::size_t i = 0; i < pages_.size(); ++i)
            if (static_cast<int>(i) + 1 != currentPage_)
                pages_[i].decoded = false;
        return 0;
    }
    if (const int rc = UnpackMissingPages()) {
        Unload();
        return rc;
    }
    return 0;
}

intptr_t TViewer::PageBitmap(int page, TViewerPageBitmap* out)
{
    if (!out)
        return 0;
    *out = TViewerPageBitmap{};
    if (page < 1 || page > static_cast<int>(pages_.size()))
        return 0;
    const Page& entry = pages_[static_cast<std::size_t>(page - 1)];
    if (entry.decoded) {
        *out = TViewerPageBitmap{entry.width, entry.height, entry.image};
    } else if (!loadWholeFax_) {
        QImage image;
        if (const int rc = Unpack(page, image)) {
            Send(kVwError, static_cast<uintptr_t>(rc), 0);
            return 0;
        }
        *out = TViewerPageBitmap{image.width(), image.height(), image};
    }
    return out->bitmap.isNull() ? 0 : 1;
}

void TViewer::Paint(QPainter& painter, const QRect& area)
{
    const Page* page = Current();
    if (designing_ || !page || page->image.isNull()) {
        painter.fillRect(area, QColor::fromRgb(background_));
        if (designing_ && hasDesignText_)
            painter.drawText(QPoint(3, 3 + painter.fontMetrics().ascent()), QString::fromLatin1(designText_.c_str()));
        return;
    }
    const QPoint margin = Margin();
    const QRect visible = area & QRect(margin - offset_, displayed_);
    if (visible != area)
        painter.fillRect(area, QColor::fromRgb(background_));
    if (visible.isEmpty())
        return;
    TViewFrame frame;
    frame.scale = scale_;
    frame.offset = offset_ - margin;
    frame.displayed = displayed_;
    frame.foreground = foreground_;
    frame.background = background_;
    frame.selection = hasSelection_ ? &selection_ : nullptr;
    // A Hi-DPI screen gets the page in its own pixels; a fractional ratio
    // is drawn at the nearest whole one and scaled by the painter.
    const int pixelRatio = std::max(1, qRound(painter.device()->devicePixelRatio()));
    painter.drawImage(visible.topLeft(), RenderViewAreaForDevice(page->image, frame, visible, pixelRatio));
    // Found words: yellow under the black, which stays black.
    const std::vector<QRect> highlights = HighlightsInClient();
    if (!highlights.empty()) {
        painter.save();
        painter.setClipRect(visible);
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        for (const QRect& box : highlights)
            painter.fillRect(box.adjusted(-2, -2, 2, 2), QColor(255, 230, 0));
        painter.restore();
    }
}

void TViewer::SetHighlights(int page, QSize pageSize, std::vector<QRect> boxes)
{
    highlightPage_ = page;
    highlightPageSize_ = pageSize;
    highlights_ = std::move(boxes);
    Repaint();
}

// A box of the page's own pixels goes through what the page image went
// through: stretched to the image's size (a standard-resolution page is
// shown at double height), turned as the image was turned, then scaled and
// placed as the image is drawn.
std::vector<QRect> TViewer::HighlightsInClient() const
{
    std::vector<QRect> boxes;
    const Page* page = Current();
    if (!page || page->image.isNull() || currentPage_ != highlightPage_ || highlightPageSize_.isEmpty())
        return boxes;
    const bool sideways = rotation_ % 2 != 0;
    const QSize image = page->image.size();
    const QSize upright = sideways ? image.transposed() : image;
    const double sx = double(upright.width()) / highlightPageSize_.width();
    const double sy = double(upright.height()) / highlightPageSize_.height();
    const QPoint origin = Margin() - offset_;
    for (const QRect& box : highlights_) {
        const QRectF r(box.x() * sx, box.y() * sy, box.width() * sx, box.height() * sy);
        QRectF turned;
        switch (rotation_) {
        case 1: turned = QRectF(image.width() - r.bottom(), r.left(), r.height(), r.width()); break;
        case 2: turned = QRectF(image.width() - r.right(), image.height() - r.bottom(), r.width(), r.height()); break;
        case 3: turned = QRectF(r.top(), image.height() - r.right(), r.height(), r.width()); break;
        default: turned = r; break;
        }
        const double hx = double(scale_.horizMult) / std::max(scale_.horizDiv, 1);
        const double vy = double(scale_.vertMult) / std::max(scale_.vertDiv, 1);
        boxes.push_back(QRectF(turned.x() * hx, turned.y() * vy, turned.width() * hx, turned.height() * vy)
                            .toAlignedRect()
                            .translated(origin));
    }
    return boxes;
}

QPoint TViewer::Margin() const
{
    const QSize client = window_->viewport()->size();
    return QPoint(std::max(0, (client.width() - displayed_.width()) / 2),
                  std::max(0, (client.height() - displayed_.height()) / 2));
}
