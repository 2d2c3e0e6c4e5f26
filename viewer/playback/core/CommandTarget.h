#pragma once

namespace korvex {

// The state a command's menu item and toolbar button show.
struct CommandState {
    bool enabled = true;
    bool checked = false;  // shown with a check mark (the action is made checkable)
};

// One link of the main frame's command routing. The frame offers every command (menu, toolbar,
// accelerator, CHANNEL menu) to the view first, then the document side, then itself, then the
// application; the first target that answers true owns it.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // Runs command `id`; false when this target does not handle it.
    virtual bool onCommand(int id) {
        (void)id;
        return false;
    }
    // Fills `state` for command `id`; false when this target does not handle it.
    virtual bool updateCommand(int id, CommandState& state) {
        (void)id;
        (void)state;
        return false;
    }
};

}  // namespace korvex
