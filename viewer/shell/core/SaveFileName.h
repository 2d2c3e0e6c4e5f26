#pragma once

#include <cstdint>
#include <string>

namespace korvex {

// The file name the Save dialog proposes for a frame: the recording folder's own name and the
// frame's capture time on the recorder's clock, "TRM00001_2026-12-09_06-05-43.bmp", so that saved
// frames sort by recording and time. Without a time (`frameTime` 0) the frame's number stands in,
// "TRM00001_frame000012.bmp" (`frameIndex` 0-based, shown from 1). Control characters of the
// folder's name become "_"; a folder without a name gives "frame".
std::string proposedSaveName(const std::string& recordingFolder, std::int64_t frameTime,
                             int frameIndex);

}  // namespace korvex
