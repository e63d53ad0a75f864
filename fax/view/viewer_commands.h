#pragma once
// The numbered commands of the fax viewer window, their argument records and
// the two notifications the window sends to itself. Every command goes
// through TViewer::Command(number, wParam, lParam) and returns its result.
#include <QImage>

#include <cstdint>
#include <functional>

constexpr unsigned kVwLoadFile = 32356;          // lParam: const char* file name -> error code
constexpr unsigned kVwSetForeground = 32357;     // lParam: colour 0xRRGGBB
constexpr unsigned kVwSetBackground = 32358;     // lParam: colour 0xRRGGBB
constexpr unsigned kVwSetScaling = 32359;        // lParam: const TViewerScaling*
constexpr unsigned kVwSetScrollSteps = 32360;    // wParam horizontal, lParam vertical; 0 keeps a step
constexpr unsigned kVwSelectAll = 32361;         // -> 0 or -8050
constexpr unsigned kVwSetSelection = 32362;      // lParam: const TViewerRect* -> 0 or -8050
constexpr unsigned kVwCopySelection = 32363;     // -> 0, -8050 or -8051
constexpr unsigned kVwSetDefaultProc = 32364;    // wParam 1 = child-window default; lParam: const TViewerDefaultProc* or 0
constexpr unsigned kVwSetWhitespace = 32365;     // wParam from, lParam to -> error code
constexpr unsigned kVwGetPageBitmap = 32366;     // wParam page; lParam: TViewerPageBitmap* -> 1 with a bitmap, else 0
constexpr unsigned kVwGetPageCount = 32367;
constexpr unsigned kVwLockRendering = 32368;
constexpr unsigned kVwUnlockRendering = 32369;
constexpr unsigned kVwSetCurrentPage = 32370;    // wParam page -> 0 or -1002
constexpr unsigned kVwGetCurrentPage = 32371;    // -> page, 0 without a file
constexpr unsigned kVwSetDesignText = 32372;     // lParam: const char* text
constexpr unsigned kVwSetRotation = 32373;       // wParam quarter turns 0-3 -> 0 or -8
constexpr unsigned kVwSetAspect = 32374;         // wParam 2 double height, 4 half width, 0 none
constexpr unsigned kVwPageShown = 32375;         // notification: lParam current page
constexpr unsigned kVwGetPageRect = 32376;       // lParam: TViewerRect*
constexpr unsigned kVwSetLoadWholeFax = 32377;   // wParam 0 or 1 -> error code
constexpr unsigned kVwSetBusyCursor = 32378;     // wParam Qt::CursorShape
constexpr unsigned kVwError = 32379;             // notification: wParam error code
constexpr unsigned kVwGetPageFlags = 32380;      // -> flags of the page decoded last
constexpr unsigned kVwGetFileName = 32381;       // -> const char* to the file name
constexpr unsigned kVwGetRotation = 32382;       // -> quarter turns 0-3 in force
constexpr unsigned kVwGetScaling = 32383;        // lParam: TViewerScaling* receiving the factors in force

struct TViewerScaling {
    int horizMult = 1;
    int horizDiv = 1;
    int vertMult = 1;
    int vertDiv = 1;
    bool operator==(const TViewerScaling&) const = default;
};

// Inclusive corners, like the selection.
struct TViewerRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const TViewerRect&) const = default;
};

// A page image handed out by kVwGetPageBitmap. The image is shared, so the
// caller holds its own reference whether or not the viewer caches the page.
struct TViewerPageBitmap {
    int width = 0;
    int height = 0;
    QImage bitmap;
};

// Receives the commands the viewer does not know: (number, wParam, lParam).
using TViewerDefaultProc = std::function<intptr_t(unsigned, uintptr_t, intptr_t)>;
