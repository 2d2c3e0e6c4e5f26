#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <string>

#include "recording/DibBlock.h"
#include "viewer/playback/core/PaneGeometry.h"
#include "viewer/playback/core/PaneLayout.h"

// The painter of the image view: one pane's picture with its time text and alteration banners,
// drawn into the view's offscreen 24-bit picture. The screen, the printed page and the saved
// bitmap all come from here, so they show the same thing.

namespace korvex {

// Parts of a pane draw request.
inline constexpr int kPartPicture = 1;  // the picture and, in check mode, the banners
inline constexpr int kPartText = 2;     // the time text (and the print title when printing)
inline constexpr int kPartBlack = 4;    // no picture: the picture's place is black

// One pane to paint.
struct PaneDrawRequest {
    int parts = kPartPicture | kPartText;
    QRect rect;                         // the pane, in the target's pixels
    const DibBlock* picture = nullptr;  // not owned; null or unreadable: no picture
    std::int32_t index = 0;             // frame index (not drawn)
    std::int64_t time = 0;              // seconds since 1970; 0 = none
    std::string title;                  // camera title of the frame's channel
    bool doubleHeight = true;           // the rows are one field of an interlaced frame
    bool printing = false;              // the target is a printed page: add the print title
    bool halftone = true;               // smooth stretching
    std::int32_t frameFlags = -1;       // the frame's check flags
};

// The settings the painter reads besides the request: the document's display settings, whether
// the recording names its channels, the program's check mode and the print title.
struct OverlaySettings {
    std::int32_t dateFormat = 0;
    std::int32_t dateDelimiter = 0;
    std::int32_t timePosition = 0;
    bool showCameraTitle = true;
    bool hasChannelInfo = false;
    bool checkMode = false;
    std::string printTitle;
    // The time text, the camera title and the print title are written (an export may leave
    // them out; the view always writes them).
    bool showText = true;
};

// Where one request's picture and text go.
struct PanePlan {
    bool hasPicture = false;  // the request's picture is a readable DIB
    int pictureWidth = 0;
    int pictureHeight = 0;
    int croppedRows = 0;
    PixelRect destination;  // D: the 4:3 rectangle in the pane
    TextUnit unit;
    QString text;            // empty: no time text
    PixelRect textRect;      // measured on one line, placed by the time position
    bool textShown = false;  // the text fits: background darkened and text drawn
};

// Works out the layout of `request` without drawing.
PanePlan planPane(const PaneDrawRequest& request, const OverlaySettings& settings);

// Paints one pane into `target` (an offscreen picture from newOffscreen).
void paintPane(QImage& target, const PaneDrawRequest& request, const OverlaySettings& settings);

// The face of a frame that could not be decoded: the 3-D face colour with "invalid image" in the
// middle.
void paintInvalidImage(QImage& target, const QRect& rect);

// The red "IMAGE ALTERED" / "TIME ALTERED" banners over destination `d` for a frame's `flags`;
// nothing unless `checkMode`.
void paintAlterationBanners(QImage& target, const PixelRect& d, std::int32_t flags, bool checkMode);

// Darkens every colour byte inside `r` to 90 % (truncated), clipped to the picture; the
// background of the time text.
void darkenRect(QImage& target, const PixelRect& r);

// A new offscreen 24-bit picture (blue-green-red bytes, as the recorder's bitmaps) of `size`,
// filled with `fill`.
QImage newOffscreen(const QSize& size, const QColor& fill);

// The shown rows of a DIB block as a top-down picture: the cropped top rows of 248- and 296-row
// fields left out. Null when the block is not a readable 24- or 32-bit picture. Copies the
// pixels (the block may be freed afterwards).
QImage dibToImage(const DibBlock& block);

// Colours of the platform: the 3-D face (the view's background) and the window (a printed page).
QColor faceColour();
QColor windowColour();

// A font as the recorder software asked for it: a face name and a character height in pixels
// (the em size, without internal leading).
QFont pixelFont(const QString& face, int characterHeight, bool bold);

// ---- Whole pages: the single pane as the view shows it, the printed page, the saved bitmap ----

// One frame and what is written over it.
struct FrameContent {
    const DibBlock* picture = nullptr;  // not owned; null: the "invalid image" face
    std::int32_t index = 0;
    std::int64_t time = 0;
    std::string title;
    std::int32_t flags = -1;
};

// The single-pane picture of `pageSize`: the frame fitted 4:3 and centred with its overlays, or
// the invalid-image face when the frame has no readable picture (with the time and marks of its
// check when the frame was checked all the same). `printing`: the background is
// the window colour and the print title goes under the picture.
QImage renderSinglePane(const QSize& pageSize, const FrameContent& frame,
                        const OverlaySettings& settings, bool printing);

// The frame filled into a `size` picture as one pane (no print title), on the 3-D face colour:
// what a saved file shows. `size` is 4:3 for the saved file, so the picture fills it. Null when
// the frame has no readable picture or the size is empty or too large.
QImage renderPanePicture(const QSize& size, const FrameContent& frame,
                         const OverlaySettings& settings);

// ---- The multi-pane view ----

// The platform's sunken etched edge of one pixel around `r` in the `dark` and `light` colours of
// the palette.
void drawEtchedEdge(QImage& target, const QRect& r, const QColor& dark, const QColor& light);

// The panes of a multi-pane layout as the view shows them in `size`: the 3-D face colour, an
// etched edge around every pane, and in each pane the last frame its cache keeps (black without
// one). Only the background for a single-pane layout.
QImage renderPaneGrid(const QSize& size, const PaneLayout& panes, const OverlaySettings& settings);

}  // namespace korvex
