#include "viewer/playback/core/PaneLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "viewer/playback/core/ViewCommands.h"
#include "viewer/resources/ResourceIds.h"

namespace korvex {
namespace {

DibBlock somePicture() {
    return DibBlock::allocate(64);
}

// A recording whose INFO table names `channels`.
ChannelInfo recordingWith(std::set<int> channels) {
    ChannelInfo info;
    info.hasSource = true;
    info.hasChannel = [channels](int c) { return c == -1 || channels.count(c) != 0; };
    return info;
}

std::vector<int> ids(const std::vector<ChannelMenuItem>& items) {
    std::vector<int> out;
    for (const ChannelMenuItem& item : items)
        out.push_back(item.commandId);
    return out;
}

const ChannelMenuItem* find(const std::vector<ChannelMenuItem>& items, int id) {
    auto it = std::find_if(items.begin(), items.end(),
                           [id](const ChannelMenuItem& i) { return i.commandId == id; });
    return it == items.end() ? nullptr : &*it;
}

// A 4-pane layout showing channels 0..3 as the recording's default set would fill it.
PaneLayout fourPanes() {
    PaneLayout panes;
    panes.reset(0);
    const ChannelSelection s = panes.runChannelCommand(cmd::channelImage1 + 1);
    for (int p = 0; p < 4; ++p)
        s.row[p] = p;
    return panes;
}

TEST(PaneLayout, NewViewHasNoLayoutUntilReset) {
    PaneLayout panes;
    EXPECT_EQ(panes.gridSize(), 0);
    EXPECT_TRUE(panes.isMultiPane());
    EXPECT_EQ(panes.channelOfPane(0), kEmptyPane);

    panes.reset(2);
    EXPECT_EQ(panes.gridSize(), 1);
    EXPECT_FALSE(panes.isMultiPane());
    EXPECT_EQ(panes.paneCount(), 1);
    EXPECT_EQ(panes.channelOfPane(0), 2);
    EXPECT_EQ(panes.channelOfPane(1), kEmptyPane);  // outside the layout
}

TEST(PaneLayout, ResetEmptiesEveryLayoutAndCache) {
    PaneLayout panes = fourPanes();
    panes.storeCurrentFrame(1, somePicture(), 7, 1000, "Lobby", 0);
    EXPECT_TRUE(panes.cache(1).picture);
    panes.reset(-1);
    EXPECT_EQ(panes.channelOfPane(0), kAllChannels);
    EXPECT_EQ(panes.paneChannel(1, 1), kEmptyPane);
    panes.runChannelCommand(cmd::channelImage1 + 1);
    EXPECT_FALSE(panes.cache(1).picture);
    EXPECT_EQ(panes.cache(1).checkFlags, -1);
}

TEST(PaneLayout, CurrentFrameGoesToThePaneOfItsChannel) {
    PaneLayout panes = fourPanes();
    EXPECT_EQ(panes.storeCurrentFrame(2, somePicture(), 9, 1234, "Yard", 1), 2);
    const PaneCache& c = panes.cache(2);
    EXPECT_TRUE(c.picture);
    EXPECT_EQ(c.index, 9);
    EXPECT_EQ(c.time, 1234);
    EXPECT_EQ(c.title, "Yard");
    EXPECT_EQ(c.checkFlags, 1);

    // A channel no pane shows empties pane 0 instead.
    panes.storeCurrentFrame(0, somePicture(), 1, 5, "Gate", 0);
    EXPECT_TRUE(panes.cache(0).picture);
    EXPECT_EQ(panes.storeCurrentFrame(7, somePicture(), 3, 5, "x", 0), 0);
    EXPECT_FALSE(panes.cache(0).picture);
    EXPECT_TRUE(panes.cache(2).picture);
}

TEST(PaneLayout, SinglePaneMenuHasNoOneImageAndOnlyPresentChannels) {
    PaneLayout panes;
    panes.reset(kAllChannels);
    const auto items = panes.channelMenu(recordingWith({0, 1, 3}));
    EXPECT_EQ(ids(items), (std::vector<int>{40002, 40003, 40004, 40005, 40006, 40007, 40009}));
    for (const ChannelMenuItem& item : items)
        EXPECT_TRUE(item.enabled) << item.commandId;
    EXPECT_TRUE(find(items, 40005)->checked);  // all channels shown
    EXPECT_FALSE(find(items, 40006)->checked);
}

TEST(PaneLayout, NinePaneMenuOffersTheOtherLayoutsAndNoAllChannels) {
    PaneLayout panes;
    panes.reset(0);
    const ChannelSelection s = panes.runChannelCommand(40003);
    s.row[0] = 0;
    s.row[1] = 1;
    s.row[2] = 2;
    panes.setActivePane(1);
    const auto items = panes.channelMenu(recordingWith({0, 1, 2, 3}));
    EXPECT_EQ(ids(items), (std::vector<int>{40001, 40002, 40004, 40006, 40007, 40008, 40009}));
    EXPECT_FALSE(find(items, 40006)->enabled);  // shown in pane 0
    EXPECT_TRUE(find(items, 40007)->enabled);   // the active pane's own channel
    EXPECT_TRUE(find(items, 40007)->checked);
    EXPECT_FALSE(find(items, 40008)->enabled);  // shown in pane 2
    EXPECT_TRUE(find(items, 40009)->enabled);   // shown nowhere
    EXPECT_FALSE(find(items, 40009)->checked);
}

TEST(PaneLayout, ItemsNeedChannelInformation) {
    PaneLayout panes;
    panes.reset(kEmptyPane);
    ChannelInfo noInfo;
    noInfo.hasSource = true;
    noInfo.hasChannel = [](int) { return false; };
    EXPECT_FALSE(panes.channelItemState(40002, noInfo).enabled);
    EXPECT_FALSE(panes.channelItemState(40005, noInfo).enabled);
    EXPECT_TRUE(panes.channelItemState(40002, recordingWith({0})).enabled);
    EXPECT_FALSE(panes.channelItemState(40008, recordingWith({0})).enabled);  // channel 2 absent
    EXPECT_FALSE(panes.channelItemState(40002, ChannelInfo{}).enabled);       // no recording
}

TEST(PaneLayout, ChoosingTheShownChannelEmptiesThePane) {
    PaneLayout panes = fourPanes();
    panes.storeCurrentFrame(1, somePicture(), 4, 99, "Lobby", 0);
    panes.setActivePane(1);
    const ChannelSelection s = panes.runChannelCommand(40007);  // channel 1, already shown
    ASSERT_TRUE(s.handled);
    EXPECT_EQ(s.chosen, kEmptyPane);
    EXPECT_TRUE(s.invalidate);
    EXPECT_EQ(s.paneCount, 4);
    EXPECT_EQ(s.row, panes.channelRow(1));
    EXPECT_EQ(panes.channelOfPane(1), kEmptyPane);
    EXPECT_FALSE(panes.cache(1).picture);
    EXPECT_EQ(panes.cache(1).time, 0);
    EXPECT_EQ(panes.cache(1).title, "");

    // Another channel replaces it.
    const ChannelSelection again = panes.runChannelCommand(40011);  // channel 5
    EXPECT_EQ(again.chosen, 5);
    EXPECT_FALSE(again.invalidate);
    EXPECT_EQ(panes.channelOfPane(1), 5);
}

TEST(PaneLayout, OneImageTakesTheActivePanesChannel) {
    struct Case {
        int activePane;
        std::int32_t singleBefore;
        std::int32_t chosen;
    };
    // Pane 2 shows channel 2; pane 3 is emptied below; -9 keeps the single pane's channel.
    const Case cases[] = {{2, 0, 2}, {3, 0, kAllChannels}, {kKeepSinglePane, 0, 0}};
    for (const Case& c : cases) {
        PaneLayout panes = fourPanes();
        panes.channelRow(1)[3] = kEmptyPane;
        panes.channelRow(0)[0] = c.singleBefore;
        panes.setActivePane(c.activePane);
        const ChannelSelection s = panes.runChannelCommand(40001);
        ASSERT_TRUE(s.handled);
        EXPECT_EQ(panes.gridSize(), 1);
        EXPECT_EQ(s.chosen, c.chosen) << c.activePane;
        EXPECT_EQ(s.paneCount, 1);
        EXPECT_EQ(s.row, panes.channelRow(0));
        EXPECT_EQ(panes.channelOfPane(0), c.chosen) << c.activePane;
    }
}

TEST(PaneLayout, LayoutCommandsAskForAllChannelsOfTheNewRow) {
    PaneLayout panes;
    panes.reset(3);
    for (int grid = 2; grid <= 4; ++grid) {
        const ChannelSelection s = panes.runChannelCommand(40000 + grid);
        ASSERT_TRUE(s.handled);
        EXPECT_EQ(panes.gridSize(), grid);
        EXPECT_EQ(s.chosen, kAllChannels);
        EXPECT_EQ(s.paneCount, grid * grid);
        EXPECT_EQ(s.row, panes.channelRow(grid - 1));
    }
    // Each layout keeps its own channels.
    panes.channelRow(1)[0] = 6;
    panes.runChannelCommand(40003);
    panes.runChannelCommand(40002);
    EXPECT_EQ(panes.channelOfPane(0), 6);
}

TEST(PaneLayout, SinglePaneChannelCommandReplacesItsChannel) {
    PaneLayout panes;
    panes.reset(0);
    const ChannelSelection all = panes.runChannelCommand(40005);
    EXPECT_EQ(all.chosen, kAllChannels);
    EXPECT_EQ(panes.channelOfPane(0), kAllChannels);
    const ChannelSelection three = panes.runChannelCommand(40009);
    EXPECT_EQ(three.chosen, 3);
    EXPECT_EQ(three.paneCount, 1);
    EXPECT_EQ(panes.channelOfPane(0), 3);
}

TEST(PaneLayout, CommandsOutsideTheRangeOrWithoutAPaneDoNothing) {
    PaneLayout panes = fourPanes();
    EXPECT_FALSE(panes.runChannelCommand(40022).handled);
    EXPECT_FALSE(panes.runChannelCommand(40000).handled);
    panes.setActivePane(9);  // no such pane in the 4-pane layout
    EXPECT_FALSE(panes.runChannelCommand(40006).handled);
    panes.setActivePane(-1);
    EXPECT_FALSE(panes.runChannelCommand(40006).handled);
    EXPECT_EQ(panes.channelOfPane(0), 0);

    PaneLayout fresh;  // no layout yet
    EXPECT_FALSE(fresh.runChannelCommand(40006).handled);
}

TEST(ViewCommands, MarksAndEnabling) {
    ViewMenuInput in;
    in.hasSource = true;
    in.hasChannelInfo = true;
    in.gridSize = 3;
    in.timePosition = 2;
    in.showCameraTitle = true;
    struct Case {
        int id;
        bool enabled, checked;
    };
    const Case cases[] = {
        {40031, true, false}, {40033, true, true},  {40034, true, false}, {40035, true, true},
        {40041, true, false}, {40042, true, false}, {40043, true, true},  {40044, true, false},
    };
    for (const Case& c : cases) {
        CommandState state;
        ASSERT_TRUE(viewCommandState(c.id, in, state)) << c.id;
        EXPECT_EQ(state.enabled, c.enabled) << c.id;
        EXPECT_EQ(state.checked, c.checked) << c.id;
    }

    // Without channel information the title and layouts go grey; positions stay.
    in.hasChannelInfo = false;
    in.gridSize = 1;
    CommandState state;
    viewCommandState(40035, in, state);
    EXPECT_FALSE(state.enabled);
    EXPECT_FALSE(state.checked);
    viewCommandState(40041, in, state);
    EXPECT_FALSE(state.enabled);
    EXPECT_TRUE(state.checked);  // a recording is open in one pane
    viewCommandState(40032, in, state);
    EXPECT_TRUE(state.enabled);

    in.hasSource = false;
    viewCommandState(40041, in, state);
    EXPECT_FALSE(state.checked);

    EXPECT_FALSE(viewCommandState(40036, in, state));
    EXPECT_FALSE(viewCommandState(32773, in, state));  // the frame's dialog
    EXPECT_EQ(channelLayoutCommandFor(40043), 40003);
    EXPECT_EQ(channelLayoutCommandFor(40045), 0);
}

}  // namespace
}  // namespace korvex
