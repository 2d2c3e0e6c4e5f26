#include "control/buffers/WavFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "control/buffers/WaveSaveQueue.h"
#include "tests/http/TestSupport.h"

namespace picvox {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::TempDir;

void add32(Bytes& b, std::uint32_t v) {
    for (int s = 0; s < 32; s += 8)
        b.push_back(static_cast<std::uint8_t>(v >> s));
}
void add16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void addId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(id[i]));
}
// A chunk with its declared size (which may lie) and its body, padded when odd.
void addChunk(Bytes& b, const char* id, const Bytes& body, std::int64_t declared = -1) {
    addId(b, id);
    add32(b, declared < 0 ? static_cast<std::uint32_t>(body.size())
                          : static_cast<std::uint32_t>(declared));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1)
        b.push_back(0);
}
// 8 kHz mono 8-bit unless told otherwise; `extra` follows the 16 format bytes.
Bytes fmtBody(std::uint16_t tag = 1, std::uint32_t avg = 8000, const Bytes& extra = {}) {
    Bytes f;
    add16(f, tag);
    add16(f, 1);
    add32(f, 8000);
    add32(f, avg);
    add16(f, 1);
    add16(f, 8);
    f.insert(f.end(), extra.begin(), extra.end());
    return f;
}
Bytes riff(const Bytes& chunks, std::int64_t declared = -1) {
    Bytes b;
    addId(b, "RIFF");
    add32(b, declared < 0 ? static_cast<std::uint32_t>(chunks.size() + 4)
                          : static_cast<std::uint32_t>(declared));
    addId(b, "WAVE");
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}
Bytes samples(std::size_t n) {
    Bytes s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return s;
}
Bytes simpleWav(std::size_t dataBytes) {
    Bytes c;
    addChunk(c, "fmt ", fmtBody());
    addChunk(c, "data", samples(dataBytes));
    return riff(c);
}
void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

struct ParseCase {
    const char* name;
    Bytes file;
    bool accepted;
    std::uint32_t dataBytes;
};

std::vector<ParseCase> parseCases() {
    std::vector<ParseCase> cases;
    cases.push_back({"plain", simpleWav(100), true, 100});
    {
        Bytes c;
        addChunk(c, "LIST", Bytes{'a', 'b', 'c'});  // odd: the pad byte must be skipped
        addChunk(c, "fmt ", fmtBody());
        addChunk(c, "junk", Bytes(5, 0xFF));
        addChunk(c, "data", samples(9));
        cases.push_back({"odd chunks padded", riff(c), true, 9});
    }
    {
        Bytes w = simpleWav(9);
        w.pop_back();  // the last chunk's pad byte may be missing
        cases.push_back({"odd data without pad at end", w, true, 9});
    }
    {
        Bytes w = simpleWav(100);
        w.resize(w.size() - 40);
        cases.push_back({"truncated data", w, false, 0});
    }
    const Bytes whole = simpleWav(10);
    cases.push_back({"truncated in fmt", Bytes(whole.begin(), whole.begin() + 30), false, 0});
    cases.push_back({"header only", Bytes(whole.begin(), whole.begin() + 12), false, 0});
    {
        Bytes c;
        addChunk(c, "fmt ", fmtBody(), 0xFFFFFFF0u);
        addChunk(c, "data", samples(10));
        cases.push_back({"oversized fmt", riff(c), false, 0});
    }
    {
        Bytes c;
        addChunk(c, "fmt ", fmtBody());
        addChunk(c, "data", samples(10), 0x7FFFFFFF);
        cases.push_back({"oversized data", riff(c), false, 0});
    }
    {
        Bytes c;
        addChunk(c, "fmt ", fmtBody());
        addChunk(c, "junk", Bytes(4), 0xFFFFFFFFu);
        addChunk(c, "data", samples(10));
        cases.push_back({"oversized chunk before data", riff(c), false, 0});
    }
    {
        Bytes c;
        addChunk(c, "fmt ", fmtBody());
        addChunk(c, "data", samples(10));
        cases.push_back({"data outside the form", riff(c, 4 + 24), false, 0});
        cases.push_back({"form longer than the file", riff(c, 0x7FFFFFFF), true, 10});
    }
    {
        Bytes c;
        addChunk(c, "fmt ", fmtBody(3));
        addChunk(c, "data", samples(10));
        cases.push_back({"float, not PCM", riff(c), false, 0});
    }
    {
        Bytes c;
        addChunk(c, "fmt ", fmtBody(1, 0));
        addChunk(c, "data", samples(10));
        cases.push_back({"no bytes per second", riff(c), false, 0});
    }
    {
        Bytes c;
        Bytes f = fmtBody();
        f.resize(15);
        addChunk(c, "fmt ", f);
        addChunk(c, "data", samples(10));
        cases.push_back({"fmt of 15 bytes", riff(c), false, 0});
    }
    {
        Bytes c;
        addChunk(c, "fmt ", fmtBody());
        addChunk(c, "data", Bytes{});
        cases.push_back({"empty data", riff(c), false, 0});
    }
    {
        Bytes c;
        addChunk(c, "data", samples(10));
        addChunk(c, "fmt ", fmtBody());
        cases.push_back({"data before fmt", riff(c), false, 0});
    }
    {
        Bytes c;
        addChunk(c, "fmt ", fmtBody());
        cases.push_back({"no data", riff(c), false, 0});
    }
    {
        Bytes w = simpleWav(10);
        std::memcpy(w.data() + 8, "AVI ", 4);
        cases.push_back({"not WAVE", w, false, 0});
    }
    cases.push_back({"empty file", Bytes{}, false, 0});
    return cases;
}

TEST(WavFileTest, ReadAcceptsOnlyWholePcmFiles) {
    TempDir dir("wavread");
    for (const ParseCase& c : parseCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("clip.wav");
        writeFile(path, c.file);
        WavClip clip;
        clip.dataBytes = 1234;  // must not survive a refusal
        EXPECT_EQ(ReadWavFile(clip, path), c.accepted);
        EXPECT_EQ(clip.dataBytes, c.dataBytes);
        EXPECT_EQ(clip.data.size(), c.dataBytes);
        if (c.accepted) {
            EXPECT_EQ(clip.fmtBytes, 16u);
            ASSERT_EQ(clip.format.size(), 18u);
            EXPECT_EQ(clip.cbSize(), 0u);
            EXPECT_EQ(clip.avgBytesPerSec(), 8000u);
            EXPECT_EQ(clip.data, samples(c.dataBytes));
        } else {
            EXPECT_TRUE(clip.format.empty());
        }
        // The walk over memory sees exactly what the file read sees.
        WavClip fromBytes;
        EXPECT_EQ(ParseWavClip(fromBytes, c.file.data(), c.file.size()), c.accepted);
    }
}

TEST(WavFileTest, ReadRefusesWhatIsNotARegularFileOfSaneSize) {
    TempDir dir("wavkinds");
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = dir.file("big.wav");
    writeFile(big, simpleWav(100));
    std::filesystem::resize_file(big, kMaxWavFileBytes + 1);
    WavClip clip;
    EXPECT_FALSE(ReadWavFile(clip, fifo));  // would block for ever if opened for waiting
    EXPECT_FALSE(ReadWavFile(clip, dir.path()));
    EXPECT_FALSE(ReadWavFile(clip, dir.file("missing.wav")));
    EXPECT_FALSE(ReadWavFile(clip, big));
}

TEST(WavFileTest, PlayTimeIsWholeSecondsThenTheRemainder) {
    struct Case {
        std::uint32_t bytes, avg, ms;
    } const cases[] = {
        {8000, 8000, 1000},
        {12001, 8000, 1500},
        {7, 8000, 0},
        {0, 8000, 0},
        {5000, 0, 0},
        // The remainder times 1000 does not fit 32 bits.
        {4000000000u, 4000000001u, 999},
        {std::numeric_limits<std::uint32_t>::max(), 1, std::numeric_limits<std::uint32_t>::max()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PlayTimeMs(c.bytes, c.avg), c.ms) << c.bytes << " / " << c.avg;
}

struct HeaderCase {
    const char* name;
    Bytes fmt;
    std::size_t headerBytes;
    std::uint32_t fmtField;
    std::uint16_t cbSizeWritten;
};

TEST(WavFileTest, HeaderFollowsTheSourceFormatChunk) {
    const HeaderCase cases[] = {
        {"16-byte fmt", fmtBody(), 44, 16, 0},
        {"18-byte fmt, cbSize 0", fmtBody(1, 8000, {0, 0}), 46, 18, 0},
        {"20-byte fmt, cbSize 2", fmtBody(1, 8000, {2, 0, 0xAB, 0xCD}), 48, 20, 2},
        // An extension word claiming more than the chunk held is cut to what it held.
        {"cbSize beyond the chunk", fmtBody(1, 8000, {40, 0}), 46, 18, 0},
        {"odd extension padded", fmtBody(1, 8000, {1, 0, 0xEE}), 48, 19, 1},
    };
    TempDir dir("wavheader");
    const Bytes pcm = samples(11);
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes chunks;
        addChunk(chunks, "fmt ", c.fmt);
        addChunk(chunks, "data", samples(4));
        const Bytes file = riff(chunks);
        WavClip source;
        ASSERT_TRUE(ParseWavClip(source, file.data(), file.size()));
        const Bytes header = MakeWavHeader(source, 11);
        ASSERT_EQ(header.size(), c.headerBytes);
        EXPECT_EQ(WavHeaderBytes(source), c.headerBytes);
        EXPECT_EQ(std::memcmp(header.data() + 12, "fmt ", 4), 0);
        EXPECT_EQ(header[16] | header[17] << 8, static_cast<int>(c.fmtField));
        if (c.headerBytes > 44) {
            EXPECT_EQ(header[36] | header[37] << 8, c.cbSizeWritten);
        }
        EXPECT_EQ(std::memcmp(header.data() + c.headerBytes - 8, "data", 4), 0);
        EXPECT_EQ(header[WavDataSizeOffset(source)], 11);
        const std::uint32_t riffSize =
            header[4] | header[5] << 8 | header[6] << 16 | header[7] << 24;
        EXPECT_EQ(riffSize, c.headerBytes - 8 + 11);

        // What we write reads back as the same clip.
        const std::string path = dir.file("out.wav");
        int error = -1;
        ASSERT_TRUE(WriteWavFile(path, source, pcm.data(), 11, &error));
        EXPECT_EQ(error, 0);
        EXPECT_EQ(std::filesystem::file_size(path), c.headerBytes + 11);
        WavClip back;
        ASSERT_TRUE(ReadWavFile(back, path));
        EXPECT_EQ(back.data, pcm);
        EXPECT_EQ(back.fmtBytes, c.fmtField);
        EXPECT_EQ(back.cbSize(), c.cbSizeWritten);
    }
}

TEST(WavFileTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
    TempDir dir("wavwrite");
    const std::string path = dir.file("01.wav");
    writeFile(path, simpleWav(3));
    WavClip noFormat;
    int error = 0;
    EXPECT_FALSE(WriteWavFile(path, noFormat, nullptr, 0, &error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(WriteWavFile(dir.file("missing/01.wav"), noFormat, nullptr, 0, nullptr));
    const Bytes five = simpleWav(5);
    WavClip clip;
    ASSERT_TRUE(ParseWavClip(clip, five.data(), five.size()));
    EXPECT_FALSE(WriteWavFile(dir.file("missing/01.wav"), clip, clip.data.data(), 5, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
    WavClip old;
    EXPECT_TRUE(ReadWavFile(old, path));
    EXPECT_EQ(old.dataBytes, 3u);
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
    EXPECT_EQ(queue.held(), 9999u);

    WaveSaveQueue small(3);
    WavClip out;
    EXPECT_FALSE(small.Pop(out));
    std::uint32_t next = 0;
    for (std::uint32_t round = 0; round < 7; ++round) {
        WavClip a, b;
        a.dataBytes = next + 1;
        b.dataBytes = next + 2;
        ASSERT_TRUE(small.Push(std::move(a)));
        ASSERT_TRUE(small.Push(std::move(b)));
        ASSERT_TRUE(small.Pop(out));
        EXPECT_EQ(out.dataBytes, next + 1);
        ASSERT_TRUE(small.Pop(out));
        EXPECT_EQ(out.dataBytes, next + 2);
        EXPECT_FALSE(small.Pop(out));
        next += 2;
    }
    for (std::size_t slots : {0u, 1u}) {
        WaveSaveQueue none(slots);
        EXPECT_FALSE(none.Push(WavClip{}));
        EXPECT_FALSE(none.Pop(out));
    }
}

}  // namespace
}  // namespace picvox
