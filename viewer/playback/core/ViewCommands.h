#pragma once

#include "viewer/playback/core/CommandTarget.h"

namespace korvex {

// What the View menu's marks depend on.
struct ViewMenuInput {
    bool hasSource = false;
    bool hasChannelInfo = false;  // the recording names its channels (hasChannel(-1))
    int gridSize = 1;
    int timePosition = 0;
    bool showCameraTitle = true;
};

// Enabling and check mark of the view's View menu commands: time positions 40031..40034, Camera
// Title 40035, layouts 40041..40044. False for any other id.
bool viewCommandState(int commandId, const ViewMenuInput& input, CommandState& state);

// The layout command of the CHANNEL menu (40001..40004) behind View > Image 40041..40044, or 0.
int channelLayoutCommandFor(int viewImageCommand);
// The grid size (1..4) of View > Image 40041..40044, or 0.
int gridSizeOfViewImageCommand(int viewImageCommand);

}  // namespace korvex
