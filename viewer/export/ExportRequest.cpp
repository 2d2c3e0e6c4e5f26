#include "viewer/export/ExportRequest.h"

#include <algorithm>
#include <charconv>
#include <ctime>

namespace korvex {

namespace {

bool parseInt(std::string_view text, int low, int high, int& value) {
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

bool allDigits(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// "YYYY-MM-DD HH:MM:SS" as calendar time in the process zone; false for anything else,
// impossible dates (02-30) included.
bool parseRecorderTime(std::string_view text, std::int64_t& time) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':') {
        return false;
    }
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!parseInt(text.substr(0, 4), 1970, 9999, y) || !parseInt(text.substr(5, 2), 1, 12, mo) ||
        !parseInt(text.substr(8, 2), 1, 31, d) || !parseInt(text.substr(11, 2), 0, 23, h) ||
        !parseInt(text.substr(14, 2), 0, 59, mi) || !parseInt(text.substr(17, 2), 0, 59, s)) {
        return false;
    }
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = 0;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return false;
    // A date the calendar moved (the 30th of February) is not the time that was meant.
    std::tm back{};
    if (::localtime_r(&t, &back) == nullptr || back.tm_year != y - 1900 || back.tm_mon != mo - 1 ||
        back.tm_mday != d || back.tm_hour != h || back.tm_min != mi || back.tm_sec != s) {
        return false;
    }
    time = static_cast<std::int64_t>(t);
    return true;
}

}  // namespace

bool parseFrameBound(std::string_view text, FrameBound& out, std::string& error) {
    out = FrameBound{};
    out.text = std::string(text);
    if (allDigits(text)) {
        int number = 0;
        if (!parseInt(text, 1, 1 << 30, number)) {
            error = "frame number \"" + std::string(text) + "\" must be 1 or more";
            return false;
        }
        out.kind = FrameBound::Kind::Number;
        out.number = number;
        return true;
    }
    std::int64_t time = 0;
    if (!parseRecorderTime(text, time)) {
        error = "\"" + std::string(text) +
                "\" is neither a frame number nor a time \"YYYY-MM-DD HH:MM:SS\"";
        return false;
    }
    out.kind = FrameBound::Kind::Time;
    out.time = time;
    return true;
}

void defaultExportSize(int pictureWidth, int panes, int& width, int& height) {
    if (pictureWidth <= 0) {
        width = 640;
        height = 480;
        return;
    }
    const int grid = panes >= 16 ? 4 : panes >= 9 ? 3 : panes >= 4 ? 2 : 1;
    const int widest = grid == 1 ? 4096 : 1920;
    width = std::min(widest, std::max(160, grid * pictureWidth)) & ~1;
    // 4:3, rounded down to even: the view's shape.
    height = (width * 3 / 4) & ~1;
}

std::string channelName(int channel) {
    if (channel < 0)
        return "all";
    return std::to_string(channel + 1) + "ch";
}

const char* exportUsage() {
    return R"(usage: korvex-export [options] FOLDER OUT.mp4

Writes a stretch of the recording in FOLDER as an MP4 video (H.264 and AAC, the index in front)
that phones and office players open, with the pictures drawn as the viewer draws them: fitted
4:3, with the date and time, the camera title and the alteration marks. With a sound track each
picture comes at its place on the sound's clock and the sound goes along; without one the
pictures keep the pace of the recorder's times (five a second where they say nothing).

  --from F           first frame: a frame number as the viewer's counter shows it (1 = the first
                     of the channel or layout) or a recorder time "YYYY-MM-DD HH:MM:SS" (the
                     first frame at or after it); default the first frame
  --to F             last frame, the same way (a time: the last frame at or before it); default
                     the last frame
  --channel C        one camera: C as the viewer's CHANNEL menu names it (1 to 16 for 1ch to
                     16ch) or "all"; default the channel the viewer opens with
  --panes N          4, 9 or 16 panes of the viewer's default channels instead of one
  --no-overlay       no date, time or camera title over the pictures
  --marks            draw IMAGE ALTERED / TIME ALTERED on altered frames (the default)
  --no-marks         do not draw them
  --size WxH         picture size (even, 16 to 4096); default the pictures' width at 4:3
                     (several panes: their pictures side by side, at most 1920 wide)
  --force            replace OUT.mp4 and its side files when they exist
  --quiet            print nothing but errors
  --help             this text
  --version          the program's version

Beside OUT.mp4 it writes OUT.mp4.sha256 (for sha256sum -c) and OUT.mp4.json, which names the
source folder, the first and last frame, the options, the coders and the SHA-256 of the
folder's SHA256SUMS manifest when it has one. Nothing is left behind when the export fails or
is interrupted. Progress goes to stderr: a bar on a terminal, lines otherwise.

Exit status: 0 written; 1 the export failed (nothing written); 2 bad arguments, or a folder
that is not a recording or has no such frames, channel or layout.
)";
}

bool parseExportArguments(const std::vector<std::string>& args, ExportCommandLine& out,
                          std::string& error) {
    out = ExportCommandLine{};
    ExportRequest& r = out.request;
    std::vector<std::string> positional;
    bool endOfOptions = false;
    bool channelGiven = false;
    bool panesGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string v;
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
        } else if (arg == "--") {
            endOfOptions = true;
        } else if (arg == "--help" || arg == "-h") {
            out.help = true;
        } else if (arg == "--version") {
            out.version = true;
        } else if (arg == "--quiet" || arg == "-q") {
            out.quiet = true;
        } else if (arg == "--no-overlay") {
            r.overlay = false;
        } else if (arg == "--marks") {
            r.marks = true;
        } else if (arg == "--no-marks") {
            r.marks = false;
        } else if (arg == "--force") {
            r.overwrite = true;
        } else if (arg == "--from" || arg == "--to") {
            if (!value(v))
                return false;
            FrameBound& bound = arg == "--from" ? r.from : r.to;
            std::string why;
            if (!parseFrameBound(v, bound, why)) {
                error = arg + ": " + why;
                return false;
            }
        } else if (arg == "--channel") {
            if (!value(v))
                return false;
            int number = 0;
            if (v == "all") {
                r.channel = kAllChannelsChoice;
            } else if (parseInt(v, 1, 16, number)) {
                r.channel = number - 1;
            } else {
                error = "--channel: \"" + v + "\" is not 1 to 16 or \"all\"";
                return false;
            }
            channelGiven = true;
        } else if (arg == "--panes") {
            if (!value(v))
                return false;
            if (!parseInt(v, 1, 16, r.panes) ||
                (r.panes != 1 && r.panes != 4 && r.panes != 9 && r.panes != 16)) {
                error = "--panes: \"" + v + "\" is not 1, 4, 9 or 16";
                return false;
            }
            panesGiven = r.panes != 1;
        } else if (arg == "--size") {
            if (!value(v))
                return false;
            const std::size_t x = v.find('x');
            if (x == std::string::npos ||
                !parseInt(std::string_view(v).substr(0, x), 16, 4096, r.width) ||
                !parseInt(std::string_view(v).substr(x + 1), 16, 4096, r.height) ||
                r.width % 2 != 0 || r.height % 2 != 0) {
                error = "--size: \"" + v + "\" is not WxH with even sides of 16 to 4096";
                return false;
            }
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (out.help || out.version)
        return true;
    if (channelGiven && panesGiven) {
        error =
            "--channel chooses the camera of one pane; --panes shows the default cameras of "
            "several: give one of them";
        return false;
    }
    if (positional.size() < 2) {
        error = positional.empty() ? "no FOLDER and OUT.mp4 given" : "no OUT.mp4 given";
        return false;
    }
    if (positional.size() > 2) {
        error = "more than one FOLDER and OUT.mp4 given";
        return false;
    }
    r.folder = positional[0];
    r.output = positional[1];
    return true;
}

}  // namespace korvex
