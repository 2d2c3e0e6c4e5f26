#include "recording/AuthenticityCheck.h"

#include "platform/FileSystem.h"
#include "recording/ByteCursor.h"
#include "recording/MarkerSum.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace korvex {

namespace {

constexpr std::uint8_t kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 'j',  'P',
                                            ' ',  ' ',  0x0D, 0x0A, 0x87, 0x0A};
constexpr std::uint8_t kFtypHead[12] = {0x00, 0x00, 0x00, 0x14, 'f', 't',
                                        'y',  'p',  'j',  'p',  '2', ' '};
constexpr std::uint8_t kJp2Brand[4] = {'j', 'p', '2', ' '};
constexpr std::size_t kJp2HeaderBytes = 32;  // signature box + file-type box

// Entries 60..63 of the first table sit 63 bytes after the DB byte: length (2), precision and
// table id (1), entries 0..59.
constexpr std::size_t kDqtSkip = 63;
// Scan header of a three-component picture after the DA byte.
constexpr std::size_t kSosSkip = 12;

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int64_t localEpoch2000() {
    // mktime is slow (it re-reads the zone each call), and every frame shown needs this, so the
    // result is kept per thread for the TZ value it was made under.
    thread_local bool cached = false;
    thread_local std::string cachedTz;
    const char* tz = std::getenv("TZ");
    const std::string key = tz != nullptr ? std::string("=") + tz : std::string();
    thread_local std::int64_t epoch = 0;
    if (!cached || key != cachedTz) {
        std::tm tm{};
        tm.tm_year = 100;
        tm.tm_mon = 0;
        tm.tm_mday = 1;
        tm.tm_isdst = -1;  // the library decides daylight saving
        const std::time_t t = std::mktime(&tm);
        epoch = t == static_cast<std::time_t>(-1) ? 946684800 : static_cast<std::int64_t>(t);
        cachedTz = key;
        cached = true;
    }
    return epoch;
}

}  // namespace

std::int64_t dvrSecondsToTime(std::uint32_t seconds) {
    return localEpoch2000() + static_cast<std::int64_t>(seconds);
}

std::uint16_t j2kTimeChecksum(std::uint32_t pictureSum, std::uint32_t dvrSeconds) {
    const std::uint32_t sum = pictureSum + (dvrSeconds & 0xFF) + ((dvrSeconds >> 8) & 0xFF) +
                              ((dvrSeconds >> 16) & 0xFF) + (dvrSeconds >> 24);
    return static_cast<std::uint16_t>(sum);
}

std::uint16_t jpegTimeChecksum(std::uint16_t pictureSum, std::uint32_t dvrSeconds) {
    return static_cast<std::uint16_t>(pictureSum + (dvrSeconds & 0xFFFF) + (dvrSeconds >> 16));
}

const char* checkRefusalText(CheckRefusal refusal) {
    switch (refusal) {
        case CheckRefusal::None:
            return "";
        case CheckRefusal::TooShort:
            return "fewer than 2 bytes";
        case CheckRefusal::NotJp2:
            return "no JP2 signature and file-type box";
        case CheckRefusal::NoStartOfData:
            return "no start-of-data marker FF 93";
        case CheckRefusal::NoEndOfCodestream:
            return "no end marker FF D9: the file is cut short";
        case CheckRefusal::NotJpeg:
            return "no start-of-image marker FF D8";
        case CheckRefusal::NoQuantisationTable:
            return "no whole quantisation table FF DB";
        case CheckRefusal::NoStartOfScan:
            return "no start-of-scan marker FF DA";
    }
    return "";
}

std::optional<J2kLayout> locateJ2k(std::span<const std::uint8_t> file, CheckRefusal* why) {
    const auto refuse = [why](CheckRefusal reason) {
        if (why != nullptr)
            *why = reason;
        return std::nullopt;
    };
    if (file.size() < kJp2HeaderBytes)
        return refuse(file.size() < 2 ? CheckRefusal::TooShort : CheckRefusal::NotJp2);
    const std::uint8_t* p = file.data();
    if (std::memcmp(p, kJp2Signature, sizeof kJp2Signature) != 0 ||
        std::memcmp(p + 12, kFtypHead, sizeof kFtypHead) != 0 ||
        std::memcmp(p + 28, kJp2Brand, sizeof kJp2Brand) != 0) {
        return refuse(CheckRefusal::NotJp2);
    }
    // The scan begins after the two checked boxes (the minor version is not examined).
    ByteCursor cursor(file, kJp2HeaderBytes);
    const auto sod = cursor.findPair(0xFF, 0x93);
    if (!sod)
        return refuse(CheckRefusal::NoStartOfData);
    J2kLayout layout;
    layout.start = *sod + 2;
    const PairSum sum =
        sumThroughPair(p + layout.start, file.size() - layout.start, 0xD9, SumOf::Bytes);
    if (!sum.found)
        return refuse(CheckRefusal::NoEndOfCodestream);
    if (why != nullptr)
        *why = CheckRefusal::None;
    layout.end = layout.start + sum.count;
    // Everything through D9 is summed, then the marker taken off again (in 32 bits, as stored).
    layout.pictureSum = static_cast<std::uint32_t>(sum.sum) - 0xFFu - 0xD9u;
    layout.length = static_cast<std::uint32_t>(sum.count - 2);
    return layout;
}

std::optional<JpegLayout> locateJpeg(std::span<const std::uint8_t> file, CheckRefusal* why) {
    const auto refuse = [why](CheckRefusal reason) {
        if (why != nullptr)
            *why = reason;
        return std::nullopt;
    };
    if (file.size() < 2)
        return refuse(CheckRefusal::TooShort);
    if (file[0] != 0xFF || file[1] != 0xD8)
        return refuse(CheckRefusal::NotJpeg);
    ByteCursor cursor(file, 2);
    // Walk to the first quantisation table, stepping over application segments by their length
    // (they may carry any bytes, thumbnails included).
    for (;;) {
        const auto marker = cursor.findPairIf(
            0xFF, [](std::uint8_t b) { return b == 0xDB || (b >= 0xE0 && b <= 0xEF); });
        if (!marker)
            return refuse(CheckRefusal::NoQuantisationTable);
        const std::uint8_t kind = file[*marker + 1];
        cursor.seek(*marker + 2);
        if (kind == 0xDB)
            break;
        std::uint16_t segmentLength = 0;
        // A length below 2 cannot even cover itself: the segment is corrupt.
        if (!cursor.readU16Be(segmentLength) || segmentLength < 2)
            return refuse(CheckRefusal::NoQuantisationTable);
        if (!cursor.skip(segmentLength - 2u))
            return refuse(CheckRefusal::NoQuantisationTable);
    }
    JpegLayout layout;
    if (!cursor.skip(kDqtSkip) || !cursor.readBytes(layout.tableTail.data(), 4)) {
        return refuse(CheckRefusal::NoQuantisationTable);
    }
    const auto sos = cursor.findPair(0xFF, 0xDA);
    if (!sos)
        return refuse(CheckRefusal::NoStartOfScan);
    if (why != nullptr)
        *why = CheckRefusal::None;
    cursor.seek(*sos + 2);
    cursor.skip(kSosSkip);
    layout.codedStart = cursor.position();

    const PairSum sum =
        sumThroughPair(file.data() + layout.codedStart, file.size() - layout.codedStart, 0xD9,
                       SumOf::BigEndianWords);
    if (!sum.found) {
        layout.end = file.size();
        layout.trailerStart = file.size();
        return layout;  // endFound false: cut inside the coded data
    }
    layout.endFound = true;
    layout.end = layout.codedStart + sum.count;
    const std::size_t count = sum.count;
    // D9 on a high position leaves a half word, which is completed with FF.
    layout.pictureSum = static_cast<std::uint16_t>(sum.sum + (count % 2 == 1 ? 0xFF : 0));

    // Fill up to the 32-byte block. The recorder tracks the last FF it saw, so the first pair
    // considered is the FF of the end marker with the first fill byte.
    std::size_t consumed = count;
    std::size_t pos = layout.end;
    std::uint8_t previous = 0xFF;
    while (consumed % kJpegFillBlock != 0 && pos < file.size()) {
        const std::uint8_t current = file[pos++];
        ++consumed;
        if (previous == 0xFF && current == 0xDB) {
            layout.fillHasDqt = true;
            break;
        }
        previous = current;
    }
    layout.trailerStart = pos;
    return layout;
}

bool checkJpeg2000(std::span<const std::uint8_t> file, CheckResult& result) {
    return checkJpeg2000(file, result, dvrSecondsToTime, nullptr);
}

bool checkJpeg2000(std::span<const std::uint8_t> file, CheckResult& result, DvrTimeConverter toTime,
                   J2kCheckListener* listener) {
    result = CheckResult{};
    J2kCheckListener silent;
    J2kCheckListener& report = listener != nullptr ? *listener : silent;
    if (file.size() < 2)
        return false;
    const auto layout = locateJ2k(file);
    if (!layout)
        return false;
    report.startFound(layout->start);
    report.lengthSummed(layout->length);

    ByteCursor cursor(file, layout->end);
    const std::size_t remaining = cursor.remaining();
    if (remaining < 6) {
        report.trailerTooShort(remaining);
        result.flags = kNoTrailer;
        return true;
    }
    const bool withTime = remaining >= kJ2kTrailerSize;
    std::uint16_t storedTimeSum = 0;
    std::uint32_t dvrSeconds = 0;
    if (withTime) {
        if (!cursor.readU16Le(storedTimeSum) || !cursor.readU32Le(dvrSeconds)) {
            result.flags = kTrailerCutInTime;
            return true;
        }
        if (dvrSeconds < kMaxDvrSeconds) {
            report.validTime(dvrSeconds);
            result.time = toTime(dvrSeconds);
        } else {
            result.flags |= kNoValidTime;
        }
    } else {
        result.flags |= kNoValidTime;
    }

    // Only the low 16 bits of start and length are compared; short reads count as zero bytes.
    std::uint32_t storedStart = 0;
    std::uint32_t storedLength = 0;
    std::uint8_t storedSum[2];
    cursor.readU32Le(storedStart);
    if ((storedStart & 0xFFFF) != (layout->start & 0xFFFF)) {
        result.flags |= kPictureAltered;
        report.startMismatch();
    }
    cursor.readU32Le(storedLength);
    if ((storedLength & 0xFFFF) != (layout->length & 0xFFFF)) {
        result.flags |= kPictureAltered;
        report.lengthMismatch();
    }
    cursor.readBytes(storedSum, 2);
    const auto computedSum = static_cast<std::uint16_t>(layout->pictureSum);
    if (storedSum[0] != (computedSum & 0xFF) || storedSum[1] != (computedSum >> 8)) {
        result.flags |= kPictureAltered;
        report.pictureChecksumMismatch(computedSum, {storedSum[0], storedSum[1]});
    }
    if (withTime) {
        const std::uint16_t timeSum = j2kTimeChecksum(layout->pictureSum, dvrSeconds);
        if (timeSum != storedTimeSum) {
            result.flags |= kTimeAltered;
            report.timeChecksumMismatch(timeSum, storedTimeSum);
        }
    }
    cursor.readU32Le(result.offsetMs);
    return true;
}

bool checkJpeg(std::span<const std::uint8_t> file, CheckResult& result) {
    result = CheckResult{};
    const auto layout = locateJpeg(file);
    if (!layout)
        return false;
    if (!layout->endFound) {
        result.flags = kNoTrailer;
        return true;
    }
    ByteCursor cursor(file, layout->trailerStart);
    const std::size_t remaining = cursor.remaining();
    if (remaining < 6) {
        result.flags = kNoTrailer;
        return true;
    }
    const bool withTime = remaining >= 12 && !layout->fillHasDqt;
    std::uint16_t storedTimeSum = 0;
    std::uint32_t dvrSeconds = 0;
    if (withTime) {
        if (!cursor.readU16Le(storedTimeSum) || !cursor.readU32Le(dvrSeconds)) {
            result.flags = kTrailerCutInTime;
            return true;
        }
        if (dvrSeconds < kMaxDvrSeconds) {
            result.time = dvrSecondsToTime(dvrSeconds);
        } else {
            result.flags |= kNoValidTime;
        }
    } else {
        result.flags |= kNoValidTime;
    }
    std::uint8_t stored[6];
    cursor.readBytes(stored, 6);
    const std::uint8_t expected[6] = {static_cast<std::uint8_t>(layout->pictureSum & 0xFF),
                                      static_cast<std::uint8_t>(layout->pictureSum >> 8),
                                      layout->tableTail[0],
                                      layout->tableTail[1],
                                      layout->tableTail[2],
                                      layout->tableTail[3]};
    if (std::memcmp(stored, expected, 6) != 0)
        result.flags |= kPictureAltered;
    if (withTime && jpegTimeChecksum(layout->pictureSum, dvrSeconds) != storedTimeSum) {
        result.flags |= kTimeAltered;
    }
    result.offsetMs = le32(file.data() + file.size() - 4);
    return true;
}

bool checkBytes(std::span<const std::uint8_t> file, CheckVariant variant, CheckResult& result) {
    return variant == CheckVariant::Jpeg ? checkJpeg(file, result) : checkJpeg2000(file, result);
}

CheckRefusal checkRefusal(std::span<const std::uint8_t> file, CheckVariant variant) {
    CheckRefusal why = CheckRefusal::None;
    if (file.size() < 2)
        return CheckRefusal::TooShort;
    if (variant == CheckVariant::Jpeg)
        locateJpeg(file, &why);
    else
        locateJ2k(file, &why);
    return why;
}

bool checkFile(const std::string& path, CheckVariant variant, CheckResult& result) {
    result = CheckResult{};
    std::vector<unsigned char> bytes;
    if (!platform::readWholeFile(path, bytes))
        return false;
    return checkBytes(std::span<const std::uint8_t>(bytes.data(), bytes.size()), variant, result);
}

}  // namespace korvex
