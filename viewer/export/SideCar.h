#pragma once

#include <cstdint>
#include <string>

// What goes beside an exported video: a short JSON record of where it came from (a derived copy
// names its original), and the checksum line that sha256sum -c reads.

namespace korvex {

struct SideCarFrame {
    int number = 0;        // as the viewer's frame counter shows it, in the exported list
    std::string path;      // the frame file
    std::string timeText;  // "YYYY-MM-DD HH:MM:SS" of the recorder's clock; empty when none
    int channel = -1;
    int flags = -1;  // the authenticity check's result, -1 not checked
};

struct SideCar {
    std::string version;
    std::string created;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
    std::string sourceFolder;
    std::string kind;          // "jpeg", "jp2mp3", "jp2wav"
    std::string soundFile;     // empty: no sound track used
    std::string manifestPath;  // the folder's SHA256SUMS; empty when it has none
    std::string manifestSha256;
    std::string output;  // the video's file name
    std::string outputSha256;
    long long outputBytes = 0;
    SideCarFrame first;
    SideCarFrame last;
    long long stretchFrames = 0;  // frames from first to last
    long long pictures = 0;       // pictures in the video
    long long skipped = 0;        // frames not shown: their time ran backwards
    long long undecodable = 0;    // shown as the "invalid image" face
    std::int64_t durationMs = 0;
    std::string timing;  // how the pictures are timed
    // The options as given.
    std::string from;
    std::string to;
    std::string channel;
    int panes = 1;
    bool overlay = true;
    bool marks = true;
    int width = 0;
    int height = 0;
    std::string video;  // the coder and its settings
    std::string audio;  // empty without sound
};

std::string sideCarJson(const SideCar& sideCar);

// One line of a sha256sum file for `name` (escaped as sha256sum escapes a name with a
// backslash or a line end in it).
std::string sha256SumLine(const std::string& hex, const std::string& name);

}  // namespace korvex
