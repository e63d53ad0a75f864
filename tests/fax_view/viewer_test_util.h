#pragma once
// Helpers for the viewer tests: a shown viewer widget on the offscreen
// platform, libtiff's reference pages as pixel grids, and the comparison of
// what the widget draws with a reference.
#include "fax/view/fax_viewer.h"
#include "tests/fax/fax_test_util.h"

#include <QCoreApplication>
#include <QImage>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

// A page as black (true) and white pixels.
struct PixelGrid {
    int width = 0;
    int height = 0;
    std::vector<bool> black;
    bool At(int x, int y) const { return black[static_cast<std::size_t>(y) * width + x]; }
    int BlackCount() const
    {
        int n = 0;
        for (bool b : black)
            n += b;
        return n;
    }
};

// libtiff's decoding of a fixture page, without the last row (ghostscript
// ends a page without an end-of-line code after it, so the decoder drops it).
inline PixelGrid ReferencePage(const std::string& png)
{
    const QImage ref(QString::fromStdString(FaxFixture(png)));
    PixelGrid grid{ref.width(), ref.height() - 1, {}};
    grid.black.resize(static_cast<std::size_t>(grid.width) * grid.height);
    for (int y = 0; y < grid.height; ++y)
        for (int x = 0; x < grid.width; ++x)
            grid.black[static_cast<std::size_t>(y) * grid.width + x] = qGray(ref.pixel(x, y)) < 128;
    return grid;
}

// Turns a grid clockwise by quarter turns, exactly.
inline PixelGrid Turned(const PixelGrid& g, int quarterTurns)
{
    PixelGrid out = g;
    for (int t = 0; t < quarterTurns; ++t) {
        PixelGrid next{out.height, out.width, std::vector<bool>(out.black.size())};
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x)
                next.black[static_cast<std::size_t>(x) * next.width + (out.height - 1 - y)] = out.At(x, y);
        out = std::move(next);
    }
    return out;
}

inline PixelGrid Cropped(const PixelGrid& g, int width)
{
    PixelGrid out{width, g.height, {}};
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < width; ++x)
            out.black.push_back(g.At(x, y));
    return out;
}

// Moves the content right and down, growing the grid by the same amount.
inline PixelGrid Shifted(const PixelGrid& g, int right, int down)
{
    PixelGrid out{g.width + right, g.height + down, {}};
    out.black.assign(static_cast<std::size_t>(out.width) * out.height, false);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            out.black[static_cast<std::size_t>(y + down) * out.width + x + right] = g.At(x, y);
    return out;
}

// A viewer shown on the offscreen platform with a client area of `client`.
inline std::unique_ptr<TKivFaxViewer> ShownViewer(QSize client = QSize(400, 300))
{
    auto viewer = std::make_unique<TKivFaxViewer>();
    viewer->setObjectName(QStringLiteral("FaxViewer"));
    viewer->show();
    const QSize frame = viewer->size() - viewer->viewport()->size();
    viewer->resize(client + frame);
    return viewer;
}

inline void LoadFixture(TKivFaxViewer& viewer, const std::string& name)
{
    viewer.SetFileName(QString::fromStdString(FaxFixture(name)));
    QCoreApplication::processEvents(); // the scroll bars appear
}

inline QImage ClientImage(TKivFaxViewer& viewer) { return viewer.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

inline QPoint Offsets(TKivFaxViewer& viewer)
{
    return QPoint(viewer.horizontalScrollBar()->value(), viewer.verticalScrollBar()->value());
}

// The displayed-image position of the client's top-left corner: the scroll
// position, less the margin that centres a page narrower or lower than the
// client.
inline QPoint DisplayedOrigin(TKivFaxViewer& viewer)
{
    TViewerRect page;
    viewer.Perform(kVwGetPageRect, 0, reinterpret_cast<intptr_t>(&page));
    TViewerScaling scale;
    viewer.Perform(kVwGetScaling, 0, reinterpret_cast<intptr_t>(&scale));
    const QSize displayed(int(int64_t(page.right + 1) * scale.horizMult / scale.horizDiv),
                          int(int64_t(page.bottom + 1) * scale.vertMult / scale.vertDiv));
    const QSize client = viewer.viewport()->size();
    const QPoint margin(std::max(0, (client.width() - displayed.width()) / 2),
                        std::max(0, (client.height() - displayed.height()) / 2));
    return Offsets(viewer) - margin;
}

// What one client pixel should show: `expected` gives the colour of the
// displayed-image pixel (x, y) (background outside the image). Counts the
// pixels that differ.
template <typename Expected>
int CountMismatches(const QImage& client, QPoint offset, Expected expected)
{
    int mismatches = 0;
    for (int y = 0; y < client.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(client.constScanLine(y));
        for (int x = 0; x < client.width(); ++x)
            mismatches += (row[x] & 0xFFFFFF) != (expected(x + offset.x(), y + offset.y()) & 0xFFFFFF);
    }
    return mismatches;
}

// The client area against `page` shown at an integer zoom, black pixels in
// `fg`, white ones and the area outside the page in `bg`.
inline int CountMismatches(TKivFaxViewer& viewer, const PixelGrid& page, int zoom = 1, QRgb fg = 0x000000,
                           QRgb bg = 0xFFFFFF)
{
    return CountMismatches(ClientImage(viewer), DisplayedOrigin(viewer), [&](int x, int y) {
        if (x < 0 || y < 0)
            return bg;
        const int px = x / zoom;
        const int py = y / zoom;
        if (px >= page.width || py >= page.height)
            return bg;
        return page.At(px, py) ? fg : bg;
    });
}
