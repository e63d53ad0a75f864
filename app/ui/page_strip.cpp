#include "app/ui/page_strip.h"

#include "fax/view/page_thumbnail.h"

#include <QAbstractListModel>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

namespace {

const QSize kThumbnailBox(84, 118); // an A4 page's proportions

} // namespace

class TPageStripModel : public QAbstractListModel {
public:
    explicit TPageStripModel(TPageStrip* strip) : QAbstractListModel(strip), strip_(strip) {}

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : pageCount_; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= pageCount_)
            return {};
        const int page = index.row() + 1;
        switch (role) {
        case Qt::DisplayRole:
            return QString::number(page);
        case Qt::AccessibleTextRole:
        case Qt::ToolTipRole:
            return QStringLiteral("Page %1").arg(page);
        case Qt::AccessibleDescriptionRole: {
            const TPageStrip::Thumbnail* made = strip_->Find(index.row());
            return made && made->failed ? QStringLiteral("This page cannot be shown") : QString();
        }
        case Qt::DecorationRole: {
            const TPageStrip::Thumbnail* made = strip_->Find(index.row());
            return made ? made->pixmap : strip_->placeholder_;
        }
        case Qt::SizeHintRole:
            return QSize(kThumbnailBox.width() + 8, kThumbnailBox.height() + strip_->fontMetrics().height() + 10);
        default:
            return {};
        }
    }

    void SetPageCount(int count)
    {
        beginResetModel();
        pageCount_ = std::max(count, 0);
        endResetModel();
    }

    void Changed(int row) { emit dataChanged(index(row), index(row)); }

private:
    TPageStrip* strip_;
    int pageCount_ = 0;
};

TPageStrip::TPageStrip(QWidget* parent) : QListView(parent), model_(new TPageStripModel(this)), timer_(new QTimer(this))
{
    setObjectName(QStringLiteral("PageStrip"));
    setAccessibleName(QStringLiteral("Pages"));
    setViewMode(QListView::IconMode);
    setFlow(QListView::TopToBottom);
    setWrapping(false);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true); // only the rows in sight are asked for
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setIconSize(kThumbnailBox);
    setSpacing(2);
    setModel(model_);
    placeholder_ = Framed(QImage(), false);
    setFixedWidth(kThumbnailBox.width() + 16 + verticalScrollBar()->sizeHint().width() + 2 * frameWidth());
    timer_->setSingleShot(true);
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &TPageStrip::MakeNext);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (!marking_ && current.isValid() && OnPageChosen)
            OnPageChosen(current.row() + 1);
    });
}

TPageStrip::~TPageStrip() = default;

int TPageStrip::PageCount() const { return model_->rowCount(QModelIndex()); }

void TPageStrip::Reset(int pageCount)
{
    ++generation_;
    Forget();
    made_ = 0;
    model_->SetPageCount(pageCount);
}

void TPageStrip::Refresh()
{
    ++generation_;
    Forget();
    viewport()->update();
}

void TPageStrip::Forget()
{
    thumbnails_.clear();
    wanted_.clear();
    timer_->stop();
}

void TPageStrip::ShowCurrentPage(int page)
{
    const QModelIndex index = model_->index(page - 1);
    marking_ = true;
    if (index.isValid()) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        scrollTo(index);
    } else {
        selectionModel()->clear();
    }
    marking_ = false;
}

const TPageStrip::Thumbnail* TPageStrip::Find(int row)
{
    const auto found = thumbnails_.find(row);
    if (found != thumbnails_.end()) {
        found->second.used = ++clock_;
        return &found->second;
    }
    wanted_.insert(row);
    Schedule();
    return nullptr;
}

void TPageStrip::Schedule()
{
    if (!timer_->isActive())
        timer_->start();
}

bool TPageStrip::InSight(int row) const
{
    return isVisible() && visualRect(model_->index(row)).intersects(viewport()->rect());
}

// One thumbnail each time round the event loop, so that the window keeps
// answering while a column of pages is made.
void TPageStrip::MakeNext()
{
    // Rows scrolled out of sight before their turn are not made.
    for (auto it = wanted_.begin(); it != wanted_.end();)
        it = InSight(*it) ? std::next(it) : wanted_.erase(it);
    if (wanted_.empty() || !source_)
        return;
    const int row = *wanted_.begin();
    wanted_.erase(wanted_.begin());
    const int generation = generation_;
    const QImage page = source_(row + 1);
    if (generation != generation_)
        return; // the document changed while the page was read
    Thumbnail made;
    made.failed = page.isNull();
    made.pixmap = Framed(made.failed ? QImage() : PageThumbnail(page, kThumbnailBox - QSize(2, 2)), made.failed);
    made.used = ++clock_;
    thumbnails_[row] = std::move(made);
    ++made_;
    while (thumbnails_.size() > static_cast<std::size_t>(kMaxThumbnails)) {
        const auto oldest = std::min_element(thumbnails_.begin(), thumbnails_.end(),
                                             [](const auto& a, const auto& b) { return a.second.used < b.second.used; });
        thumbnails_.erase(oldest);
    }
    model_->Changed(row);
    if (!wanted_.empty())
        Schedule();
}

// The thumbnail centred on a white sheet in a thin frame, the box's size;
// without one a light grey sheet (not made yet), crossed out for a page that
// cannot be shown.
QPixmap TPageStrip::Framed(const QImage& thumbnail, bool failed) const
{
    QPixmap sheet(kThumbnailBox);
    sheet.fill(Qt::transparent);
    QPainter painter(&sheet);
    const QSize size = thumbnail.isNull() ? kThumbnailBox - QSize(2, 2) : thumbnail.size();
    const QRect page(QPoint((kThumbnailBox.width() - size.width()) / 2, (kThumbnailBox.height() - size.height()) / 2),
                     size);
    painter.fillRect(page, thumbnail.isNull() ? QColor(230, 230, 230) : QColor(Qt::white));
    if (!thumbnail.isNull())
        painter.drawImage(page.topLeft(), thumbnail);
    painter.setPen(Qt::gray);
    painter.drawRect(page.adjusted(-1, -1, 0, 0));
    if (failed) {
        painter.setPen(QPen(Qt::darkRed, 2));
        painter.drawLine(page.topLeft(), page.bottomRight());
        painter.drawLine(page.topRight(), page.bottomLeft());
    }
    return sheet;
}
