#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/WaveFormat.h"

namespace picvox {

// One sound clip as read from a cached or downloaded WAV file: its format and its PCM bytes.
struct WavClip {
    std::vector<std::uint8_t>
        format;  // the "fmt " chunk, at least 18 bytes; cbSize 0 when the chunk had 16
    std::vector<std::uint8_t> data;  // the "data" chunk's samples
    std::uint32_t dataBytes = 0;
    std::uint32_t durationMs = 0;
    std::uint32_t fmtBytes = 0;

    // The format record, all zero when there is none; cbSize is 0 when the chunk had no room
    // for it.
    platform::WaveFormat record() const {
        return platform::WaveFormat::fromBytes(format.data(), format.size())
            .value_or(platform::WaveFormat{});
    }
    std::uint32_t avgBytesPerSec() const { return record().avgBytesPerSec; }
    std::uint16_t formatTag() const { return record().formatTag; }
    std::uint16_t channels() const { return record().channels; }
    std::uint32_t samplesPerSec() const { return record().samplesPerSec; }
    std::uint16_t blockAlign() const { return record().blockAlign; }
    std::uint16_t bitsPerSample() const { return record().bitsPerSample; }
    std::uint16_t cbSize() const { return record().cbSize; }
};

// The format tag of plain PCM, the only one accepted.
constexpr std::uint16_t kWavFormatPcm = 1;
// Clips are one cached segment of a few seconds; a file larger than this is not one of ours.
constexpr std::uint64_t kMaxWavFileBytes = 64ull * 1024 * 1024;
// The header of a file whose format has no extension ("fmt " of 16 bytes).
constexpr std::size_t kWavPlainHeaderBytes = 44;

// Reads a WAV file into `clip` (zeroed first). Refuses anything but a RIFF "WAVE" file with a PCM
// "fmt " chunk of at least 16 bytes and a "data" chunk after it, whole within the file, holding
// at least one whole sample block; a partial block at its end is left out. Also refuses a format
// without bytes per second or block size, which could not be timed. On failure the clip
// is left empty. The file is opened non-blocking and must be a regular file.
bool ReadWavFile(WavClip& clip, const std::string& path);
// The same walk over bytes already in memory (the file's whole content).
bool ParseWavClip(WavClip& clip, const std::uint8_t* bytes, std::size_t size);

// Milliseconds of sound in `bytes` at `avgBytesPerSec`, whole seconds first so that nothing
// overflows; 0 when avgBytesPerSec is 0, UINT32_MAX at most.
std::uint32_t PlayTimeMs(std::uint32_t bytes, std::uint32_t avgBytesPerSec);

// Size of the header MakeWavHeader builds for this format: 44, or 46 and more when the source
// "fmt " chunk was longer than 16 bytes (then the extension word and its bytes follow). 0 when
// the clip has no usable format.
std::size_t WavHeaderBytes(const WavClip& formatOf);
// A complete header for `dataBytes` bytes of samples in the format of `formatOf`. The fmt size
// field names the bytes actually written, so an extension word claiming more than the source
// chunk held is cut to what it held. Empty when the clip has no usable format.
std::vector<std::uint8_t> MakeWavHeader(const WavClip& formatOf, std::uint32_t dataBytes);

// Writes header + samples to a temporary name beside `path`, flushes it to disk and renames it
// over `path`, so the file is either whole or absent (or the old one). On failure `osError` (when
// given) receives the system error number and nothing is left behind.
bool WriteWavFile(const std::string& path, const WavClip& formatOf, const std::uint8_t* samples,
                  std::uint32_t bytes, int* osError);

}  // namespace picvox
