#include "viewer/shell/core/SaveFileName.h"

#include <algorithm>
#include <cstdio>

#include "viewer/playback/core/FrameTimeText.h"

namespace korvex {

std::string proposedSaveName(const std::string& recordingFolder, std::int64_t frameTime,
                             int frameIndex) {
    std::string folder = recordingFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    std::string name = folder.substr(folder.find_last_of('/') + 1);
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '_');
    if (name.empty())
        name = "frame";

    // Year first with "-" between the fields, and no ':' (a file name's separator elsewhere).
    std::string time = frameTime != 0 ? FormatFrameTime(frameTime, kYearMonthDay, 1) : "";
    if (!time.empty()) {
        std::replace(time.begin(), time.end(), ' ', '_');
        std::replace(time.begin(), time.end(), ':', '-');
        return name + "_" + time + ".bmp";
    }
    char number[32];
    std::snprintf(number, sizeof number, "_frame%06d.bmp", std::max(frameIndex, 0) + 1);
    return name + number;
}

}  // namespace korvex
