#include "tools/recgen/Trailer.h"

#include "recording/AuthenticityCheck.h"

#include <span>

namespace korvex::gen {

namespace {

std::span<const std::uint8_t> view(const std::vector<std::uint8_t>& v) {
    return {v.data(), v.size()};
}

void putLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
    }
}

// A coded byte whose change leaves every marker pair as it was: neither it nor its predecessor
// is FF, and the new value is not FF either. Searched from the middle of [from, to).
bool alterCodedByte(std::vector<std::uint8_t>& file, std::size_t from, std::size_t to) {
    if (to <= from)
        return false;
    const std::size_t middle = from + (to - from) / 2;
    for (std::size_t n = 0; n < to - from; ++n) {
        const std::size_t i = from + (middle - from + n) % (to - from);
        if (file[i] == 0xFF || (i > 0 && file[i - 1] == 0xFF))
            continue;
        std::uint8_t changed = file[i] ^ 0x01;
        if (changed == 0xFF)
            changed = file[i] ^ 0x02;
        file[i] = changed;
        return true;
    }
    return false;
}

// Flips the lowest bit of the time's low byte. The value stays below the validity limit: an even
// time below it rises by one to at most the limit minus one, an odd one falls.
void alterTimeByte(std::vector<std::uint8_t>& file, std::size_t timeAt) {
    file[timeAt] ^= 0x01;
}

}  // namespace

bool appendJ2kTrailer(std::vector<std::uint8_t>& jp2, const TrailerFields& fields) {
    const auto layout = locateJ2k(view(jp2));
    if (!layout || layout->end != jp2.size())
        return false;
    if (fields.withTime) {
        putLe16(jp2, j2kTimeChecksum(layout->pictureSum, fields.dvrSeconds));
        putLe32(jp2, fields.dvrSeconds);
    }
    putLe32(jp2, static_cast<std::uint32_t>(layout->start));
    putLe32(jp2, layout->length);
    putLe16(jp2, static_cast<std::uint16_t>(layout->pictureSum));
    putLe32(jp2, fields.offsetMs);
    return true;
}

bool appendJpegTrailer(std::vector<std::uint8_t>& jpeg, const TrailerFields& fields) {
    const auto layout = locateJpeg(view(jpeg));
    if (!layout || !layout->endFound || layout->end != jpeg.size())
        return false;
    // Zero fill: no byte pair of it, nor FF D9's FF with its first byte, can read as FF DB.
    const std::size_t coded = layout->end - layout->codedStart;
    jpeg.resize(jpeg.size() + (kJpegFillBlock - coded % kJpegFillBlock) % kJpegFillBlock, 0x00);
    if (fields.withTime) {
        putLe16(jpeg, jpegTimeChecksum(layout->pictureSum, fields.dvrSeconds));
        putLe32(jpeg, fields.dvrSeconds);
    }
    putLe16(jpeg, layout->pictureSum);
    jpeg.insert(jpeg.end(), layout->tableTail.begin(), layout->tableTail.end());
    // The check takes offsetMs from the file's last four bytes, so it closes the trailer.
    putLe32(jpeg, fields.offsetMs);
    return true;
}

bool applyJ2kDamage(std::vector<std::uint8_t>& jp2WithTrailer, Damage damage) {
    auto& file = jp2WithTrailer;
    const auto layout = locateJ2k(view(file));
    if (!layout)
        return false;
    const bool hasTrailer = file.size() > layout->end;
    const bool hasTime = file.size() - layout->end >= kJ2kTrailerSize;
    switch (damage) {
        case Damage::None:
            return true;
        case Damage::CodedByte:
            return alterCodedByte(file, layout->start, layout->end - 2);
        case Damage::StoredTime:
            if (!hasTime)
                return false;
            alterTimeByte(file, layout->end + kJ2kTimeAt);
            return true;
        case Damage::TrailerCut:
            // Keeps the time checksum and one byte of the time.
            if (!hasTime)
                return false;
            file.resize(layout->end + kJ2kTimeAt + 1);
            return true;
        case Damage::NoTrailer:
            if (!hasTrailer)
                return false;
            file.resize(layout->end);
            return true;
        case Damage::HalfFile:
            // Tile data holds no marker pair, so no end marker is left.
            file.resize(layout->start + (layout->end - 2 - layout->start) / 2);
            return true;
    }
    return false;
}

bool applyJpegDamage(std::vector<std::uint8_t>& jpegWithTrailer, Damage damage) {
    auto& file = jpegWithTrailer;
    const auto layout = locateJpeg(view(file));
    if (!layout || !layout->endFound)
        return false;
    const bool hasTrailer = file.size() > layout->end;
    const bool hasTime = file.size() - layout->trailerStart >= 12 && !layout->fillHasDqt;
    switch (damage) {
        case Damage::None:
            return true;
        case Damage::CodedByte:
            return alterCodedByte(file, layout->codedStart, layout->end - 2);
        case Damage::StoredTime:
            if (!hasTime)
                return false;
            alterTimeByte(file, layout->trailerStart + 2);
            return true;
        case Damage::TrailerCut:
            if (!hasTime)
                return false;
            file.resize(layout->trailerStart + 3);
            return true;
        case Damage::NoTrailer:
            if (!hasTrailer)
                return false;
            file.resize(layout->end);
            return true;
        case Damage::HalfFile:
            // Coded data holds no marker pair (an FF is followed by a stuffed 00).
            file.resize(layout->codedStart + (layout->end - 2 - layout->codedStart) / 2);
            return true;
    }
    return false;
}

}  // namespace korvex::gen
