#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recording/DibBlock.h"
#include "viewer/playback/core/CommandTarget.h"

namespace korvex {

inline constexpr int kMaxGrid = 4;
inline constexpr int kMaxPanes = 16;
inline constexpr std::int32_t kEmptyPane = -9;    // a pane (or channel slot) showing nothing
inline constexpr std::int32_t kAllChannels = -1;  // the single pane shows every channel
inline constexpr int kKeepSinglePane = -9;        // activePane: 40001 keeps the single channel

// The last frame a pane showed: kept so that each pane goes on showing its channel while frames
// of other channels are current.
struct PaneCache {
    DibBlock picture;  // owned copy, or empty
    std::int32_t index = 0;
    std::int64_t time = 0;  // seconds since 1970
    std::string title;
    std::int32_t checkFlags = -1;

    void clear() {
        picture.reset();
        index = 0;
        time = 0;
        title.clear();
        checkFlags = -1;
    }
};

// What the CHANNEL menu needs to know of the open recording.
struct ChannelInfo {
    bool hasSource = false;
    // hasChannel(c) of the source; c = -1 asks whether the recording names channels at all.
    std::function<bool(int channel)> hasChannel;

    bool has(int channel) const { return hasSource && hasChannel && hasChannel(channel); }
};

// One item of the CHANNEL menu (resource 141) after its removal and enabling rules.
struct ChannelMenuItem {
    int commandId = 0;
    int channel = 0;  // -1 for "--"; for layout items the layout's grid size
    bool isLayout = false;
    bool enabled = false;
    bool checked = false;
};

// The result of a CHANNEL command, for the caller to pass on to the document's SelectChannels.
struct ChannelSelection {
    bool handled = false;
    std::int32_t chosen = kAllChannels;
    int paneCount = 1;
    std::int32_t* row = nullptr;  // 16 entries of the new layout; the source may fill it
    bool invalidate = false;      // the pane went empty: repaint it even if nothing else changes
};

// The view's panes: layout (1, 4, 9 or 16), the channel of every pane of every layout, the pane
// caches and the pane the CHANNEL menu acts on. No drawing here.
class PaneLayout {
public:
    PaneLayout();

    int gridSize() const { return gridSize_; }
    // L = gridSize - 1; 0 for a view that has no layout yet.
    int layoutIndex() const { return gridSize_ > 0 ? gridSize_ - 1 : 0; }
    int paneCount() const { return gridSize_ * gridSize_; }
    // A new view (grid 0) counts as multi-pane, as the original does, until its first reset.
    bool isMultiPane() const { return gridSize_ != 1; }
    // The channel pane `pane` of the current layout shows; -9 for a pane outside the layout.
    std::int32_t channelOfPane(int pane) const;
    std::int32_t paneChannel(int layout, int pane) const;
    // The 16-entry row of `layout` (0..3).
    std::int32_t* channelRow(int layout);

    int activePane() const { return activePane_; }
    void setActivePane(int pane) { activePane_ = pane; }

    // One pane showing `defaultChannel` (-1 without a source); every cache emptied.
    void reset(std::int32_t defaultChannel);

    const PaneCache& cache(int pane) const;
    PaneCache& cache(int pane);

    // Multi-pane paint: the current frame goes into the first pane of the layout that shows its
    // channel; when no pane does, pane 0 is emptied instead. Returns that pane.
    int storeCurrentFrame(std::int32_t currentChannel, DibBlock picture, std::int32_t index,
                          std::int64_t time, std::string title, std::int32_t checkFlags);

    // The CHANNEL menu for the active pane: the items that stay in the menu (missing channels
    // and the current layout removed, "--" only in the single pane), in menu order.
    std::vector<ChannelMenuItem> channelMenu(const ChannelInfo& info) const;
    // Enabling and check mark of CHANNEL item `commandId` (40001..40021).
    CommandState channelItemState(int commandId, const ChannelInfo& info) const;

    // Runs CHANNEL command 40001..40021; handled = false for other ids.
    ChannelSelection runChannelCommand(int commandId);

private:
    int gridSize_ = 0;
    std::array<std::array<std::int32_t, kMaxPanes>, kMaxGrid> paneChannels_{};
    std::array<std::array<PaneCache, kMaxPanes>, kMaxGrid> caches_;
    int activePane_ = 0;
};

}  // namespace korvex
