#include "viewer/playback/core/ViewCommands.h"

#include "viewer/resources/ResourceIds.h"

namespace korvex {

int gridSizeOfViewImageCommand(int viewImageCommand) {
    if (viewImageCommand < cmd::viewImage1 || viewImageCommand > cmd::viewImage16)
        return 0;
    return viewImageCommand - cmd::viewImage1 + 1;
}

int channelLayoutCommandFor(int viewImageCommand) {
    const int grid = gridSizeOfViewImageCommand(viewImageCommand);
    return grid == 0 ? 0 : cmd::channelImage1 + grid - 1;
}

bool viewCommandState(int commandId, const ViewMenuInput& input, CommandState& state) {
    if (commandId >= cmd::timeRightDown && commandId <= cmd::timeLeftDown) {
        state.enabled = true;
        state.checked = input.timePosition == commandId - cmd::timeRightDown;
        return true;
    }
    if (commandId == cmd::cameraTitle) {
        state.enabled = input.hasChannelInfo;
        state.checked = state.enabled && input.showCameraTitle;
        return true;
    }
    const int grid = gridSizeOfViewImageCommand(commandId);
    if (grid == 0)
        return false;
    state.enabled = input.hasChannelInfo;
    // The single pane is marked only with a recording open; the others by the layout alone.
    state.checked = grid == 1 ? input.hasSource && input.gridSize == 1 : input.gridSize == grid;
    return true;
}

}  // namespace korvex
