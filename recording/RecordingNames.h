#pragma once

#include <cstdio>
#include <string>

namespace korvex {

// Names inside a recording folder, shared by the viewer's probe and the control's saver so that
// a saved run always opens.
inline constexpr const char* kFirstFrameFolder = "IMG00001";
inline constexpr const char* kSoundFileName = "sound.wav";
inline constexpr const char* kInfoFolderName = "INFO";
inline constexpr int kFramesPerFolder = 200;

// "IMG00001", "IMG00002", ...
inline std::string frameFolderName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "IMG%05d", number);
    return name;
}

// "000001.jp2", ...: frame numbers count on across frame folders.
inline std::string frameFileName(int number, const char* extension = "jp2") {
    char name[48];
    std::snprintf(name, sizeof name, "%06d.%s", number, extension);
    return name;
}

}  // namespace korvex
