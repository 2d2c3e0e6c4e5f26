#include "control/download/J2kFrameCheck.h"

#include "control/buffers/DecodeJ2KFile.h"
#include "control/buffers/PicvoxLog.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/Trailer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A small real JPEG 2000 frame with a trailer.
Bytes frameWithTrailer(std::uint32_t dvrSeconds, std::uint32_t offsetMs, bool withTime = true) {
    korvex::gen::RawPicture picture;
    picture.width = 64;
    picture.height = 48;
    picture.channels = 3;
    picture.pixels.resize(64 * 48 * 3);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        picture.pixels[i] = static_cast<std::uint8_t>(i * 7 + i / 191);
    }
    Bytes f = korvex::gen::encodeJ2k(picture);
    EXPECT_FALSE(f.empty());
    EXPECT_TRUE(korvex::gen::appendJ2kTrailer(
        f, {.dvrSeconds = dvrSeconds, .offsetMs = offsetMs, .withTime = withTime}));
    return f;
}

korvex::CheckResult checkBytes(const Bytes& b, int* ran = nullptr) {
    korvex::CheckResult r;
    const int result = picvox::CheckJ2kFrame(b.data(), b.size(), r);
    if (ran != nullptr)
        *ran = result;
    return r;
}

class J2kFrameTest : public ::testing::Test {
protected:
    void SetUp() override { picvox::ResetLog(); }
    void TearDown() override { picvox::ResetLog(); }
    std::string path(const char* name) const { return dir_.file(name); }

    korvex::test::TempDir dir_{"korvex-j2kframe"};
};

TEST_F(J2kFrameTest, BlackPicturePassesWithNoValidTimeAndRelativeTimeZero) {
    ASSERT_EQ(picvox::WriteBlackPicture(path("00.jp2")), 1);
    const Bytes file = readAll(path("00.jp2"));
    ASSERT_EQ(file.size(), 490u);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), picvox::BlackPicture().begin()));
    EXPECT_EQ(file[0x1DA], 0xFF);
    EXPECT_EQ(file[0x1DB], 0xD9);

    korvex::CheckResult r;
    r.time = 1234;  // no time in the trailer: the caller's value stays
    r.offsetMs = 99;
    EXPECT_EQ(picvox::CheckJ2kFrame(file.data(), file.size(), r), 1);
    EXPECT_EQ(r.flags, korvex::kNoValidTime);
    EXPECT_EQ(r.time, 1234);
    EXPECT_EQ(r.offsetMs, 0u);
    std::uint32_t rel = 7;
    EXPECT_EQ(picvox::ReadRelTime(path("00.jp2"), rel), 1);
    EXPECT_EQ(rel, 0u);

    // It is a real picture: 720 x 248, black.
    platform::GlobalBlock bmp = picvox::DecodeJ2KFile(path("00.jp2"));
    ASSERT_FALSE(bmp.empty());
    const std::uint8_t* p = bmp.data();
    auto le32 = [&](std::size_t at) {
        return p[at] | p[at + 1] << 8 | p[at + 2] << 16 | p[at + 3] << 24;
    };
    EXPECT_EQ(le32(18), 720);
    EXPECT_EQ(le32(22), 248);
    int brightest = 0;
    for (std::size_t i = 54; i < 54 + 720u * 248u * 3u; ++i)
        brightest = std::max<int>(brightest, p[i]);
    EXPECT_LE(brightest, 2);

    // Truncating an existing file.
    writeAll(path("01.jp2"), Bytes(2000, 0x55));
    ASSERT_EQ(picvox::WriteBlackPicture(path("01.jp2")), 1);
    EXPECT_EQ(fs::file_size(path("01.jp2")), 490u);
    EXPECT_EQ(picvox::WriteBlackPicture(dir_.file("missing/00.jp2")), 0);
}

TEST_F(J2kFrameTest, CheckFillsOnlyWhatTheTrailerSupplies) {
    struct Case {
        const char* name;
        Bytes bytes;
        int ran;
        std::int32_t flags;
        std::int64_t time;
        std::uint32_t offsetMs;
    };
    const Bytes good = frameWithTrailer(3600, 4321);
    Bytes noTrailer = good;
    korvex::gen::applyJ2kDamage(noTrailer, korvex::gen::Damage::NoTrailer);
    const Case cases[] = {
        // Stored wall-clock time read as universal time, whatever the process zone.
        {"full trailer", good, 1, 0, 946684800 + 3600, 4321},
        {"short trailer", frameWithTrailer(3600, 4321, false), 1, 4, -5, 4321},
        {"no trailer", noTrailer, 1, 7, -5, 77},
        {"not a frame", Bytes(100, 0), 0, 0, -5, 77},
        {"empty", Bytes{}, 0, 0, -5, 77},
    };
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        korvex::CheckResult r;
        r.flags = 99;
        r.time = -5;
        r.offsetMs = 77;
        EXPECT_EQ(picvox::CheckJ2kFrame(c.bytes.data(), c.bytes.size(), r), c.ran);
        EXPECT_EQ(r.flags, c.flags);
        EXPECT_EQ(r.time, c.time);
        EXPECT_EQ(r.offsetMs, c.offsetMs);
    }
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

TEST_F(J2kFrameTest, AbsoluteTimeTextInEachOrder) {
    writeAll(path("midnight.jp2"), frameWithTrailer(0, 1));
    // 2000-02-01 13:05:07
    writeAll(path("february.jp2"), frameWithTrailer(31 * 86400 + 13 * 3600 + 5 * 60 + 7, 1));
    writeAll(path("short.jp2"), frameWithTrailer(0, 1, false));
    writeAll(path("limit.jp2"), frameWithTrailer(korvex::kMaxDvrSeconds, 1));
    writeAll(path("junk.jp2"), Bytes(64, 0x11));
    picvox::WriteBlackPicture(path("black.jp2"));
    struct Case {
        const char* file;
        int order;
        const char* delimiter;
        const char* text;
    };
    const Case cases[] = {
        {"midnight.jp2", 2, "/", "2000/01/01 00:00:00"},
        {"midnight.jp2", 0, "/", "01/01/2000 00:00:00"},
        {"february.jp2", 0, "/", "02/01/2000 13:05:07"},
        {"february.jp2", 1, ".", "01.02.2000 13:05:07"},
        {"february.jp2", 2, "", "2000-02-01 13:05:07"},
        {"february.jp2", 2, "::", "2000:02:01 13:05:07"},
        {"february.jp2", 3, "/", ""},
        {"february.jp2", -1, "/", ""},
        {"short.jp2", 2, "/", ""},
        {"limit.jp2", 2, "/", ""},
        {"black.jp2", 2, "/", ""},
        {"junk.jp2", 2, "/", ""},
        {"missing.jp2", 2, "/", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.file << " order " << c.order);
        std::string text = "stale";
        EXPECT_EQ(picvox::ReadAbsoluteTime(text, c.order, c.delimiter, path(c.file)), 0);
        EXPECT_EQ(text, c.text);
    }
}

TEST_F(J2kFrameTest, AccessorsChangeOnlyTheirFields) {
    const Bytes original = frameWithTrailer(500000, 2500);
    writeAll(path("f.jp2"), original);
    const std::size_t pictureEnd = original.size() - 20;

    std::uint32_t value = 0;
    ASSERT_EQ(picvox::ReadRelTime(path("f.jp2"), value), 1);
    EXPECT_EQ(value, 2500u);
    ASSERT_EQ(picvox::ReadSetTime(path("f.jp2"), value), 1);
    EXPECT_EQ(value, 500000u);

    ASSERT_EQ(picvox::WriteRelTime(path("f.jp2"), 1200), 1);
    ASSERT_EQ(picvox::WriteSetTime(path("f.jp2"), 499990), 1);
    const Bytes changed = readAll(path("f.jp2"));
    ASSERT_EQ(changed.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + pictureEnd, changed.begin()));
    // start, length and picture checksum untouched
    EXPECT_TRUE(std::equal(original.end() - 14, original.end() - 4, changed.end() - 14));
    const auto r = checkBytes(changed);
    EXPECT_EQ(r.flags, 0);
    EXPECT_EQ(r.time, 946684800 + 499990);
    EXPECT_EQ(r.offsetMs, 1200u);
    ASSERT_EQ(picvox::ReadSetTime(path("f.jp2"), value), 1);
    EXPECT_EQ(value, 499990u);
}

TEST_F(J2kFrameTest, SetTimeGivesTheBlackPictureATimeWithAMatchingChecksum) {
    picvox::WriteBlackPicture(path("00.jp2"));
    std::uint32_t value = 0;
    EXPECT_EQ(picvox::ReadSetTime(path("00.jp2"), value), 0);  // no time fields yet
    ASSERT_EQ(picvox::WriteRelTime(path("00.jp2"), 300), 1);
    ASSERT_EQ(picvox::WriteSetTime(path("00.jp2"), 86400), 1);
    const Bytes file = readAll(path("00.jp2"));
    ASSERT_EQ(file.size(), 496u);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 0x1DC, picvox::BlackPicture().begin()));
    const auto r = checkBytes(file);
    EXPECT_EQ(r.flags, 0);
    EXPECT_EQ(r.time, 946684800 + 86400);
    EXPECT_EQ(r.offsetMs, 300u);
    ASSERT_EQ(picvox::ReadSetTime(path("00.jp2"), value), 1);
    EXPECT_EQ(value, 86400u);
    // Once it has the fields, a second rewrite changes them in place.
    ASSERT_EQ(picvox::WriteSetTime(path("00.jp2"), 90000), 1);
    EXPECT_EQ(fs::file_size(path("00.jp2")), 496u);
    EXPECT_EQ(checkBytes(readAll(path("00.jp2"))).flags, 0);
}

TEST_F(J2kFrameTest, AccessorsFailWithoutTouchingWhatTheyCannotUse) {
    std::uint32_t value = 0;
    EXPECT_EQ(picvox::ReadRelTime(path("missing.jp2"), value), 0);
    EXPECT_EQ(picvox::WriteRelTime(path("missing.jp2"), 1), 0);
    EXPECT_EQ(picvox::ReadSetTime(path("missing.jp2"), value), 0);
    EXPECT_EQ(picvox::WriteSetTime(path("missing.jp2"), 1), 0);
    EXPECT_FALSE(fs::exists(path("missing.jp2")));

    writeAll(path("tiny"), {1, 2, 3});
    EXPECT_EQ(picvox::ReadRelTime(path("tiny"), value), 0);
    EXPECT_EQ(picvox::WriteRelTime(path("tiny"), 1), 0);
    EXPECT_EQ(readAll(path("tiny")), (Bytes{1, 2, 3}));

    // A trailer cut to 10 bytes has no room for a time that would not hit another field.
    Bytes cut = frameWithTrailer(0, 0, false);
    cut.resize(cut.size() - 4);
    writeAll(path("cut.jp2"), cut);
    EXPECT_EQ(picvox::WriteSetTime(path("cut.jp2"), 5), 0);
    EXPECT_EQ(readAll(path("cut.jp2")), cut);
}

TEST_F(J2kFrameTest, LogsEachStepWhenTheLogIsOn) {
    korvex::test::LogCapture log;
    ASSERT_TRUE(picvox::LogEnabled());

    const Bytes black(picvox::BlackPicture().begin(), picvox::BlackPicture().end());
    checkBytes(black);
    Bytes noTrailer = black;
    noTrailer.resize(0x1DC);
    checkBytes(noTrailer);
    // Stored start off by one, stored picture checksum and time checksum wrong.
    const std::uint32_t when = 2 * 86400 + 3 * 3600 + 4 * 60 + 5;  // logged as "2 3:4"
    Bytes bad = frameWithTrailer(when, 0);
    const std::size_t t = bad.size() - 20;
    bad[t + 6] ^= 0x01;
    bad[t + 14] = 0x34;
    bad[t + 15] = 0x12;
    bad[t + 0] ^= 0xFF;
    const auto layout = korvex::locateJ2k({bad.data(), bad.size()});
    ASSERT_TRUE(layout);
    checkBytes(bad);
    picvox::ResetLog();

    const auto sum = static_cast<std::uint16_t>(layout->pictureSum);
    const std::uint16_t timeSum = korvex::j2kTimeChecksum(layout->pictureSum, when);
    const std::uint16_t storedTimeSum = static_cast<std::uint16_t>(bad[t] | bad[t + 1] << 8);
    char buf[200];
    // The black picture, then the same without trailer.
    std::vector<std::string> expected = {"J2KCHK      cur 6B 01", "J2KCHK      length 0000006F"};
    expected.push_back("J2KCHK      cur 6B 01");
    expected.push_back("J2KCHK      length 0000006F");
    expected.push_back("J2KCHK      remainder false:0");
    // The damaged frame; texts that end in a line break leave an empty line.
    std::snprintf(buf, sizeof buf, "J2KCHK      cur %02X %02X",
                  static_cast<unsigned>(layout->start & 0xFF),
                  static_cast<unsigned>((layout->start >> 8) & 0xFF));
    expected.push_back(buf);
    std::snprintf(buf, sizeof buf, "J2KCHK      length %08X", layout->length);
    expected.push_back(buf);
    expected.push_back("J2KCHK      2 3:4");
    expected.push_back("J2KCHK      画像チェックサムStartアドレス不一致");
    expected.push_back("");
    std::snprintf(buf, sizeof buf, "J2KCHK      画像チェックサム不一致。calc=%02X %02X; read=34 12",
                  sum & 0xFF, sum >> 8);
    expected.push_back(buf);
    expected.push_back("");
    std::snprintf(buf, sizeof buf, "J2KCHK      日時チェックサム不一致。calc=%04X; read=%04X",
                  timeSum, storedTimeSum);
    expected.push_back(buf);
    expected.push_back("");
    EXPECT_EQ(log.lines(), expected);
}

TEST_F(J2kFrameTest, ReadAbsoluteTimeLogsWhyItHasNoText) {
    korvex::test::LogCapture log;
    writeAll(path("junk.jp2"), Bytes(64, 0x11));
    std::string text;
    picvox::ReadAbsoluteTime(text, 2, "/", path("missing.jp2"));
    picvox::ReadAbsoluteTime(text, 2, "/", path("junk.jp2"));
    picvox::ResetLog();
    const std::vector<std::string> expected = {
        "J2KCHK      ReadAbsoluteTime ファイルオープン失敗 '" + path("missing.jp2") + "'",
        "J2KCHK      ReadAbsoluteTime 不正ファイル！！",
    };
    EXPECT_EQ(log.lines(), expected);
}

TEST_F(J2kFrameTest, NothingIsLoggedWhileTheLogIsOff) {
    picvox::ConfigureLog(dir_.str());  // no Picvox.ini
    const Bytes black(picvox::BlackPicture().begin(), picvox::BlackPicture().end());
    checkBytes(black);
    EXPECT_FALSE(fs::exists(dir_.path() / "Picvox_log.log"));
}

}  // namespace
