#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "control/buffers/WavFile.h"
#include "control/download/CacheSlots.h"
#include "control/download/HttpThreadParams.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/Trailer.h"

namespace picvox::test {

namespace fs = std::filesystem;

// A scratch cache folder with J2K2 and WAVE2, ordered by modification times the test sets.
class CacheFixture : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> n{0};
        root_ = fs::temp_directory_path() /
                ("picvox-cache-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
        fs::remove_all(root_);
        fs::create_directories(root_ / "J2K2");
        fs::create_directories(root_ / "WAVE2");
        params_.cache.folder = (root_).string();
        params_.cache.clock = SlotClock::ModificationTime;
        params_.fetch.cacheTimeMs = 10000;
    }
    void TearDown() override { fs::remove_all(root_); }

    // Base time of the tests' clock, in seconds; a slot's time is base + offset.
    static constexpr std::int64_t kBase = 1700000000;

    static void setTimeMs(const std::string& path, std::int64_t offsetMs) {
        struct timespec t[2];
        const std::int64_t ms = kBase * 1000 + offsetMs;
        t[0].tv_sec = t[1].tv_sec = ms / 1000;
        t[0].tv_nsec = t[1].tv_nsec = (ms % 1000) * 1000000;
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0) << path;
    }
    static std::uint64_t ticksAt(std::int64_t offsetMs) {
        return static_cast<std::uint64_t>(kBase) * 10000000u +
               static_cast<std::uint64_t>(offsetMs) * 10000u;
    }
    static void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<std::uint8_t> readBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // 8-bit mono PCM at 8000 bytes per second; sample i holds (i + seed) & 0xFF.
    static WavClip pcmFormat() {
        WavClip f;
        f.format = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0, 0, 0};
        f.fmtBytes = 16;
        return f;
    }
    static std::vector<std::uint8_t> wavBytes(std::uint32_t bytes, int seed = 0) {
        std::vector<std::uint8_t> out = MakeWavHeader(pcmFormat(), bytes);
        for (std::uint32_t i = 0; i < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(i + seed));
        return out;
    }
    std::string soundSlot(int slot, std::uint32_t bytes, std::int64_t offsetMs, int seed = 0) {
        const std::string path = SoundSlotPath(params_.cache.folder, slot);
        writeBytes(path, wavBytes(bytes, seed));
        setTimeMs(path, offsetMs);
        return path;
    }
    // A small JPEG 2000 frame with a trailer.
    static std::vector<std::uint8_t> frame(std::uint32_t dvrSeconds, std::uint32_t offsetMs,
                                           bool withTime = true, int width = 64, int height = 48) {
        auto bytes =
            korvex::gen::encodeJ2k(korvex::gen::syntheticPicture(width, height, 3, dvrSeconds));
        korvex::gen::TrailerFields fields;
        fields.dvrSeconds = dvrSeconds;
        fields.offsetMs = offsetMs;
        fields.withTime = withTime;
        korvex::gen::appendJ2kTrailer(bytes, fields);
        return bytes;
    }
    std::string pictureSlot(int slot, std::int64_t offsetMs, std::uint32_t dvrSeconds = 1000) {
        const std::string path = PictureSlotPath(params_.cache.folder, slot);
        writeBytes(path, frame(dvrSeconds, 500));
        setTimeMs(path, offsetMs);
        return path;
    }

    fs::path root_;
    HttpThreadParams params_;
};

}  // namespace picvox::test
