#include "recording/InfoTable.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/FileSystem.h"

namespace korvex {

namespace {

constexpr std::size_t kCountOffset = 0;
constexpr std::size_t kFramesOffset = 16;
constexpr std::size_t kTitlesOffset = 208;
constexpr std::size_t kFirstFrameOffset = 464;
constexpr std::size_t kLastFrameOffset = 528;

std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int32_t readI32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(readU32(p));
}

bool validChannel(int channel) {
    return channel >= 0 && channel < InfoTable::kChannels;
}

// Reads exactly `size` bytes at the file's current position.
bool readFully(int fd, std::uint8_t* out, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, out + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

void InfoTable::clear() {
    loaded_ = false;
    records_.clear();
    records_.shrink_to_fit();
    channels_.fill(kEmptySlot);
    channelCount_ = 0;
    framesPerChannel_.fill(0);
    for (auto& t : titles_)
        t.fill('\0');
    firstFrame_.fill(0);
    lastFrame_.fill(0);
}

bool InfoTable::parseHeader(const std::uint8_t* header, std::int32_t& count) {
    count = readI32(header + kCountOffset);
    if (count < 0 || count > kMaxRecords)
        return false;
    for (int c = 0; c < kChannels; ++c) {
        const auto i = static_cast<std::size_t>(c);
        framesPerChannel_[i] = readI32(header + kFramesOffset + 4 * i);
        std::memcpy(titles_[i].data(), header + kTitlesOffset + kTitleBytes * i, kTitleBytes);
        firstFrame_[i] = readI32(header + kFirstFrameOffset + 4 * i);
        lastFrame_[i] = readI32(header + kLastFrameOffset + 4 * i);
    }
    return true;
}

void InfoTable::parseRecords(const std::uint8_t* bytes, std::size_t count) {
    records_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* r = bytes + i * kRecordBytes;
        InfoRecord& rec = records_[i];
        rec.dvrSeconds = readU32(r);
        rec.offsetMs = readU32(r + 4);
        rec.channel = static_cast<std::int8_t>(r[8]);
        // -9 marks an empty slot of the channel list, so a record that reads as -9 cannot be
        // listed without making the list claim a slot is empty.
        if (channelCount_ < kChannels && rec.channel != kEmptySlot) {
            const auto end = channels_.begin() + channelCount_;
            if (std::find(channels_.begin(), end, rec.channel) == end) {
                channels_[static_cast<std::size_t>(channelCount_++)] = rec.channel;
            }
        }
    }
    loaded_ = true;
}

bool InfoTable::parse(std::span<const std::uint8_t> bytes) {
    clear();
    if (bytes.size() < kHeaderBytes)
        return false;
    std::int32_t count = 0;
    if (!parseHeader(bytes.data(), count) ||
        static_cast<std::size_t>(count) > (bytes.size() - kHeaderBytes) / kRecordBytes) {
        clear();
        return false;
    }
    parseRecords(bytes.data() + kHeaderBytes, static_cast<std::size_t>(count));
    return true;
}

bool InfoTable::load(const std::string& path, int* openError) {
    clear();
    long long size = 0;
    FdCloser file{platform::openRegularFile(path, &size)};
    if (openError)
        *openError = file.fd < 0 ? errno : 0;
    if (file.fd < 0 || size < static_cast<long long>(kHeaderBytes))
        return false;
    std::uint8_t header[kHeaderBytes];
    std::int32_t count = 0;
    if (!readFully(file.fd, header, kHeaderBytes) || !parseHeader(header, count)) {
        clear();
        return false;
    }
    // Compare the count with what the file holds before allocating for it.
    const auto available = static_cast<unsigned long long>(size) - kHeaderBytes;
    const auto wanted = static_cast<unsigned long long>(count) * kRecordBytes;
    if (wanted > available) {
        clear();
        return false;
    }
    std::vector<std::uint8_t> body(static_cast<std::size_t>(wanted));
    if (!readFully(file.fd, body.data(), body.size())) {
        clear();
        return false;
    }
    parseRecords(body.data(), static_cast<std::size_t>(count));
    return true;
}

std::int32_t InfoTable::framesOf(int channel) const {
    return validChannel(channel) ? framesPerChannel_[static_cast<std::size_t>(channel)] : 0;
}

std::string InfoTable::titleOf(int channel) const {
    if (!validChannel(channel))
        return {};
    const auto& t = titles_[static_cast<std::size_t>(channel)];
    // 16 characters, NUL-padded; a title that uses all 16 has no terminator.
    const auto* end = static_cast<const char*>(std::memchr(t.data(), '\0', t.size()));
    return std::string(t.data(), end ? static_cast<std::size_t>(end - t.data()) : t.size());
}

std::int32_t InfoTable::firstFrameNumberOf(int channel) const {
    return validChannel(channel) ? firstFrame_[static_cast<std::size_t>(channel)] : 0;
}

std::int32_t InfoTable::lastFrameNumberOf(int channel) const {
    return validChannel(channel) ? lastFrame_[static_cast<std::size_t>(channel)] : 0;
}

std::string InfoTable::findInfoFile(const std::string& folder) {
    return findInfoFileIn(platform::findEntryNoCase(folder, kFolderName, true));
}

std::string InfoTable::findInfoFileIn(const std::string& infoFolder) {
    if (infoFolder.empty())
        return {};
    std::string best;
    platform::forEachFileWithExtension(infoFolder, "inf", [&](const std::string& path) {
        if (best.empty() || path < best)
            best = path;
        return true;
    });
    return best;
}

}  // namespace korvex
