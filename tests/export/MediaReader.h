#pragma once

// Reads an exported video back through FFmpeg's libraries, as a player would: the pictures with
// their times, and the sound mixed down to one channel.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korvex::test {

struct VideoStreamInfo {
    int width = 0;
    int height = 0;
    std::vector<std::int64_t> ptsMs;  // of every picture, in display order
};

// Decodes every picture of the video stream; `picture` (when given) receives each one as
// red-green-blue bytes, rows top down, `width` * 3 bytes a row. False with `error` on failure.
bool readVideo(const std::string& path, VideoStreamInfo& info, std::string& error,
               const std::function<void(std::int64_t ptsMs, const std::vector<std::uint8_t>& rgb)>&
                   picture = {});

// The sound stream decoded and mixed to mono, from the file's time 0 (the coder's priming
// samples dropped as a player drops them).
bool readSound(const std::string& path, std::vector<float>& mono, int& sampleRate,
               std::string& error);

// Peak signal-to-noise ratio in dB of two pictures of equal size (3 bytes a pixel); 99 when
// they are equal.
double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace korvex::test
