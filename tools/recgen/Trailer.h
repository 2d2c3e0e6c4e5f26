#pragma once

#include <cstdint>
#include <vector>

namespace korvex::gen {

// What a recorder stores after a frame's end marker.
struct TrailerFields {
    std::uint32_t dvrSeconds = 0;  // seconds since 2000-01-01 00:00:00 recorder time
    std::uint32_t offsetMs = 0;
    bool withTime = true;  // false: the short form without the time fields
};

// Append a valid authenticity trailer to a complete frame file that ends with its FF D9 end
// marker. The JPEG form first pads with fill bytes to the 32-byte boundary counted from the first
// coded byte. Return false (file unchanged) when the file is not of the expected shape.
bool appendJ2kTrailer(std::vector<std::uint8_t>& jp2, const TrailerFields& fields);
bool appendJpegTrailer(std::vector<std::uint8_t>& jpeg, const TrailerFields& fields);

// Deliberate damage, for tests and demos. Each returns false when the file has no such part.
enum class Damage {
    None,
    CodedByte,   // one byte of the coded picture data changed
    StoredTime,  // one byte of the stored capture time changed
    TrailerCut,  // trailer cut short inside the time fields (fewer than 6 bytes stay)
    NoTrailer,   // everything after the end marker removed
    HalfFile,    // the file cut in the middle of its coded data, as a copy that stopped
};
bool applyJ2kDamage(std::vector<std::uint8_t>& jp2WithTrailer, Damage damage);
bool applyJpegDamage(std::vector<std::uint8_t>& jpegWithTrailer, Damage damage);

}  // namespace korvex::gen
