#include "tools/recgen/Trailer.h"

#include "recording/AuthenticityCheck.h"

#include "SyntheticFrames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

using namespace checktest;
using korvex::CheckResult;
using korvex::CheckVariant;
using korvex::gen::Damage;
using korvex::gen::TrailerFields;

namespace {

// Coded data as an encoder leaves it: any bytes, an FF only ever followed by a stuffed 00.
Bytes codedData(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const auto v = static_cast<std::uint8_t>(rng());
        b.push_back(v);
        if (v == 0xFF)
            b.push_back(0x00);
    }
    return b;
}

Bytes frame(CheckVariant variant, std::size_t codedBytes, unsigned seed = 1) {
    const Bytes coded = codedData(codedBytes, seed);
    return variant == CheckVariant::Jpeg ? makeJpeg(coded).bytes : makeJp2(coded).bytes;
}

bool appendTrailer(CheckVariant variant, Bytes& file, const TrailerFields& fields) {
    return variant == CheckVariant::Jpeg ? korvex::gen::appendJpegTrailer(file, fields)
                                         : korvex::gen::appendJ2kTrailer(file, fields);
}

bool damage(CheckVariant variant, Bytes& file, Damage d) {
    return variant == CheckVariant::Jpeg ? korvex::gen::applyJpegDamage(file, d)
                                         : korvex::gen::applyJ2kDamage(file, d);
}

// Checks a copy in a heap block of exactly the file's size, so that the sanitizer sees any read
// past the end.
bool checkExact(CheckVariant variant, const std::uint8_t* data, std::size_t size, CheckResult& r) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size == 0 ? 1 : size]);
    if (size != 0)
        std::memcpy(copy.get(), data, size);
    return korvex::checkBytes({copy.get(), size}, variant, r);
}

const char* name(CheckVariant v) {
    return v == CheckVariant::Jpeg ? "JPEG" : "JPEG 2000";
}

class TrailerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "JST-9", 1);
        ::tzset();
    }
    void TearDown() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};

TEST_F(TrailerTest, WrittenTrailersPassAndDamageShowsAsIntended) {
    struct Case {
        bool withTime;
        Damage damage;
        std::int32_t flags;
        bool keepsTime;
        bool keepsOffset;
    };
    const Case cases[] = {
        {true, Damage::None, 0, true, true},
        {false, Damage::None, korvex::kNoValidTime, false, true},
        // The time checksum covers the picture too, so an altered picture also fails it.
        {true, Damage::CodedByte, korvex::kPictureAltered | korvex::kTimeAltered, true, true},
        {false, Damage::CodedByte, korvex::kPictureAltered | korvex::kNoValidTime, false, true},
        {true, Damage::StoredTime, korvex::kTimeAltered, true, true},
        // A trailer cut inside its time fields leaves fewer than six bytes: no trailer.
        {true, Damage::TrailerCut, korvex::kNoTrailer, false, false},
        {true, Damage::NoTrailer, korvex::kNoTrailer, false, false},
        {false, Damage::NoTrailer, korvex::kNoTrailer, false, false},
    };
    for (const auto variant : {CheckVariant::Jpeg, CheckVariant::Jpeg2000}) {
        // Several sizes, so that the JPEG fill takes every length and D9 both parities.
        for (std::size_t coded : {0u, 1u, 30u, 31u, 32u, 1000u, 5003u}) {
            for (const auto& c : cases) {
                SCOPED_TRACE(testing::Message()
                             << name(variant) << " coded " << coded << " time " << c.withTime
                             << " damage " << static_cast<int>(c.damage));
                Bytes file = frame(variant, coded, static_cast<unsigned>(coded));
                const TrailerFields fields{
                    .dvrSeconds = 123456789, .offsetMs = 98765, .withTime = c.withTime};
                ASSERT_TRUE(appendTrailer(variant, file, fields));
                if (coded == 0 && c.damage == Damage::CodedByte) {
                    EXPECT_FALSE(damage(variant, file, c.damage));
                    continue;
                }
                ASSERT_TRUE(damage(variant, file, c.damage));
                CheckResult r;
                ASSERT_TRUE(korvex::checkBytes({file.data(), file.size()}, variant, r));
                EXPECT_EQ(r.flags, c.flags);
                const bool timeChanged = c.damage == Damage::StoredTime;
                if (c.keepsTime) {
                    EXPECT_EQ(r.time, korvex::dvrSecondsToTime(123456789 ^ (timeChanged ? 1 : 0)));
                } else {
                    EXPECT_EQ(r.time, 0);
                }
                EXPECT_EQ(r.offsetMs, c.keepsOffset ? 98765u : 0u);
            }
        }
    }
}

// A file cut in the middle of its coded data: the JPEG check still runs on it (the coded data runs
// off the end: no trailer), the JPEG 2000 check finds no end of the code-stream and cannot run.
TEST_F(TrailerTest, AFileCutInHalf) {
    for (std::size_t coded : {0u, 1u, 31u, 1000u}) {
        SCOPED_TRACE(coded);
        Bytes jpeg = frame(CheckVariant::Jpeg, coded, 7);
        ASSERT_TRUE(appendTrailer(CheckVariant::Jpeg, jpeg, {.dvrSeconds = 5, .offsetMs = 9}));
        ASSERT_TRUE(damage(CheckVariant::Jpeg, jpeg, Damage::HalfFile));
        CheckResult r;
        ASSERT_TRUE(korvex::checkBytes({jpeg.data(), jpeg.size()}, CheckVariant::Jpeg, r));
        EXPECT_EQ(r.flags, korvex::kNoTrailer);
        EXPECT_EQ(r.offsetMs, 0u);

        Bytes jp2 = frame(CheckVariant::Jpeg2000, coded, 7);
        ASSERT_TRUE(appendTrailer(CheckVariant::Jpeg2000, jp2, {.dvrSeconds = 5, .offsetMs = 9}));
        ASSERT_TRUE(damage(CheckVariant::Jpeg2000, jp2, Damage::HalfFile));
        EXPECT_FALSE(korvex::checkBytes({jp2.data(), jp2.size()}, CheckVariant::Jpeg2000, r));
        EXPECT_EQ(korvex::checkRefusal({jp2.data(), jp2.size()}, CheckVariant::Jpeg2000),
                  korvex::CheckRefusal::NoEndOfCodestream);
    }
}

TEST_F(TrailerTest, DamageNeedsThePartItChanges) {
    for (const auto variant : {CheckVariant::Jpeg, CheckVariant::Jpeg2000}) {
        SCOPED_TRACE(name(variant));
        Bytes plain = frame(variant, 100);
        EXPECT_FALSE(damage(variant, plain, Damage::NoTrailer));
        EXPECT_FALSE(damage(variant, plain, Damage::StoredTime));
        Bytes shortForm = plain;
        ASSERT_TRUE(appendTrailer(variant, shortForm, {.withTime = false}));
        EXPECT_FALSE(damage(variant, shortForm, Damage::StoredTime));
        EXPECT_FALSE(damage(variant, shortForm, Damage::TrailerCut));
        Bytes other = {1, 2, 3};
        EXPECT_FALSE(damage(variant, other, Damage::None));
    }
}

TEST_F(TrailerTest, WritersRefuseFilesOfAnotherShape) {
    for (const auto variant : {CheckVariant::Jpeg, CheckVariant::Jpeg2000}) {
        SCOPED_TRACE(name(variant));
        Bytes withTrailer = frame(variant, 50);
        ASSERT_TRUE(appendTrailer(variant, withTrailer, {}));
        const Bytes before = withTrailer;
        EXPECT_FALSE(appendTrailer(variant, withTrailer, {}));  // not ending with FF D9
        EXPECT_EQ(withTrailer, before);
        Bytes cut = frame(variant, 50);
        cut.pop_back();
        EXPECT_FALSE(appendTrailer(variant, cut, {}));
        Bytes empty;
        EXPECT_FALSE(appendTrailer(variant, empty, {}));
        EXPECT_TRUE(empty.empty());
    }
}

TEST_F(TrailerTest, EveryCutOfAValidFileIsCheckedWithinItsBytes) {
    for (const auto variant : {CheckVariant::Jpeg, CheckVariant::Jpeg2000}) {
        for (const bool withTime : {true, false}) {
            SCOPED_TRACE(testing::Message() << name(variant) << " time " << withTime);
            Bytes file = frame(variant, 300);
            const std::size_t end = file.size();  // just after FF D9
            ASSERT_TRUE(appendTrailer(variant, file, {.dvrSeconds = 7, .withTime = withTime}));
            const std::size_t trailerStart =
                file.size() -
                (variant == CheckVariant::Jpeg ? (withTime ? 16 : 10) : (withTime ? 20 : 14));
            for (std::size_t len = 0; len <= file.size(); ++len) {
                CheckResult r;
                const bool ran = checkExact(variant, file.data(), len, r);
                if (len < end) {
                    // Before the end marker: either not run (no FF D9) or, for JPEG once the scan
                    // has begun, no trailer.
                    if (ran) {
                        EXPECT_EQ(variant, CheckVariant::Jpeg) << len;
                        EXPECT_EQ(r.flags, korvex::kNoTrailer) << len;
                    }
                } else if (len < trailerStart + 6) {
                    ASSERT_TRUE(ran) << len;
                    EXPECT_EQ(r.flags, korvex::kNoTrailer) << len;
                    EXPECT_EQ(r.offsetMs, 0u) << len;
                } else {
                    ASSERT_TRUE(ran) << len;
                    EXPECT_NE(r.flags, korvex::kNoTrailer) << len;
                }
                if (len == file.size()) {
                    EXPECT_EQ(r.flags, withTime ? 0 : korvex::kNoValidTime);
                }
            }
        }
    }
}

}  // namespace
