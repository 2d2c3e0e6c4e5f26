#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korvex::gen {

// One 16-byte record of an INFO index file.
struct InfoRecord {
    std::uint32_t dvrSeconds = 0;  // seconds since 2000-01-01 00:00:00 recorder time
    std::uint32_t offsetMs = 0;
    std::uint8_t channel = 0;
};

// Builds a complete INFO file: the 1024-byte header (record count, frames per channel, titles,
// first and last frame numbers, 1-based, per channel) followed by the records. `countOverride`
// lets tests write a count that does not match the records.
std::vector<std::uint8_t> buildInfoFile(const std::vector<InfoRecord>& records,
                                        const std::array<std::string, 16>& titles,
                                        const std::int32_t* countOverride = nullptr);

}  // namespace korvex::gen
