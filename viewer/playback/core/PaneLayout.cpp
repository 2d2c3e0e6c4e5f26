#include "viewer/playback/core/PaneLayout.h"

#include "viewer/resources/ResourceIds.h"

namespace korvex {

namespace {

bool validPane(int pane) {
    return pane >= 0 && pane < kMaxPanes;
}

// The channel of CHANNEL item `commandId`: 40005 is every channel (-1), 40006.. are 0..15.
int channelOfItem(int commandId) {
    return commandId - cmd::channelFirst;
}

bool isLayoutItem(int commandId) {
    return commandId >= cmd::channelImage1 && commandId < cmd::channelAll;
}

bool isChannelItem(int commandId) {
    return commandId >= cmd::channelAll && commandId <= cmd::channelLast;
}

}  // namespace

PaneLayout::PaneLayout() {
    for (auto& row : paneChannels_)
        row.fill(kEmptyPane);
}

std::int32_t PaneLayout::paneChannel(int layout, int pane) const {
    if (layout < 0 || layout >= kMaxGrid || !validPane(pane))
        return kEmptyPane;
    return paneChannels_[static_cast<std::size_t>(layout)][static_cast<std::size_t>(pane)];
}

std::int32_t PaneLayout::channelOfPane(int pane) const {
    if (gridSize_ == 0 || pane < 0 || pane >= paneCount())
        return kEmptyPane;
    return paneChannel(layoutIndex(), pane);
}

std::int32_t* PaneLayout::channelRow(int layout) {
    if (layout < 0 || layout >= kMaxGrid)
        return nullptr;
    return paneChannels_[static_cast<std::size_t>(layout)].data();
}

void PaneLayout::reset(std::int32_t defaultChannel) {
    gridSize_ = 1;
    for (auto& row : paneChannels_)
        row.fill(kEmptyPane);
    for (auto& row : caches_) {
        for (PaneCache& c : row)
            c.clear();
    }
    paneChannels_[0][0] = defaultChannel;
    activePane_ = 0;
}

const PaneCache& PaneLayout::cache(int pane) const {
    const int p = validPane(pane) ? pane : 0;
    return caches_[static_cast<std::size_t>(layoutIndex())][static_cast<std::size_t>(p)];
}

PaneCache& PaneLayout::cache(int pane) {
    const int p = validPane(pane) ? pane : 0;
    return caches_[static_cast<std::size_t>(layoutIndex())][static_cast<std::size_t>(p)];
}

int PaneLayout::storeCurrentFrame(std::int32_t currentChannel, DibBlock picture, std::int32_t index,
                                  std::int64_t time, std::string title, std::int32_t checkFlags) {
    int pane = -1;
    for (int p = 0; p < paneCount() && p < kMaxPanes; ++p) {
        if (paneChannel(layoutIndex(), p) == currentChannel) {
            pane = p;
            break;
        }
    }
    if (pane < 0) {
        cache(0).clear();
        return 0;
    }
    PaneCache& c = cache(pane);
    c.clear();
    c.picture = std::move(picture);
    c.index = index;
    c.time = time;
    c.title = std::move(title);
    c.checkFlags = checkFlags;
    return pane;
}

CommandState PaneLayout::channelItemState(int commandId, const ChannelInfo& info) const {
    CommandState state;
    state.enabled = false;
    state.checked = false;
    if (isLayoutItem(commandId)) {
        state.enabled = info.has(-1);
        return state;
    }
    if (!isChannelItem(commandId))
        return state;
    const int channel = channelOfItem(commandId);
    state.enabled = info.has(channel);
    const int active = isMultiPane() ? activePane_ : 0;
    if (isMultiPane() && state.enabled) {
        for (int p = 0; p < paneCount() && p < kMaxPanes; ++p) {
            if (p != active && paneChannel(layoutIndex(), p) == channel) {
                state.enabled = false;
                break;
            }
        }
    }
    state.checked = state.enabled && validPane(active) && active < paneCount() &&
                    paneChannel(layoutIndex(), active) == channel;
    return state;
}

std::vector<ChannelMenuItem> PaneLayout::channelMenu(const ChannelInfo& info) const {
    std::vector<ChannelMenuItem> items;
    const bool multi = isMultiPane();
    for (int id = cmd::channelImage1; id <= cmd::channelLast; ++id) {
        ChannelMenuItem item;
        item.commandId = id;
        if (isLayoutItem(id)) {
            item.isLayout = true;
            item.channel = id - cmd::channelImage1 + 1;  // grid size of the layout
            // The layout on show is not offered again; the single pane offers no "1 image".
            if (item.channel == gridSize_)
                continue;
        } else {
            item.channel = channelOfItem(id);
            if (id == cmd::channelAll) {
                // "--" (every channel at once) only makes sense in the single pane.
                if (multi)
                    continue;
            } else if (!info.has(item.channel)) {
                continue;
            }
        }
        const CommandState state = channelItemState(id, info);
        item.enabled = state.enabled;
        item.checked = state.checked;
        items.push_back(item);
    }
    return items;
}

ChannelSelection PaneLayout::runChannelCommand(int commandId) {
    ChannelSelection s;
    const int shownLayout = layoutIndex();
    if (commandId == cmd::channelImage1) {
        gridSize_ = 1;
        if (activePane_ == kKeepSinglePane || !validPane(activePane_)) {
            s.chosen = paneChannels_[0][0];
        } else {
            s.chosen = paneChannel(shownLayout, activePane_);
            if (s.chosen == kEmptyPane)
                s.chosen = kAllChannels;
            paneChannels_[0][0] = s.chosen;
        }
        s.handled = true;
        s.paneCount = 1;
        s.row = channelRow(0);
        return s;
    }
    if (isLayoutItem(commandId)) {
        gridSize_ = commandId - cmd::channelImage1 + 1;
        s.handled = true;
        s.chosen = kAllChannels;
        s.paneCount = paneCount();
        s.row = channelRow(layoutIndex());
        return s;
    }
    if (!isChannelItem(commandId) || gridSize_ == 0)
        return s;

    s.chosen = channelOfItem(commandId);
    if (isMultiPane()) {
        const int a = activePane_;
        if (a < 0 || a >= paneCount() || a >= kMaxPanes)
            return s;  // no pane was picked: nothing to change
        auto& channel =
            paneChannels_[static_cast<std::size_t>(shownLayout)][static_cast<std::size_t>(a)];
        PaneCache& c = cache(a);
        if (channel != kEmptyPane && c.picture)
            c.clear();
        // Choosing the channel a pane already shows empties the pane.
        if (channel == s.chosen)
            s.chosen = kEmptyPane;
        channel = s.chosen;
    } else {
        paneChannels_[0][0] = s.chosen;
    }
    s.handled = true;
    s.invalidate = s.chosen == kEmptyPane;
    s.paneCount = paneCount();
    s.row = channelRow(layoutIndex());
    return s;
}

}  // namespace korvex
