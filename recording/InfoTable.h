#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

// One frame's entry of the INFO index file.
struct InfoRecord {
    std::uint32_t dvrSeconds = 0;  // seconds since 2000-01-01 00:00:00 recorder time
    std::uint32_t offsetMs = 0;
    // The stored byte read as a signed byte, the way channels are compared everywhere (so a
    // stored 255 reads as -1, which means "every channel" to callers).
    std::int32_t channel = 0;
};

// The INFO index of a recording: a 1024-byte header (record count, frames, titles and first/last
// frame numbers per channel 0-15) followed by one 16-byte record per frame file, little-endian.
// Every count in the file is checked against the bytes that exist before anything is allocated.
class InfoTable {
public:
    static constexpr int kChannels = 16;
    static constexpr std::int32_t kEmptySlot = -9;
    static constexpr std::size_t kHeaderBytes = 1024;
    static constexpr std::size_t kRecordBytes = 16;
    static constexpr std::size_t kTitleBytes = 16;
    // The subfolder of a recording that holds the file (any letter case).
    static constexpr std::string_view kFolderName = "INFO";
    // A recorder folder holds at most a few hundred thousand frames; anything far beyond this is
    // a damaged header, refused without trying to read it.
    static constexpr std::int32_t kMaxRecords = 16 * 1024 * 1024;

    InfoTable() { clear(); }

    // Channels to -9, records freed, loaded flag cleared.
    void clear();

    // Loads from a file: the header, then exactly N records. A short file, a negative count or a
    // count the file cannot hold fails the load (the table stays cleared). Bytes after the last
    // record are ignored. `openError`, when given, receives errno when the file could not be
    // opened at all (0 otherwise: a short or damaged file is not an unreadable one).
    bool load(const std::string& path, int* openError = nullptr);
    // The same over bytes in memory (the whole file).
    bool parse(std::span<const std::uint8_t> bytes);

    bool loaded() const { return loaded_; }
    int recordCount() const { return static_cast<int>(records_.size()); }
    // Precondition: 0 <= i < recordCount().
    const InfoRecord& record(int i) const { return records_[static_cast<std::size_t>(i)]; }
    const std::vector<InfoRecord>& records() const { return records_; }

    // Distinct channels in order of first appearance, at most 16, -9 in the unused slots.
    const std::array<std::int32_t, kChannels>& channels() const { return channels_; }
    int channelCount() const { return channelCount_; }

    // Header look-ups; a channel outside 0-15 has no entry and reads as 0 / empty.
    std::int32_t framesOf(int channel) const;
    std::string titleOf(int channel) const;
    std::int32_t firstFrameNumberOf(int channel) const;  // 1-based, as stored
    std::int32_t lastFrameNumberOf(int channel) const;   // 1-based, as stored

    // The INFO file of a recording folder: a file with extension INF in its INFO subfolder, both
    // matched without regard to case; the first in byte order when several exist. Empty if none.
    static std::string findInfoFile(const std::string& folder);
    // The same, given the INFO subfolder itself (already found).
    static std::string findInfoFileIn(const std::string& infoFolder);

private:
    bool parseHeader(const std::uint8_t* header, std::int32_t& count);
    void parseRecords(const std::uint8_t* bytes, std::size_t count);

    bool loaded_ = false;
    std::vector<InfoRecord> records_;
    std::array<std::int32_t, kChannels> channels_{};
    int channelCount_ = 0;
    std::array<std::int32_t, kChannels> framesPerChannel_{};
    std::array<std::array<char, kTitleBytes>, kChannels> titles_{};
    std::array<std::int32_t, kChannels> firstFrame_{};
    std::array<std::int32_t, kChannels> lastFrame_{};
};

}  // namespace korvex
