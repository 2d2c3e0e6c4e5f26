#pragma once

#include <string>

#include "platform/GlobalBlock.h"

namespace picvox {

// Decodes a cached JPEG 2000 file into a picture block for the FrameQueue: a 0xFC000-byte block
// holding a bitmap file image (14-byte file header, 40-byte info header, rows from byte 54).
// An empty block when the file cannot be read or decoded, or memory runs out.
platform::GlobalBlock DecodeJ2KFile(const std::string& path);

}  // namespace picvox
