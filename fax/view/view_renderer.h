#pragma once
// Drawing part of a page image into the viewer's client area: scaled by the
// four factors, black pixels in the foreground colour and white ones in the
// background colour, the selection inverted.
#include "fax/view/viewer_commands.h"

#include <QImage>
#include <QPoint>
#include <QRect>

struct TViewFrame {
    TViewerScaling scale;
    QPoint offset;          // displayed-image position of the client's top-left corner
    QSize displayed;        // page size after scaling
    QRgb foreground = 0xFF000000;
    QRgb background = 0xFFFFFFFF;
    const TViewerRect* selection = nullptr; // displayed-image coordinates, or none
};

// The client rectangle `area` as an RGB32 image. At a scale of 100 % and
// above every displayed pixel takes its nearest page pixel, so pixels stay
// sharp blocks; an axis scaled below 100 % averages the page pixels each
// displayed pixel covers into a grey level, so thin strokes stay visible.
// Whatever lies outside the displayed image is background.
QImage RenderViewArea(const QImage& page, const TViewFrame& frame, const QRect& area);

// RenderViewArea for a device with `pixelRatio` device pixels to a client
// pixel (a Hi-DPI screen): the page is scaled straight to device pixels, so
// that a zoomed-out page keeps its thin strokes sharp instead of showing
// each averaged client pixel as a block. `area` stays in client pixels; the
// image carries the ratio, so it is drawn at the area's client size.
QImage RenderViewAreaForDevice(const QImage& page, const TViewFrame& frame, const QRect& area, int pixelRatio);

// The page pixels under the displayed rectangle `block`, as a black-on-white
// monochrome image the size of the block (nearest page pixel per pixel).
QImage CopyDisplayedBlock(const QImage& page, const TViewerScaling& scale, const TViewerRect& block);
