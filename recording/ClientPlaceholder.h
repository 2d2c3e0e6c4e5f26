#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace korvex {

// The black JPEG 2000 picture (720 x 248, 490 bytes) that the streaming client writes at a save's
// start when no recorded picture comes before the saved sound. The client later sets its capture
// time, after which it passes the authenticity check like a recorded frame; it is none, and the
// verifier says so.
std::span<const std::uint8_t> clientPlaceholderPicture();

// Where the placeholder's picture ends: its FF D9 marker is followed by the trailer.
inline constexpr std::size_t kPlaceholderPictureBytes = 0x1DC;

// True when `file` is that picture: its bytes through the end marker are the placeholder's, and
// only a trailer (with or without the time fields the client puts in) follows.
bool isClientPlaceholder(std::span<const std::uint8_t> file);

}  // namespace korvex
