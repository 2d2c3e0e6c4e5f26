#include "viewer/shell/core/CommandLine.h"

#include <charconv>

#include "platform/FileSystem.h"

namespace korvex {

namespace {

bool parseInt(std::string_view text, int& out) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    out = value;
    return true;
}

}  // namespace

bool isCheckSwitch(std::string_view arg) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
        return false;
    return platform::equalsNoCase(arg.substr(1), "check");
}

LaunchOptions parseCommandLine(const std::vector<std::string>& args) {
    LaunchOptions options;
    auto fail = [&options](std::string message) {
        if (options.error.empty())
            options.error = std::move(message);
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (isCheckSwitch(arg) || platform::equalsNoCase(arg, "--check")) {
            options.checkMode = true;
            continue;
        }
        if (arg == "-h" || platform::equalsNoCase(arg, "--help")) {
            options.help = true;
            continue;
        }
        if (arg.starts_with("--")) {
            const std::string name = platform::asciiLower(arg.substr(2));
            if (name == "version") {
                options.version = true;
                continue;
            }
            if (name == "screenshot" || name == "frame" || name == "panes") {
                if (i + 1 >= args.size()) {
                    fail("option " + arg + " needs a value");
                    continue;
                }
                const std::string& value = args[++i];
                if (name == "screenshot") {
                    options.screenshotPath = value;
                } else if (name == "frame") {
                    if (!parseInt(value, options.screenshotFrame) || options.screenshotFrame < 1) {
                        fail("--frame wants a frame number from 1: " + value);
                    }
                } else if (!parseInt(value, options.screenshotPanes) ||
                           (options.screenshotPanes != 1 && options.screenshotPanes != 4 &&
                            options.screenshotPanes != 9 && options.screenshotPanes != 16)) {
                    fail("--panes wants 1, 4, 9 or 16: " + value);
                }
                continue;
            }
            options.unknownSwitches.push_back(arg);
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            options.unknownSwitches.push_back(arg);
            continue;
        }
        if (arg.empty())
            continue;
        if (options.folder.empty()) {
            options.folder = arg;
        } else {
            options.extraArguments.push_back(arg);
        }
    }
    return options;
}

std::string usageText() {
    return "usage: korvex [/check] [FOLDER]\n"
           "       korvex --screenshot OUT.png [--frame N] [--panes 1|4|9|16] [/check] FOLDER\n"
           "\n"
           "Plays and checks the recordings of a video recorder.\n"
           "\n"
           "  FOLDER              a recording folder to open at start-up\n"
           "  /check, -check      check mode: mark frames whose picture or time was altered\n"
           "  --screenshot OUT    render the window at one frame into a PNG file and exit\n"
           "                      (no window is shown)\n"
           "  --frame N           with --screenshot: the frame to show, from 1 (default 1)\n"
           "  --panes P           with --screenshot: 1, 4, 9 or 16 camera panes (default 1)\n"
           "  --version           print the version and exit\n"
           "  -h, --help          this text\n"
           "\n"
           "The brand file (Viewer2.ini or Viewer.ini) is read from the current folder.\n";
}

bool screenshotNeedsOffscreen(const LaunchOptions& options, const char* display,
                              const char* waylandDisplay, const char* qtPlatform) {
    const auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
    return !options.screenshotPath.empty() && options.error.empty() && !set(qtPlatform) &&
           !set(display) && !set(waylandDisplay);
}

}  // namespace korvex
