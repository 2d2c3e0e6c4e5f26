#pragma once

#include <QImage>
#include <QSize>
#include <QWidget>
#include <memory>
#include <vector>

#include "viewer/playback/CKorvexDoc.h"
#include "viewer/playback/FramePainter.h"
#include "viewer/playback/core/CommandTarget.h"
#include "viewer/playback/core/PaneLayout.h"

class QMenu;

namespace korvex {

// The image view: the upper row of the main window. Shows the document's current frame alone or
// a grid of 4, 9 or 16 panes, each keeping the last frame of its channel, with the time text,
// camera title and (in check mode) the alteration banners. Every paint goes through one
// offscreen 24-bit picture copied to the window in a single transfer; the background is never
// erased. A right click opens the CHANNEL menu; a double click on a pane shows its channel alone.
//
// Command routing offers every command to the view first: it takes the CHANNEL items
// 40001..40021, View > Time Display Position 40031..40034, View > Camera Title 40035 and
// View > Image 40041..40044.
class CKorvexView : public QWidget, public ViewPort, public CommandTarget {
    Q_OBJECT
public:
    explicit CKorvexView(CKorvexDoc& doc, QWidget* parent = nullptr);
    ~CKorvexView() override;

    CKorvexDoc& document() const { return doc_; }
    // The control panel told about channel and layout changes. When none is set, the view looks
    // for a PanelPort among its sibling widgets (the main frame's panel row).
    void setPanelPort(PanelPort* panel) { panel_ = panel; }

    // ---- ViewPort ----
    void redrawView() override;
    // Reset: one pane showing the source's default channel (-1 without a source); every pane
    // cache emptied.
    void resetView() override;
    bool isMultiPane() const override { return panes_.isMultiPane(); }
    int paneCount() const override { return panes_.paneCount(); }
    int channelOfPane(int pane) const override { return panes_.channelOfPane(pane); }

    int gridSize() const { return panes_.gridSize(); }
    int activePane() const { return panes_.activePane(); }
    const PaneLayout& panes() const { return panes_; }
    // The pane rectangles of the current layout for the view's present size.
    std::vector<PixelRect> paneRectangles() const;

    // ---- CommandTarget ----
    bool onCommand(int id) override;
    bool updateCommand(int id, CommandState& state) override;

    // The CHANNEL menu for a right click at `pos` (view coordinates), built but not shown; its
    // actions run their commands. Picks the active pane. Null when the click brings no menu (no
    // recording, a recording without channels, a click beside every pane).
    std::unique_ptr<QMenu> createChannelMenu(const QPoint& pos);

    // Multi-pane: the document's current frame goes into the cache of its channel's pane. Every
    // paint does this first; the screenshot mode uses it to fill panes from earlier frames.
    void captureCurrentFrame();

    // The whole view painted into a new offscreen picture of `size` (what a paint shows).
    QImage renderView(const QSize& size);

    // Settings the painter reads: the document's, the recording's and the application's.
    OverlaySettings overlaySettings() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void runChannelCommand(int id);
    ChannelInfo channelInfo() const;
    PanelPort* panelPort() const;

    CKorvexDoc& doc_;
    PaneLayout panes_;
    PanelPort* panel_ = nullptr;
};

// ---- The current frame for printing and saving (they draw exactly what the view draws) ----

// The display settings of `doc`, its check mode included.
OverlaySettings overlaySettingsFor(const CKorvexDoc& doc);
// The document's current frame (picture not copied: valid while the document keeps it).
FrameContent currentFrameOf(const CKorvexDoc& doc);
// The printed page: the current frame fitted 4:3 into `page` (printer pixels) on the window
// colour, with its overlays and the print title below it; the invalid-image face without a
// picture. Null for an empty or oversized page.
QImage renderForPrint(const CKorvexDoc& doc, const QSize& page);
// The saved picture: the current frame filling `width` x `height` with its overlays, on the
// 3-D face colour. Null without a picture.
QImage renderForSave(const CKorvexDoc& doc, int width, int height);

}  // namespace korvex
