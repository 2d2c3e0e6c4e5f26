#include "control/buffers/WavFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/FileSystem.h"

namespace picvox {
namespace {

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void putId(std::vector<std::uint8_t>& out, const char (&id)[5]) {
    out.insert(out.end(), id, id + 4);
}

bool isId(const std::uint8_t* p, const char (&id)[5]) {
    return std::memcmp(p, id, 4) == 0;
}

// One chunk of the walk: its id and where its body lies.
struct Chunk {
    const std::uint8_t* id = nullptr;
    std::size_t body = 0;
    std::uint32_t size = 0;
};

// Walks the chunks in [pos, end) until one with `id`; false when none lies whole within it. A
// chunk whose size runs past `end` stops the walk: nothing after it can be trusted.
bool findChunk(const std::uint8_t* bytes, std::size_t& pos, std::size_t end, const char (&id)[5],
               Chunk& found) {
    while (end - pos >= 8) {
        const std::uint32_t size = le32(bytes + pos + 4);
        const std::size_t body = pos + 8;
        if (size > end - body)
            return false;
        const std::size_t next = body + size + (size & 1u);
        if (isId(bytes + pos, id)) {
            found = Chunk{bytes + pos, body, size};
            pos = std::min(next, end);
            return true;
        }
        if (next >= end)
            return false;
        pos = next;
    }
    return false;
}

// Bytes of extension written after the 16 format bytes: the cbSize word and as many extra bytes
// as it names, but never more than the source chunk held.
std::size_t extensionBytes(const WavClip& clip) {
    if (clip.fmtBytes <= 16 || clip.format.size() < 18)
        return 0;
    const std::size_t held = clip.format.size() - 18;
    return 2 + std::min<std::size_t>(clip.cbSize(), held);
}

}  // namespace

std::uint32_t PlayTimeMs(std::uint32_t bytes, std::uint32_t avgBytesPerSec) {
    if (avgBytesPerSec == 0)
        return 0;
    const std::uint64_t ms =
        static_cast<std::uint64_t>(bytes / avgBytesPerSec) * 1000 +
        static_cast<std::uint64_t>(bytes % avgBytesPerSec) * 1000 / avgBytesPerSec;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(ms, std::numeric_limits<std::uint32_t>::max()));
}

bool ParseWavClip(WavClip& clip, const std::uint8_t* bytes, std::size_t size) {
    clip = WavClip{};
    if (!bytes || size < 12 || !isId(bytes, "RIFF") || !isId(bytes + 8, "WAVE"))
        return false;
    // The form's own size bounds its chunks as far as the bytes exist.
    const std::uint32_t riffSize = le32(bytes + 4);
    if (riffSize < 4)
        return false;
    const std::size_t end = static_cast<std::size_t>(
        std::min<std::uint64_t>(size, 8 + static_cast<std::uint64_t>(riffSize)));
    std::size_t pos = 12;
    Chunk fmt;
    if (!findChunk(bytes, pos, end, "fmt ", fmt) || fmt.size < 16)
        return false;
    WavClip read;
    read.format.assign(std::max<std::size_t>(fmt.size, 18), 0);
    std::memcpy(read.format.data(), bytes + fmt.body, fmt.size);
    read.fmtBytes = fmt.size;
    if (read.formatTag() != kWavFormatPcm || read.avgBytesPerSec() == 0 || read.blockAlign() == 0)
        return false;
    Chunk data;
    if (!findChunk(bytes, pos, end, "data", data))
        return false;
    // Whole sample blocks only: a partial one at the end would shift every sample after it in
    // the ring and in the saved file.
    const std::uint32_t whole = data.size - data.size % read.blockAlign();
    if (whole == 0)
        return false;
    read.data.assign(bytes + data.body, bytes + data.body + whole);
    read.dataBytes = whole;
    read.durationMs = PlayTimeMs(read.dataBytes, read.avgBytesPerSec());
    clip = std::move(read);
    return true;
}

bool ReadWavFile(WavClip& clip, const std::string& path) {
    clip = WavClip{};
    // Regular files only, opened so a FIFO or device planted in the cache cannot hang us; a file
    // that shrank while we read is walked over what we have.
    std::vector<std::uint8_t> bytes;
    return platform::readWholeFile(path, bytes, static_cast<long long>(kMaxWavFileBytes)) &&
           ParseWavClip(clip, bytes.data(), bytes.size());
}

std::size_t WavHeaderBytes(const WavClip& formatOf) {
    if (formatOf.format.size() < 16)
        return 0;
    const std::size_t ext = extensionBytes(formatOf);
    return 12 + 8 + 16 + ext + (ext & 1u) + 8;
}

std::vector<std::uint8_t> MakeWavHeader(const WavClip& formatOf, std::uint32_t dataBytes) {
    const std::size_t header = WavHeaderBytes(formatOf);
    if (header == 0)
        return {};
    const std::size_t ext = extensionBytes(formatOf);
    const std::uint64_t riff = header - 8 + static_cast<std::uint64_t>(dataBytes);
    std::vector<std::uint8_t> out;
    out.reserve(header);
    putId(out, "RIFF");
    put32(out, static_cast<std::uint32_t>(
                   std::min<std::uint64_t>(riff, std::numeric_limits<std::uint32_t>::max())));
    putId(out, "WAVE");
    putId(out, "fmt ");
    put32(out, static_cast<std::uint32_t>(16 + ext));
    out.insert(out.end(), formatOf.format.begin(), formatOf.format.begin() + 16);
    if (ext > 0) {
        put16(out, static_cast<std::uint16_t>(ext - 2));
        out.insert(out.end(), formatOf.format.begin() + 18, formatOf.format.begin() + 16 + ext);
        if (ext & 1u)
            out.push_back(0);  // an odd chunk is padded to keep the next one on a word
    }
    putId(out, "data");
    put32(out, dataBytes);
    return out;
}

bool WriteWavFile(const std::string& path, const WavClip& formatOf, const std::uint8_t* samples,
                  std::uint32_t bytes, int* osError) {
    int error = 0;
    const std::vector<std::uint8_t> header = MakeWavHeader(formatOf, bytes);
    if (header.empty() || (bytes > 0 && !samples)) {
        error = EINVAL;
    } else {
        error = platform::writeFileWhole(
            path,
            [&](int fd) {
                const int e = platform::writeAll(fd, header.data(), header.size());
                return e != 0 ? e : platform::writeAll(fd, samples, bytes);
            },
            [](int fd) { return ::fdatasync(fd) == 0 ? 0 : errno; });
    }
    if (osError)
        *osError = error;
    return error == 0;
}

}  // namespace picvox
