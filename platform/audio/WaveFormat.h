#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace platform {

// The 18-byte format record of a WAV file's "fmt " chunk, field by field (little-endian in the
// file). The sound layer plays PCM only; `playable()` says whether this record describes PCM it
// can play.
struct WaveFormat {
    static constexpr std::uint16_t kPcm = 1;
    static constexpr std::size_t kRecordBytes = 18;

    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t cbSize = 0;

    // 8 kHz, 8-bit unsigned mono: what the recorders send.
    static WaveFormat pcm(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
        WaveFormat f;
        f.formatTag = kPcm;
        f.channels = channels;
        f.samplesPerSec = rate;
        f.bitsPerSample = bits;
        f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
        f.avgBytesPerSec = rate * f.blockAlign;
        return f;
    }

    // Reads the record from the first bytes of a "fmt " chunk (16 bytes suffice: cbSize is 0
    // when absent). Nothing when fewer bytes are given.
    static std::optional<WaveFormat> fromBytes(const void* data, std::size_t size) {
        if (data == nullptr || size < 16)
            return std::nullopt;
        const auto* b = static_cast<const std::uint8_t*>(data);
        auto u16 = [b](std::size_t at) {
            return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
        };
        auto u32 = [b](std::size_t at) {
            return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                              (static_cast<std::uint32_t>(b[at + 3]) << 24));
        };
        WaveFormat f;
        f.formatTag = u16(0);
        f.channels = u16(2);
        f.samplesPerSec = u32(4);
        f.avgBytesPerSec = u32(8);
        f.blockAlign = u16(12);
        f.bitsPerSample = u16(14);
        f.cbSize = size >= kRecordBytes ? u16(16) : 0;
        return f;
    }

    // PCM of 8 or 16 bits, one or two channels, 1 to 192 kHz, with the derived fields agreeing
    // with the others (a record from the network is checked before any size is taken from it).
    bool playable() const {
        return formatTag == kPcm && (channels == 1 || channels == 2) &&
               (bitsPerSample == 8 || bitsPerSample == 16) && samplesPerSec >= 1000 &&
               samplesPerSec <= 192000 && blockAlign == channels * bitsPerSample / 8 &&
               avgBytesPerSec == samplesPerSec * blockAlign;
    }

    // The byte that is silence in this format: 8-bit PCM is unsigned (0x80 is the middle), 16-bit
    // is signed (zero).
    std::uint8_t silenceByte() const { return bitsPerSample == 8 ? 0x80 : 0x00; }

    bool operator==(const WaveFormat&) const = default;
};

}  // namespace platform
