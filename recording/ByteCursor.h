#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace korvex {

// A read position over a whole file held in memory. Frame files come from removable media and
// from the network, so every read is bounded by the span: reading past the last byte yields
// nothing (multi-byte reads fill the missing bytes with zero and report the shortfall), and the
// position never moves beyond the end. No operation touches memory outside the span.
class ByteCursor {
public:
    explicit ByteCursor(std::span<const std::uint8_t> bytes, std::size_t position = 0)
        : bytes_(bytes), pos_(position < bytes.size() ? position : bytes.size()) {}

    std::size_t position() const { return pos_; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - pos_; }
    bool atEnd() const { return pos_ == bytes_.size(); }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

    // Moves to `position`, or to the end when it lies beyond.
    void seek(std::size_t position) { pos_ = position < bytes_.size() ? position : bytes_.size(); }

    // Advances by `count` bytes, or to the end; true when all `count` bytes existed.
    bool skip(std::size_t count) {
        if (count > remaining()) {
            pos_ = bytes_.size();
            return false;
        }
        pos_ += count;
        return true;
    }

    std::optional<std::uint8_t> readByte() {
        if (atEnd())
            return std::nullopt;
        return bytes_[pos_++];
    }

    // A single byte for the marker scans: past the end 0xFF stands in, which can never complete
    // a marker pair on its own.
    std::uint8_t scanByte() { return atEnd() ? 0xFF : bytes_[pos_++]; }

    // Copies `count` bytes; those beyond the end read as zero. True when all existed.
    bool readBytes(std::uint8_t* out, std::size_t count) {
        const std::size_t have = count < remaining() ? count : remaining();
        if (have != 0)
            std::memcpy(out, bytes_.data() + pos_, have);
        if (have < count)
            std::memset(out + have, 0, count - have);
        pos_ += have;
        return have == count;
    }

    bool readU16Le(std::uint16_t& value) {
        std::uint8_t b[2];
        const bool whole = readBytes(b, 2);
        value = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        return whole;
    }

    bool readU32Le(std::uint32_t& value) {
        std::uint8_t b[4];
        const bool whole = readBytes(b, 4);
        value = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        return whole;
    }

    // JPEG segment lengths are big-endian.
    bool readU16Be(std::uint16_t& value) {
        std::uint8_t b[2];
        const bool whole = readBytes(b, 2);
        value = static_cast<std::uint16_t>((b[0] << 8) | b[1]);
        return whole;
    }

    // Offset of the first byte pair (`first`, x) at or after the position for which `accept(x)`
    // holds; the position does not move. memchr does the scanning, since frames are megabytes of
    // coded data in which markers are rare.
    template <class Accept>
    std::optional<std::size_t> findPairIf(std::uint8_t first, Accept&& accept) const {
        const std::uint8_t* const data = bytes_.data();
        const std::size_t size = bytes_.size();
        std::size_t i = pos_;
        while (size - i >= 2) {
            const void* hit = std::memchr(data + i, first, size - i - 1);
            if (hit == nullptr)
                return std::nullopt;
            i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
            if (accept(data[i + 1]))
                return i;
            ++i;
        }
        return std::nullopt;
    }

    std::optional<std::size_t> findPair(std::uint8_t first, std::uint8_t second) const {
        return findPairIf(first, [second](std::uint8_t b) { return b == second; });
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_;
};

}  // namespace korvex
