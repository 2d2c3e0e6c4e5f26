#pragma once

// The JPEG 2000 codec contract both deliverables decode through: decodeJ2K turns a JP2 file or a
// raw code-stream held in memory into an opaque picture, encodeBMP writes that picture as a
// complete 24-bit BMP file into a caller's buffer of fixed capacity. Every call returns 0 on
// success and a JpxResult code otherwise; nothing throws.

#include <cstddef>
#include <cstdint>

namespace platform {

// Status record handed to both calls. The callers zero the three outputs beforehand and never read
// them afterwards; we report the picture's width, height and the JpxResult of the call in them,
// which a debugger or a log can show.
//
// The record was defined for 32-bit callers, where it is 16 bytes (two int16 and three 4-byte
// pointers). On 64-bit the same fields take 32 bytes; the fields and their order are kept, and
// `size` holds sizeof(j2k_extra_stat_s) of the build. A record whose `size` is smaller is not
// trusted: the calls still work but write no outputs.
struct j2k_extra_stat_s {
    std::int16_t size = sizeof(j2k_extra_stat_s);
    std::int16_t reserved = 0;
    std::int32_t* width = nullptr;
    std::int32_t* height = nullptr;
    std::int32_t* detail = nullptr;  // the JpxResult of the last call
};

enum JpxResult : int {
    kJpxOk = 0,
    kJpxBadArgument = 1,
    kJpxNotJpeg2000 = 2,    // neither a JP2 signature nor a code-stream's SOC + SIZ
    kJpxHeaderRefused = 3,  // dimensions, tiles or components no recorder writes
    kJpxDecodeFailed = 4,   // the codec gave up on the data (corrupt or truncated)
    kJpxUnsupported = 5,    // a component layout or colour space we cannot show
    kJpxCapacityTooSmall = 6,
    kJpxOutOfMemory = 7,
};

// Largest picture the codec accepts; the same bound as the viewer's largest frame. A header that
// claims more is refused before the codec allocates anything for it.
inline constexpr std::int32_t kJpxMaxWidth = 4096;
inline constexpr std::int32_t kJpxMaxHeight = 4096;

// Bytes a BMP file of the picture takes: 14 + 40 + stride x height, rows padded to 4.
inline constexpr std::uint64_t jpxBmpFileSize(std::uint32_t width, std::uint32_t height) {
    return 54u + static_cast<std::uint64_t>((width * 3u + 3u) & ~3u) * height;
}

struct JpxPicture;  // opaque: a decoded picture
using JpxHandle = JpxPicture*;

// What the main header of a JPEG 2000 file says, read without decoding anything.
struct JpxHeaderInfo {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t components = 0;
    bool jp2 = false;  // JP2 file (else a raw code-stream)
};

// Reads and checks the main header (SIZ) only. Returns kJpxOk when decodeJ2K would start on it.
int readJ2KHeader(const unsigned char* data, std::size_t size, JpxHeaderInfo* info);

// Decodes `data` (a JP2 file or a raw code-stream, told apart by signature). On success *picture
// receives a handle that the caller gives back with releaseJ2K; on failure it is set to null.
// `flags` is reserved: callers pass 0.
int decodeJ2K(const unsigned char* data, std::size_t size, JpxHandle* picture, std::int16_t flags,
              j2k_extra_stat_s* stat);

// Writes the picture as a BMP file into `out`: 14-byte file header, 40-byte BITMAPINFOHEADER,
// bottom-up BGR rows padded to 4 bytes from byte 54. Fails without writing when the file does not
// fit `capacity` bytes. `flags` is reserved: callers pass 0.
int encodeBMP(unsigned char* out, std::size_t capacity, JpxHandle picture, std::int16_t flags,
              j2k_extra_stat_s* stat);

// Frees a picture from decodeJ2K (null is ignored). The original contract has no such call, so
// every decode through it leaked its picture; every caller here releases.
void releaseJ2K(JpxHandle picture);

// Where the codec's error messages go: a function taking one line of text, or null (the default)
// to drop them. Warnings and progress messages are always dropped.
using JpxLogFn = void (*)(const char* line);
void setJpxErrorLog(JpxLogFn fn);

// Worker threads one decode may use (1 = decode on the caller's thread only). The default is
// chosen at first use from the number of processors. With two or more, a recorder's colour frame
// is decoded half on the caller's thread and half on one helper thread the codec keeps for the
// process (stopped at exit; a caller that finds it busy decodes alone), which also converts half
// of a large picture in encodeBMP; other frames use the codec library's own workers.
void setJpxDecodeThreads(int threads);
int jpxDecodeThreads();

}  // namespace platform
