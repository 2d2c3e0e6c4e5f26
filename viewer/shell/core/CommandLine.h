#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvex {

// True when `arg` is the switch "check": "/" or "-" followed by "check" in any letter case.
bool isCheckSwitch(std::string_view arg);

// What the viewer's command line asks for.
struct LaunchOptions {
    bool checkMode = false;  // "/check", "-check" (any case) or "--check"
    std::string folder;      // the recording to open at start-up (first plain argument)
    std::vector<std::string> extraArguments;   // further plain arguments (ignored)
    std::vector<std::string> unknownSwitches;  // reported, otherwise ignored
    // "--screenshot OUT.png [--frame N] [--panes 1|4|9|16]": render one frame without a
    // visible window and exit.
    std::string screenshotPath;
    int screenshotFrame = 1;  // 1-based frame number
    int screenshotPanes = 1;
    bool help = false;     // "--help" or "-h": print the usage and exit
    bool version = false;  // "--version": print the version and exit
    std::string error;     // a malformed option; empty when the line is usable
};

// Parses the arguments after the program name. Short switches follow the recorder software's
// rule (one "/" or "-" in front, the name compared without regard to case). Because absolute
// paths on Linux start with "/", an argument "/name" is a switch only when it names a known
// switch; anything else starting with "/" is a path. Long options use "--".
LaunchOptions parseCommandLine(const std::vector<std::string>& args);

// Whether Qt should be told to use its offscreen platform: a screenshot run needs no screen, and
// without a display (neither `display` nor `waylandDisplay` set) the default platform would end
// the program before it starts. A platform the user chose (`qtPlatform`) is kept. The arguments
// are the values of DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM, null when unset.
bool screenshotNeedsOffscreen(const LaunchOptions& options, const char* display,
                              const char* waylandDisplay, const char* qtPlatform);

// The text "korvex --help" prints.
std::string usageText();

// The viewer's version, as its About boxes show it.
inline constexpr const char* kViewerVersion = "2.1.5";

}  // namespace korvex
