#pragma once
// TPageStrip: a column of page thumbnails beside the viewer. Clicking a
// thumbnail, or moving through them with the keys, chooses that page.
//
// Thumbnails are made lazily, one at a time from the event loop, and only
// for pages in sight; at most kMaxThumbnails are kept, the least recently
// shown dropped first. A fax of thousands of pages therefore renders the
// handful on screen, and holds no more than the limit.
#include <QListView>
#include <QPixmap>

#include <functional>
#include <map>
#include <set>

class QTimer;
class TPageStripModel;

class TPageStrip : public QListView {
public:
    static constexpr int kMaxThumbnails = 48;

    // The image of page `page` (1-based) as the viewer shows it; a null
    // image for a page that cannot be shown.
    using TPageSource = std::function<QImage(int page)>;

    explicit TPageStrip(QWidget* parent = nullptr);
    ~TPageStrip() override;

    void SetPageSource(TPageSource source) { source_ = std::move(source); }
    // A document of `pageCount` pages (0: none); every thumbnail is dropped.
    void Reset(int pageCount);
    // The pages look different now (turned): thumbnails are made afresh.
    void Refresh();
    // Marks the page shown in the viewer, without choosing it again.
    void ShowCurrentPage(int page);
    int PageCount() const;
    // Thumbnails held now, and how many were made since the last Reset.
    int HeldCount() const { return static_cast<int>(thumbnails_.size()); }
    int MadeCount() const { return made_; }

    // The user chose a page (1-based).
    std::function<void(int page)> OnPageChosen;

private:
    friend class TPageStripModel;

    struct Thumbnail {
        QPixmap pixmap;
        bool failed = false;
        quint64 used = 0;
    };

    // The thumbnail of row `row` if made; else it is queued and none returned.
    const Thumbnail* Find(int row);
    void Schedule();
    void MakeNext();
    bool InSight(int row) const;
    QPixmap Framed(const QImage& thumbnail, bool failed) const;
    void Forget();

    TPageStripModel* model_;
    QTimer* timer_;
    TPageSource source_;
    QPixmap placeholder_; // a page whose thumbnail is not made yet
    std::map<int, Thumbnail> thumbnails_;
    std::set<int> wanted_; // rows asked for and not made yet
    quint64 clock_ = 0;
    int made_ = 0;
    int generation_ = 0; // counts Resets, so that a thumbnail made meanwhile is dropped
    bool marking_ = false;
};
