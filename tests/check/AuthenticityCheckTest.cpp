#include "recording/AuthenticityCheck.h"

#include "SyntheticFrames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include <unistd.h>

#include "tests/support/ScopedEnv.h"

using namespace checktest;
using korvex::CheckResult;

namespace {

std::span<const std::uint8_t> view(const Bytes& b) {
    return {b.data(), b.size()};
}

// Sets the process zone for one test and puts the previous one back.
class ScopedTz {
public:
    explicit ScopedTz(const char* tz) : env_(std::in_place, "TZ", tz) { ::tzset(); }
    ~ScopedTz() {
        env_.reset();
        ::tzset();
    }

private:
    std::optional<korvex::test::ScopedEnv> env_;
};

std::uint32_t byteSum(const Bytes& b) {
    std::uint32_t s = 0;
    for (auto v : b)
        s += v;
    return s;
}

// ---- time conversion ----

TEST(DvrTime, CountsFromLocalMidnightOfTheYear2000) {
    {
        ScopedTz jst("JST-9");
        EXPECT_EQ(korvex::dvrSecondsToTime(0), 946652400);
        EXPECT_EQ(korvex::dvrSecondsToTime(86400), 946652400 + 86400);
        EXPECT_EQ(korvex::dvrSecondsToTime(korvex::kMaxDvrSeconds - 1),
                  946652400ll + korvex::kMaxDvrSeconds - 1);
    }
    // A remembered epoch must not outlive a change of zone.
    ScopedTz utc("UTC0");
    EXPECT_EQ(korvex::dvrSecondsToTime(0), 946684800);
}

// ---- JPEG 2000 trailers built by hand ----

struct J2kTrailer {
    bool withTime = true;
    std::uint32_t dvrSeconds = 1000;
    int timeSumDelta = 0;  // added to the correct time checksum
    std::uint32_t startDelta = 0;
    std::uint32_t lengthDelta = 0;
    int keepBytes = -1;  // cut the trailer to this many bytes
};

Bytes j2kWithTrailer(const J2kTrailer& t, const Bytes& coded = {0x01, 0x02, 0xFF, 0x00, 0x7F}) {
    Jp2Frame f = makeJp2(coded);
    const std::uint32_t sum = byteSum(coded);
    const std::size_t end = f.bytes.size();
    if (t.withTime) {
        std::uint32_t timeSum = sum;
        for (int s = 0; s < 32; s += 8)
            timeSum += (t.dvrSeconds >> s) & 0xFF;
        putLe16(f.bytes, (timeSum + t.timeSumDelta) & 0xFFFF);
        putLe32(f.bytes, t.dvrSeconds);
    }
    putLe32(f.bytes, f.start + t.startDelta);
    putLe32(f.bytes, static_cast<std::uint32_t>(coded.size()) + t.lengthDelta);
    putLe16(f.bytes, sum);
    putLe32(f.bytes, 0x01020304);
    if (t.keepBytes >= 0)
        f.bytes.resize(end + t.keepBytes);
    return f.bytes;
}

struct J2kCase {
    const char* name;
    J2kTrailer trailer;
    std::int32_t flags;
    bool hasTime;
    std::uint32_t offsetMs;
};

TEST(J2kCheck, ReadsTrailerFieldsAsRecorded) {
    ScopedTz jst("JST-9");
    const J2kCase cases[] = {
        {"full trailer", {}, 0, true, 0x01020304},
        {"short form agrees", {.withTime = false}, 4, false, 0x01020304},
        {"short form, start off", {.withTime = false, .startDelta = 1}, 5, false, 0x01020304},
        {"short form without offsetMs", {.withTime = false, .keepBytes = 10}, 4, false, 0},
        {"short form cut in offsetMs", {.withTime = false, .keepBytes = 12}, 4, false, 0x0304},
        {"time at the limit", {.dvrSeconds = korvex::kMaxDvrSeconds}, 4, false, 0x01020304},
        {"time at the limit, sum off",
         {.dvrSeconds = korvex::kMaxDvrSeconds, .timeSumDelta = 1},
         6,
         false,
         0x01020304},
        {"time sum off", {.timeSumDelta = 0x100}, 2, true, 0x01020304},
        {"start and length off above bit 15",
         {.startDelta = 0x10000, .lengthDelta = 0x7FFF0000},
         0,
         true,
         0x01020304},
        {"length off", {.lengthDelta = 1}, 1, true, 0x01020304},
        {"five bytes left", {.keepBytes = 5}, 7, false, 0},
        {"nothing left", {.keepBytes = 0}, 7, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = j2kWithTrailer(c.trailer);
        CheckResult r;
        r.flags = -1;
        r.time = 123;
        r.offsetMs = 456;
        ASSERT_TRUE(korvex::checkJpeg2000(view(file), r));
        EXPECT_EQ(r.flags, c.flags);
        EXPECT_EQ(r.time, c.hasTime ? 946652400 + c.trailer.dvrSeconds : 0);
        EXPECT_EQ(r.offsetMs, c.offsetMs);
    }
}

TEST(J2kCheck, SumsFromTheStartMarkerThroughTheFirstEndMarker) {
    // A second FF D9 inside what follows belongs to the trailer, not to the picture.
    Jp2Frame f = makeJp2({0x10, 0x20});
    const std::uint32_t sum = 0x30;
    putLe16(f.bytes, sum + 0xFF + 0xD9 + 0 + 0);  // time sum of a time whose bytes are FF D9 0 0
    append(f.bytes, {0xFF, 0xD9, 0x00, 0x00});
    putLe32(f.bytes, f.start);
    putLe32(f.bytes, 2);
    putLe16(f.bytes, sum);
    putLe32(f.bytes, 9);
    CheckResult r;
    ASSERT_TRUE(korvex::checkJpeg2000(view(f.bytes), r));
    EXPECT_EQ(r.flags, 0);
    EXPECT_EQ(r.offsetMs, 9u);
}

// A file the check refuses, and the reason it gives for reports.
struct NotRunCase {
    const char* name;
    Bytes bytes;
    korvex::CheckRefusal why;
};

TEST(J2kCheck, DoesNotRunOnFilesOfAnotherShape) {
    const Bytes good = j2kWithTrailer({});
    auto changed = [&](std::size_t at, std::uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    const Bytes noSod = [&] {
        Bytes b = good;
        for (std::size_t i = 32; i + 1 < b.size(); ++i) {
            if (b[i] == 0xFF && b[i + 1] == 0x93)
                b[i + 1] = 0x92;
        }
        return b;
    }();
    Bytes noEnd = makeJp2({0x01, 0x02}).bytes;
    noEnd.pop_back();
    using Why = korvex::CheckRefusal;
    const NotRunCase cases[] = {
        {"empty", {}, Why::TooShort},
        {"one byte", {0x00}, Why::TooShort},
        {"boxes only, cut", Bytes(good.begin(), good.begin() + 31), Why::NotJp2},
        {"signature", changed(4, 'J'), Why::NotJp2},
        {"signature length", changed(3, 0x0D), Why::NotJp2},
        {"file-type length", changed(15, 0x15), Why::NotJp2},
        {"brand", changed(23, 'x'), Why::NotJp2},
        {"compatibility", changed(31, 'x'), Why::NotJp2},
        {"no start of data", noSod, Why::NoStartOfData},
        {"no end marker", noEnd, Why::NoEndOfCodestream},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckResult r;
        r.flags = 55;
        EXPECT_FALSE(korvex::checkJpeg2000(view(c.bytes), r));
        EXPECT_EQ(r.flags, 0);
        EXPECT_EQ(korvex::checkRefusal(view(c.bytes), korvex::CheckVariant::Jpeg2000), c.why);
    }
    // The minor version is not examined.
    CheckResult r;
    EXPECT_TRUE(korvex::checkJpeg2000(view(changed(25, 0x7E)), r));
    EXPECT_EQ(r.flags, 0);
    EXPECT_EQ(korvex::checkRefusal(view(good), korvex::CheckVariant::Jpeg2000), Why::None);
}

// ---- JPEG trailers built by hand ----

// Big-endian word sum of the coded bytes followed by FF D9, completed with FF when odd.
std::uint16_t jpegSum(Bytes coded) {
    coded.push_back(0xFF);
    coded.push_back(0xD9);
    if (coded.size() % 2 == 1)
        coded.push_back(0xFF);
    std::uint32_t s = 0;
    for (std::size_t i = 0; i < coded.size(); i += 2)
        s += (coded[i] << 8) | coded[i + 1];
    return static_cast<std::uint16_t>(s);
}

Bytes jpegWithTrailer(const Bytes& coded, std::uint16_t pictureSum, std::uint32_t dvrSeconds,
                      std::uint32_t offsetMs) {
    JpegFrame f = makeJpeg(coded);
    while ((f.bytes.size() - f.codedStart) % 32 != 0)
        f.bytes.push_back(0x00);
    putLe16(f.bytes, pictureSum + (dvrSeconds & 0xFFFF) + (dvrSeconds >> 16));
    putLe32(f.bytes, dvrSeconds);
    putLe16(f.bytes, pictureSum);
    append(f.bytes, {kTableTail[0], kTableTail[1], kTableTail[2], kTableTail[3]});
    putLe32(f.bytes, offsetMs);
    return f.bytes;
}

TEST(JpegCheck, SumsBigEndianWordsCompletingAHalfWordWithFF) {
    ScopedTz jst("JST-9");
    struct Case {
        const char* name;
        Bytes coded;
        std::uint16_t sum;
    };
    const Case cases[] = {
        {"empty scan", {}, 0xFFD9},
        {"D9 on a low position", {0x12, 0x34}, 0x120D},
        {"D9 on a high position", {0x12}, 0xECFE},
        {"stuffed FF", {0xFF, 0x00, 0xAB}, 0x84FE},
        {"exactly one block", Bytes(30, 0x01), static_cast<std::uint16_t>(15 * 0x0101 + 0xFFD9)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(jpegSum(c.coded), c.sum);  // the table itself is right
        const Bytes file = jpegWithTrailer(c.coded, c.sum, 86400, 777);
        CheckResult r;
        ASSERT_TRUE(korvex::checkJpeg(view(file), r));
        EXPECT_EQ(r.flags, 0);
        EXPECT_EQ(r.time, 946652400 + 86400);
        EXPECT_EQ(r.offsetMs, 777u);
    }
}

TEST(JpegCheck, WideSumsAgreeWithWordByWordSums) {
    // Lengths around the vector widths, both parities of the end marker.
    std::mt19937 rng(7);
    for (std::size_t n :
         {1u, 13u, 14u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u, 1001u, 4096u}) {
        Bytes coded(n);
        for (auto& b : coded)
            b = static_cast<std::uint8_t>(rng() % 0xFF);  // never FF
        const Bytes file = jpegWithTrailer(coded, jpegSum(coded), 5, 1);
        const auto layout = korvex::locateJpeg(view(file));
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->pictureSum, jpegSum(coded)) << n;

        Jp2Frame j = makeJp2(coded);
        const auto l2 = korvex::locateJ2k(view(j.bytes));
        ASSERT_TRUE(l2);
        EXPECT_EQ(l2->pictureSum, byteSum(coded)) << n;
        EXPECT_EQ(l2->length, n);
    }
}

TEST(JpegCheck, FfDbInTheFillMeansNoTimeFields) {
    const Bytes coded = {0x11};
    const std::uint16_t sum = jpegSum(coded);
    struct Case {
        const char* name;
        Bytes fill;
    };
    const Case cases[] = {
        {"FF DB inside the fill", {0x00, 0xFF, 0xDB}},
        // The end marker's FF pairs with the first fill byte.
        {"DB as the first fill byte", {0xDB}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JpegFrame f = makeJpeg(coded);
        append(f.bytes, c.fill);
        putLe16(f.bytes, sum);
        append(f.bytes, {kTableTail[0], kTableTail[1], kTableTail[2], kTableTail[3]});
        append(f.bytes, Bytes(20, 0x00));  // plenty left for time fields, were they read
        putLe32(f.bytes, 4242);
        CheckResult r;
        ASSERT_TRUE(korvex::checkJpeg(view(f.bytes), r));
        EXPECT_EQ(r.flags, korvex::kNoValidTime);
        EXPECT_EQ(r.time, 0);
        EXPECT_EQ(r.offsetMs, 4242u);
    }
}

TEST(JpegCheck, ShortTrailersAndCutFiles) {
    const Bytes coded = {0x21, 0x43, 0x65};
    const std::uint16_t sum = jpegSum(coded);
    const Bytes full = jpegWithTrailer(coded, sum, 10, 0xAABBCCDD);
    const std::size_t trailerStart = full.size() - 16;
    const Bytes shortForm = [&] {
        Bytes b(full.begin(), full.begin() + trailerStart);
        putLe16(b, sum);
        append(b, {kTableTail[0], kTableTail[1], kTableTail[2], kTableTail[3]});
        putLe32(b, 99);
        return b;
    }();
    Bytes cutInCoded = makeJpeg(coded).bytes;
    cutInCoded.resize(cutInCoded.size() - 2);  // without FF D9
    struct Case {
        const char* name;
        Bytes bytes;
        std::int32_t flags;
        std::uint32_t offsetMs;
    };
    const Case cases[] = {
        {"full", full, 0, 0xAABBCCDD},
        {"short form", shortForm, 4, 99},
        // Six bytes: the checksum and table copy; offsetMs is whatever the last four are.
        {"six bytes", Bytes(shortForm.begin(), shortForm.end() - 4), 4, 0x403F3E3D},
        {"five bytes", Bytes(shortForm.begin(), shortForm.end() - 5), 7, 0},
        {"cut inside the fill", Bytes(full.begin(), full.begin() + trailerStart - 3), 7, 0},
        {"cut inside the coded data", cutInCoded, 7, 0},
        {"one table byte changed",
         [&] {
             Bytes b = full;
             b[trailerStart + 9] ^= 0x40;
             return b;
         }(),
         1, 0xAABBCCDD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckResult r;
        ASSERT_TRUE(korvex::checkJpeg(view(c.bytes), r));
        EXPECT_EQ(r.flags, c.flags);
        EXPECT_EQ(r.offsetMs, c.offsetMs);
    }
}

TEST(JpegCheck, SkipsApplicationSegmentsByTheirLength) {
    // An APP1 whose payload holds FF DB and FF DA must not be taken for the table or the scan.
    Bytes app = {0xFF, 0xE1, 0x00, 0x0A, 0xFF, 0xDB, 0x00, 0x43, 0xFF, 0xDA, 0x99, 0x99};
    JpegFrame f = makeJpeg({0x05}, app);
    const auto layout = korvex::locateJpeg(view(f.bytes));
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->tableTail, (std::array<std::uint8_t, 4>{61, 62, 63, 64}));
    EXPECT_EQ(layout->codedStart, f.codedStart);
}

TEST(JpegCheck, DoesNotRunOnFilesOfAnotherShape) {
    const Bytes good = makeJpeg({0x01}).bytes;
    const Bytes noTable = [&] {
        Bytes b = good;
        b[21] = 0xDC;  // the DQT marker after the 18-byte APP0
        return b;
    }();
    const Bytes noScan = [&] {
        Bytes b = good;
        for (std::size_t i = 0; i + 1 < b.size(); ++i) {
            if (b[i] == 0xFF && b[i + 1] == 0xDA)
                b[i + 1] = 0xDD;
        }
        return b;
    }();
    auto withApp = [](std::initializer_list<std::uint8_t> app) {
        Bytes b = {0xFF, 0xD8};
        append(b, app);
        return b;
    };
    using Why = korvex::CheckRefusal;
    const NotRunCase cases[] = {
        {"empty", {}, Why::TooShort},
        {"one byte", {0xFF}, Why::TooShort},
        {"start marker only", {0xFF, 0xD8}, Why::NoQuantisationTable},
        {"not a start marker", {0xFF, 0xD9, 0xFF, 0xDB}, Why::NotJpeg},
        {"no table", noTable, Why::NoQuantisationTable},
        {"table cut short", Bytes(good.begin(), good.begin() + 22 + 63 + 3),
         Why::NoQuantisationTable},
        {"no start of scan", noScan, Why::NoStartOfScan},
        {"segment runs off the end", withApp({0xFF, 0xE0, 0x10, 0x00, 0xFF, 0xDB}),
         Why::NoQuantisationTable},
        {"segment length cut", withApp({0xFF, 0xE0, 0x00}), Why::NoQuantisationTable},
        // Lengths that cannot cover themselves would walk backwards or forever.
        {"segment length zero", withApp({0xFF, 0xE0, 0x00, 0x00, 0xFF, 0xDB}),
         Why::NoQuantisationTable},
        {"segment length one", withApp({0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xDB}),
         Why::NoQuantisationTable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckResult r;
        r.offsetMs = 5;
        EXPECT_FALSE(korvex::checkJpeg(view(c.bytes), r));
        EXPECT_EQ(r.offsetMs, 0u);
        EXPECT_EQ(korvex::checkRefusal(view(c.bytes), korvex::CheckVariant::Jpeg), c.why);
    }
    EXPECT_EQ(korvex::checkRefusal(view(good), korvex::CheckVariant::Jpeg), Why::None);
}

// ---- whole files ----

TEST(CheckFile, ReadsTheFileOrDoesNotRun) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("korvex-check-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const Bytes file = j2kWithTrailer({.withTime = false});
    {
        std::ofstream out(dir / "a.jp2", std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), file.size());
    }
    CheckResult r;
    EXPECT_TRUE(korvex::checkFile((dir / "a.jp2").string(), korvex::CheckVariant::Jpeg2000, r));
    EXPECT_EQ(r.flags, 4);
    EXPECT_EQ(r.offsetMs, 0x01020304u);
    EXPECT_FALSE(
        korvex::checkFile((dir / "missing.jp2").string(), korvex::CheckVariant::Jpeg2000, r));
    EXPECT_FALSE(korvex::checkFile(dir.string(), korvex::CheckVariant::Jpeg, r));
    fs::remove_all(dir);
}

}  // namespace
