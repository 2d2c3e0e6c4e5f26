#include "control/buffers/WavFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "control/buffers/WaveSaveQueue.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace picvox {
namespace {

using Bytes = std::vector<std::uint8_t>;
using korvex::test::TempDir;
using korvex::test::writeFile;

void add32(Bytes& b, std::uint32_t v) {
    for (int s = 0; s < 32; s += 8)
        b.push_back(static_cast<std::uint8_t>(v >> s));
}
void addId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(id[i]));
}

struct Chunk {
    const char* id;
    Bytes body;
    std::int64_t declared = -1;  // a size that lies, or -1 for the body's
};

// A RIFF file of these chunks, odd ones padded; `riffSize` -1 for the true size.
Bytes wav(const std::vector<Chunk>& chunks, std::int64_t riffSize = -1) {
    Bytes b;
    for (const Chunk& c : chunks) {
        addId(b, c.id);
        add32(b, static_cast<std::uint32_t>(c.declared < 0 ? c.body.size() : c.declared));
        b.insert(b.end(), c.body.begin(), c.body.end());
        if (c.body.size() & 1)
            b.push_back(0);
    }
    Bytes file;
    addId(file, "RIFF");
    add32(file, static_cast<std::uint32_t>(riffSize < 0 ? b.size() + 4 : riffSize));
    addId(file, "WAVE");
    file.insert(file.end(), b.begin(), b.end());
    return file;
}
// 8 kHz mono 8-bit; `extra` follows the 16 format bytes.
Bytes fmt(std::uint8_t tag = 1, std::uint32_t avg = 8000, const Bytes& extra = {}) {
    Bytes f = {tag, 0, 1, 0, 0x40, 0x1F, 0, 0};
    add32(f, avg);
    f.insert(f.end(), {1, 0, 8, 0});
    f.insert(f.end(), extra.begin(), extra.end());
    return f;
}
Bytes samples(std::size_t n) {
    Bytes s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return s;
}
TEST(WavFileTest, ReadAcceptsOnlyWholePcmFiles) {
    Bytes truncated = wav({{"fmt ", fmt()}, {"data", samples(100)}});
    truncated.resize(truncated.size() - 40);
    Bytes fmt15 = fmt();
    fmt15.resize(15);
    const struct {
        const char* name;
        Bytes file;
        std::uint32_t dataBytes;  // 0: refused
    } cases[] = {
        {"plain", wav({{"fmt ", fmt()}, {"data", samples(10)}}), 10},
        {"odd chunks padded",
         wav({{"LIST", {'a', 'b', 'c'}},
              {"fmt ", fmt()},
              {"junk", Bytes(5)},
              {"data", samples(9)}}),
         9},
        {"truncated data", truncated, 0},
        {"oversized fmt", wav({{"fmt ", fmt(), 0xFFFFFFF0}, {"data", samples(10)}}), 0},
        {"oversized chunk before data",
         wav({{"fmt ", fmt()}, {"junk", Bytes(4), 0xFFFFFFFF}, {"data", samples(10)}}), 0},
        {"data outside the form", wav({{"fmt ", fmt()}, {"data", samples(10)}}, 28), 0},
        {"float, not PCM", wav({{"fmt ", fmt(3)}, {"data", samples(10)}}), 0},
        // A rate of 0 could not be timed and would divide by zero further on.
        {"no bytes per second", wav({{"fmt ", fmt(1, 0)}, {"data", samples(10)}}), 0},
        {"fmt of 15 bytes", wav({{"fmt ", fmt15}, {"data", samples(10)}}), 0},
        {"empty data", wav({{"fmt ", fmt()}, {"data", {}}}), 0},
        {"data before fmt", wav({{"data", samples(10)}, {"fmt ", fmt()}}), 0},
    };
    TempDir dir("wavread");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.file("clip.wav"), c.file);
        WavClip clip;
        clip.dataBytes = 1234;  // must not survive a refusal
        EXPECT_EQ(ReadWavFile(clip, dir.file("clip.wav")), c.dataBytes > 0);
        EXPECT_EQ(clip.dataBytes, c.dataBytes);
        EXPECT_EQ(clip.data, samples(c.dataBytes));
        EXPECT_EQ(clip.format.size(), c.dataBytes > 0 ? 18u : 0u);
    }
}

// 16-bit stereo takes whole 4-byte blocks: a data chunk of 4n + 2 bytes gives its n whole blocks
// (the half block would shift every sample after it), one of 2 bytes gives none and is refused,
// and a block size of 0 cannot be cut at all.
TEST(WavFileTest, ReadKeepsWholeSampleBlocksOnly) {
    Bytes stereo16 = {1, 0, 2, 0, 0x40, 0x1F, 0, 0};
    add32(stereo16, 32000);
    stereo16.insert(stereo16.end(), {4, 0, 16, 0});
    Bytes noBlock = fmt();
    noBlock[12] = 0;
    const struct {
        const char* name;
        Bytes format;
        std::size_t bytes;
        std::uint32_t kept;
    } cases[] = {{"whole blocks", stereo16, 4000, 4000},
                 {"half a block more", stereo16, 4002, 4000},
                 {"only half a block", stereo16, 2, 0},
                 {"block size 0", noBlock, 100, 0}};
    TempDir dir("wavblocks");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.file("clip.wav"), wav({{"fmt ", c.format}, {"data", samples(c.bytes)}}));
        WavClip clip;
        EXPECT_EQ(ReadWavFile(clip, dir.file("clip.wav")), c.kept > 0);
        EXPECT_EQ(clip.dataBytes, c.kept);
        EXPECT_EQ(clip.data, samples(c.kept));
    }
}

TEST(WavFileTest, ReadRefusesWhatIsNotARegularFileOfSaneSize) {
    TempDir dir("wavkinds");
    ASSERT_EQ(::mkfifo(dir.file("fifo.wav").c_str(), 0600), 0);
    writeFile(dir.file("big.wav"), wav({{"fmt ", fmt()}, {"data", samples(100)}}));
    std::filesystem::resize_file(dir.file("big.wav"), kMaxWavFileBytes + 1);
    WavClip clip;
    EXPECT_FALSE(ReadWavFile(clip, dir.file("fifo.wav")));  // must not wait for a writer
    EXPECT_FALSE(ReadWavFile(clip, dir.file("big.wav")));
}

TEST(WavFileTest, PlayTimeIsWholeSecondsThenTheRemainder) {
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    const struct {
        std::uint32_t bytes, avg, ms;
    } cases[] = {
        {8000, 8000, 1000},
        {12001, 8000, 1500},
        {7, 8000, 0},
        {5000, 0, 0},
        {4000000000u, 4000000001u, 999},  // the remainder times 1000 does not fit 32 bits
        {kMax, 1, kMax},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlayTimeMs(c.bytes, c.avg), c.ms) << c.bytes << " / " << c.avg;
}

TEST(WavFileTest, HeaderFollowsTheSourceFormatChunk) {
    const struct {
        const char* name;
        Bytes fmt;
        std::size_t headerBytes;
        std::uint32_t fmtField;
        std::uint16_t cbSize;
    } cases[] = {
        {"16-byte fmt", fmt(), 44, 16, 0},
        {"18-byte fmt, cbSize 0", fmt(1, 8000, {0, 0}), 46, 18, 0},
        // An extension word claiming more than the chunk held is cut to what it held.
        {"cbSize beyond the chunk", fmt(1, 8000, {40, 0}), 46, 18, 0},
    };
    TempDir dir("wavheader");
    const Bytes pcm = samples(11);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = wav({{"fmt ", c.fmt}, {"data", samples(4)}});
        WavClip source;
        ASSERT_TRUE(ParseWavClip(source, file.data(), file.size()));
        const Bytes header = MakeWavHeader(source, 11);
        ASSERT_EQ(header.size(), c.headerBytes);
        EXPECT_EQ(header[16], c.fmtField);
        EXPECT_EQ(header[c.headerBytes - 4], 11);
        EXPECT_EQ(header[4], c.headerBytes - 8 + 11);  // RIFF size

        // What we write reads back as the same clip.
        int error = -1;
        ASSERT_TRUE(WriteWavFile(dir.file("out.wav"), source, pcm.data(), 11, &error));
        EXPECT_FALSE(WriteWavFile(dir.file("no/out.wav"), source, pcm.data(), 11, &error));
        EXPECT_EQ(error, ENOENT);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
        WavClip back;
        ASSERT_TRUE(ReadWavFile(back, dir.file("out.wav")));
        EXPECT_EQ(back.data, pcm);
        EXPECT_EQ(back.fmtBytes, c.fmtField);
        EXPECT_EQ(back.cbSize(), c.cbSize);
    }
}

TEST(WaveSaveQueueTest, KeepsOneSlotFreeAndOrderAcrossTheWrap) {
    WaveSaveQueue queue(10000);  // a cache time of 2000 ms
    for (std::uint32_t i = 0; i < 9999; ++i) {
        WavClip clip;
        clip.dataBytes = i;
        ASSERT_TRUE(queue.Push(std::move(clip))) << i;
    }
    WavClip refused;
    refused.data = samples(3);
    EXPECT_FALSE(queue.Push(std::move(refused)));
    EXPECT_EQ(refused.data, samples(3));  // untouched when full

    WaveSaveQueue small(3);
    WavClip out;
    for (std::uint32_t i = 0; i < 7; ++i) {  // across the wrap of a 3-slot ring
        WavClip in;
        in.dataBytes = i;
        ASSERT_TRUE(small.Push(std::move(in)) && small.Pop(out));
        EXPECT_EQ(out.dataBytes, i);
        EXPECT_FALSE(small.Pop(out));
    }
}

}  // namespace
}  // namespace picvox
