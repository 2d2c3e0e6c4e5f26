#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What to export: the recording, the stretch, the layout and what is drawn over the pictures.
// Shared by korvex-export's command line and the viewer's File > Export dialog.

namespace korvex {

// One end of the stretch: a frame number as the viewer's frame counter shows it (1 is the first
// frame of the chosen channel or layout), or a time of the recorder's clock.
struct FrameBound {
    enum class Kind { None, Number, Time };
    Kind kind = Kind::None;
    int number = 0;         // 1-based
    std::int64_t time = 0;  // calendar time, read in the recorders' zone
    std::string text;       // as given

    static FrameBound ofNumber(int number) {
        return {Kind::Number, number, 0, std::to_string(number)};
    }
};

// Parses a frame number ("120") or a recorder time ("2024-01-01 00:00:05"). The process time zone
// must be fixed to the recorders' already. False with a reason on anything else.
bool parseFrameBound(std::string_view text, FrameBound& out, std::string& error);

// The channel the viewer shows when it opens the recording (the first of its index).
inline constexpr int kDefaultChannel = -2;
inline constexpr int kAllChannelsChoice = -1;

struct ExportRequest {
    std::string folder;
    std::string output;
    FrameBound from;  // None: the first frame
    FrameBound to;    // None: the last frame
    // One pane: a channel 0..15, every channel (-1) or the viewer's default (-2).
    int channel = kDefaultChannel;
    int panes = 1;  // 1, 4, 9 or 16
    // The channel of each pane of a multi-pane layout, as the view keeps them; all -9 gives the
    // viewer's default set.
    std::array<std::int32_t, 16> paneChannels = filledPaneRow();
    bool overlay = true;  // the date, time and camera title
    bool marks = true;    // IMAGE ALTERED / TIME ALTERED
    int width = 0;        // 0: from the recording's pictures
    int height = 0;
    bool overwrite = false;
    // The view's display settings (what the viewer's document holds; the viewer's defaults for
    // the command line).
    int dateFormat = 0;
    int dateDelimiter = 0;
    int timePosition = 0;
    bool showCameraTitle = true;

    static std::array<std::int32_t, 16> filledPaneRow() {
        std::array<std::int32_t, 16> row{};
        row.fill(-9);
        return row;
    }
};

// The default picture size for pictures `pictureWidth` wide in `panes` panes: each pane about as
// wide as a picture (made even, at least 160, the whole at most 1920), 4:3 (the view's shape).
// 640 x 480 when no picture could be read.
void defaultExportSize(int pictureWidth, int panes, int& width, int& height);

struct ExportCommandLine {
    ExportRequest request;
    bool help = false;
    bool version = false;
    bool quiet = false;
};

// korvex-export's arguments (without the program name). False with a message on a usage error.
// Times in --from and --to are read in the process time zone, which the caller fixes first.
bool parseExportArguments(const std::vector<std::string>& args, ExportCommandLine& out,
                          std::string& error);

// The --help text.
const char* exportUsage();

// "all", or the channel as the viewer's CHANNEL menu names it ("3ch" for channel 2).
std::string channelName(int channel);

}  // namespace korvex
