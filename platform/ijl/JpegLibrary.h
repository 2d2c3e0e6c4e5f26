#pragma once

// The JPEG library contract the viewer decodes its JPEG frames through: a properties block that the
// caller zero-fills, then initialise, read the parameters (mode 0), describe the output, read the
// whole picture (mode 2), release. Every call returns 0 on success. The library behind it is bound
// on first use; when it cannot be, every initialise fails and one line says why.

#include <cstddef>
#include <cstdint>

namespace platform {

enum class JpegColor : int {
    Unknown = 0,
    Grey,
    Rgb,
    Bgr,
    YCbCr,
    YCbCrAFlashPix,  // four components, the fourth an alpha channel
    RgbaFlashPix,    // output: red, green, blue, alpha, colour not premultiplied
    Cmyk,            // four components with an Adobe marker, no transform
    Ycck,            // four components with an Adobe marker, YCC transform
    Other,
};

enum JpegIoMode : int {
    kJpegReadParams = 0,  // parameters from the file: width, height, channels, colour
    kJpegReadWhole = 2,   // the whole picture from the file into the output description
};

enum JpegResult : int {
    kJpegOk = 0,
    kJpegBadArgument = -1,
    kJpegUnavailable = -2,  // the library could not be bound at first use
    kJpegCannotRead = -3,   // the source file is missing, unreadable or too large
    kJpegDecodeFailed = -4,
    kJpegRefused = -5,      // dimensions beyond kJpegMaxWidth / kJpegMaxHeight
    kJpegUnsupported = -6,  // an output description the library cannot produce from this file
    kJpegBufferTooSmall = -7,
};

// Largest picture the library reads; a header claiming more is refused before any picture memory
// is allocated. The same bound as the viewer's largest frame.
inline constexpr int kJpegMaxWidth = 4096;
inline constexpr int kJpegMaxHeight = 4096;
// Largest JPEG file read into memory.
inline constexpr long long kJpegMaxFileBytes = 64ll * 1024 * 1024;

// Zero-fill before jpegInit (`JpegProperties props{};`).
struct JpegProperties {
    // Picture source: a file name, or, when it is null, bytes in memory.
    const char* fileName;
    const unsigned char* jpegBytes;
    std::size_t jpegSize;

    // What the file holds, filled by a parameter read.
    int jpegWidth;
    int jpegHeight;
    int jpegChannels;
    JpegColor jpegColor;

    // Output description, set by the caller before reading the whole picture. Rows are written
    // top row first (bottom row first with dibBottomUp), each dibChannels x dibWidth bytes
    // followed by dibPadBytes bytes. Bgr comes in three bytes a pixel, or in four with 255 as the
    // fourth.
    int dibWidth;
    int dibHeight;
    int dibChannels;
    JpegColor dibColor;
    int dibPadBytes;
    unsigned char* dibBytes;
    std::size_t dibBufferSize;  // bytes available at dibBytes; a picture that needs more fails
    bool dibBottomUp;

    void* internal;  // library state between calls
};

int jpegInit(JpegProperties* props);
int jpegRead(JpegProperties* props, int mode);
int jpegFree(JpegProperties* props);

// Where the library's log lines go (one line, no newline). The default writes to stderr; null
// drops them. Only the failure to bind the library at first use is logged; decode failures are
// reported by the result codes alone.
using JpegLogFn = void (*)(const char* line);
void setJpegLog(JpegLogFn fn);

}  // namespace platform
