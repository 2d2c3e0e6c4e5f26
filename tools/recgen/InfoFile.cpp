#include "tools/recgen/InfoFile.h"

#include <algorithm>
#include <cstring>

namespace korvex::gen {

namespace {

constexpr std::size_t kHeaderBytes = 1024;
constexpr std::size_t kRecordBytes = 16;
constexpr std::size_t kFramesOffset = 16;
constexpr std::size_t kTitlesOffset = 208;
constexpr std::size_t kTitleBytes = 16;
constexpr std::size_t kFirstFrameOffset = 464;
constexpr std::size_t kLastFrameOffset = 528;

void putU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

std::vector<std::uint8_t> buildInfoFile(const std::vector<InfoRecord>& records,
                                        const std::array<std::string, 16>& titles,
                                        const std::int32_t* countOverride) {
    std::vector<std::uint8_t> out(kHeaderBytes + records.size() * kRecordBytes, 0);
    std::uint8_t* header = out.data();

    const auto count = countOverride ? *countOverride : static_cast<std::int32_t>(records.size());
    putU32(header, static_cast<std::uint32_t>(count));

    std::int32_t frames[16] = {};
    std::int32_t firstNumber[16] = {};
    std::int32_t lastNumber[16] = {};
    for (std::size_t i = 0; i < records.size(); ++i) {
        const unsigned c = records[i].channel;
        if (c >= 16)
            continue;  // a recorder has 16 channels; others have no header entry
        const auto number = static_cast<std::int32_t>(i + 1);
        if (frames[c]++ == 0)
            firstNumber[c] = number;
        lastNumber[c] = number;
    }
    for (std::size_t c = 0; c < 16; ++c) {
        putU32(header + kFramesOffset + 4 * c, static_cast<std::uint32_t>(frames[c]));
        putU32(header + kFirstFrameOffset + 4 * c, static_cast<std::uint32_t>(firstNumber[c]));
        putU32(header + kLastFrameOffset + 4 * c, static_cast<std::uint32_t>(lastNumber[c]));
        // NUL-padded, no terminator when all 16 characters are used.
        const std::string& title = titles[c];
        std::memcpy(header + kTitlesOffset + kTitleBytes * c, title.data(),
                    std::min(title.size(), kTitleBytes));
    }

    for (std::size_t i = 0; i < records.size(); ++i) {
        std::uint8_t* r = out.data() + kHeaderBytes + i * kRecordBytes;
        putU32(r, records[i].dvrSeconds);
        putU32(r + 4, records[i].offsetMs);
        r[8] = records[i].channel;
    }
    return out;
}

}  // namespace korvex::gen
