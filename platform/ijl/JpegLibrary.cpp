#include "platform/ijl/JpegLibrary.h"

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "platform/FileSystem.h"

namespace platform {

namespace {

void logToStderr(const char* line) {
    std::fprintf(stderr, "%s\n", line);
}

std::atomic<JpegLogFn> gLog{logToStderr};

// libjpeg reports fatal errors through error_exit, which must not return: we jump back to the
// call that started the work. Warnings are ignored except a cut-off file, which we treat as an
// error so that a half-written frame shows nothing instead of a grey lower half.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    cinfo->err->format_message(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
    if (level == -1 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        onError(cinfo);
}

void installErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    err.message[0] = '\0';
}

// libjpeg's working memory per decode: enough for a progressive picture at the size bound, far
// below what a hostile header could ask for.
constexpr long kMaxWorkingMemory = 256l * 1024 * 1024;

// Binding on first use: the library we run against must accept the structure layout and version
// we were built with. Checked once per process; the result is kept here and nowhere else.
bool libraryReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        jpeg_decompress_struct probe{};
        ErrorManager err;
        installErrorManager(err);
        probe.err = &err.pub;
        if (setjmp(err.jump) == 0) {
            jpeg_create_decompress(&probe);
            jpeg_destroy_decompress(&probe);
            ready = true;
            return;
        }
        jpeg_destroy_decompress(&probe);
        if (JpegLogFn fn = gLog.load()) {
            const std::string line = std::string("JPEG library unavailable: ") + err.message;
            fn(line.c_str());
        }
    });
    return ready;
}

struct JpegState {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    bool created = false;
    bool headerRead = false;
    bool done = false;  // a whole-picture read ran; a second one needs a fresh parameter read
    std::vector<unsigned char> fileBytes;
    std::vector<JSAMPROW> rows;
};

JpegState* stateOf(JpegProperties* props) {
    return static_cast<JpegState*>(props->internal);
}

void destroyDecoder(JpegState& s) {
    if (s.created)
        jpeg_destroy_decompress(&s.cinfo);
    s.created = false;
    s.headerRead = false;
    s.done = false;
}

JpegColor colourOf(const jpeg_decompress_struct& cinfo) {
    switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
            return JpegColor::Grey;
        case JCS_YCbCr:
            return JpegColor::YCbCr;
        case JCS_RGB:
            return JpegColor::Rgb;
        case JCS_YCCK:
            return JpegColor::Ycck;
        case JCS_CMYK:
            // Four components without an Adobe marker are taken as YCbCr plus alpha.
            return cinfo.saw_Adobe_marker ? JpegColor::Cmyk : JpegColor::YCbCrAFlashPix;
        default:
            return JpegColor::Other;
    }
}

// Runs the parameter read over the bytes in s.fileBytes or the caller's memory. Kept free of
// objects with destructors, since an error jumps out of it.
int readHeader(JpegState& s, const unsigned char* data, std::size_t size) {
    destroyDecoder(s);
    installErrorManager(s.err);
    s.cinfo.err = &s.err.pub;
    if (setjmp(s.err.jump) != 0) {
        destroyDecoder(s);
        return kJpegDecodeFailed;
    }
    jpeg_create_decompress(&s.cinfo);
    s.created = true;
    s.cinfo.mem->max_memory_to_use = kMaxWorkingMemory;
    jpeg_mem_src(&s.cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&s.cinfo, TRUE) != JPEG_HEADER_OK) {
        destroyDecoder(s);
        return kJpegDecodeFailed;
    }
    s.headerRead = true;
    return kJpegOk;
}

// Four raw components of one row, in place, to red, green, blue, alpha.
void rowToRgba(unsigned char* p, int width, JpegColor source) {
    for (int x = 0; x < width; ++x, p += 4) {
        if (source == JpegColor::YCbCrAFlashPix) {
            const int y = p[0], cb = p[1] - 128, cr = p[2] - 128;
            const int r = y + ((91881 * cr + 32768) >> 16);
            const int g = y + ((-22554 * cb - 46802 * cr + 32768) >> 16);
            const int b = y + ((116130 * cb + 32768) >> 16);
            p[0] = static_cast<unsigned char>(r < 0 ? 0 : (r > 255 ? 255 : r));
            p[1] = static_cast<unsigned char>(g < 0 ? 0 : (g > 255 ? 255 : g));
            p[2] = static_cast<unsigned char>(b < 0 ? 0 : (b > 255 ? 255 : b));
            // p[3]: the alpha component as coded
        } else {
            // Adobe files store CMYK inverted (255 = no ink), so red = (255 - C) x (255 - K) / 255
            // becomes C' x K' / 255 on the stored values. No alpha: opaque.
            const int k = p[3];
            p[0] = static_cast<unsigned char>(p[0] * k / 255);
            p[1] = static_cast<unsigned char>(p[1] * k / 255);
            p[2] = static_cast<unsigned char>(p[2] * k / 255);
            p[3] = 255;
        }
    }
}

// The whole-picture read. As readHeader, nothing with a destructor lives in here.
int readPicture(JpegState& s, JpegProperties& props, J_COLOR_SPACE outSpace, JSAMPROW* rows) {
    if (setjmp(s.err.jump) != 0) {
        destroyDecoder(s);
        return kJpegDecodeFailed;
    }
    s.cinfo.out_color_space = outSpace;
    jpeg_start_decompress(&s.cinfo);
    if (s.cinfo.output_width != static_cast<JDIMENSION>(props.dibWidth) ||
        s.cinfo.output_height != static_cast<JDIMENSION>(props.dibHeight) ||
        s.cinfo.output_components != props.dibChannels) {
        destroyDecoder(s);
        return kJpegUnsupported;
    }
    const JDIMENSION height = s.cinfo.output_height;
    while (s.cinfo.output_scanline < height) {
        const JDIMENSION line = s.cinfo.output_scanline;
        if (jpeg_read_scanlines(&s.cinfo, rows + line, height - line) == 0) {
            destroyDecoder(s);
            return kJpegDecodeFailed;
        }
    }
    jpeg_finish_decompress(&s.cinfo);
    s.done = true;
    return kJpegOk;
}

}  // namespace

void setJpegLog(JpegLogFn fn) {
    gLog.store(fn);
}

int jpegInit(JpegProperties* props) {
    if (!props)
        return kJpegBadArgument;
    if (!libraryReady())
        return kJpegUnavailable;
    if (props->internal)
        return kJpegBadArgument;  // initialised twice without a release
    props->internal = new (std::nothrow) JpegState;
    return props->internal ? kJpegOk : kJpegDecodeFailed;
}

int jpegFree(JpegProperties* props) {
    if (!props)
        return kJpegBadArgument;
    if (JpegState* s = stateOf(props)) {
        destroyDecoder(*s);
        delete s;
    }
    props->internal = nullptr;
    return kJpegOk;
}

namespace {

int readImpl(JpegProperties* props, int mode) {
    if (!props || !props->internal)
        return kJpegBadArgument;
    if (mode != kJpegReadParams && mode != kJpegReadWhole)
        return kJpegBadArgument;
    JpegState& s = *stateOf(props);

    if (mode == kJpegReadParams || !s.headerRead || s.done) {
        const unsigned char* data = props->jpegBytes;
        std::size_t size = props->jpegSize;
        if (props->fileName) {
            if (!readWholeFile(props->fileName, s.fileBytes, kJpegMaxFileBytes))
                return kJpegCannotRead;
            data = s.fileBytes.data();
            size = s.fileBytes.size();
        }
        if (!data || size == 0)
            return kJpegCannotRead;
        const int r = readHeader(s, data, size);
        if (r != kJpegOk)
            return r;
        const jpeg_decompress_struct& c = s.cinfo;
        if (c.image_width == 0 || c.image_height == 0 ||
            c.image_width > static_cast<JDIMENSION>(kJpegMaxWidth) ||
            c.image_height > static_cast<JDIMENSION>(kJpegMaxHeight)) {
            destroyDecoder(s);
            return kJpegRefused;
        }
        props->jpegWidth = static_cast<int>(c.image_width);
        props->jpegHeight = static_cast<int>(c.image_height);
        props->jpegChannels = c.num_components;
        props->jpegColor = colourOf(c);
        if (mode == kJpegReadParams)
            return kJpegOk;
    }

    // Which libjpeg output gives the description asked for.
    J_COLOR_SPACE outSpace;
    const JpegColor source = props->jpegColor;
    const bool threeComponents =
        source == JpegColor::Grey || source == JpegColor::YCbCr || source == JpegColor::Rgb;
    if (props->dibColor == JpegColor::Bgr && props->dibChannels == 3 && threeComponents) {
        outSpace = JCS_EXT_BGR;
    } else if (props->dibColor == JpegColor::Bgr && props->dibChannels == 4 && threeComponents) {
        // libjpeg-turbo sets the fourth byte to 255.
        outSpace = JCS_EXT_BGRX;
    } else if (props->dibColor == JpegColor::RgbaFlashPix && props->dibChannels == 4 &&
               (source == JpegColor::YCbCrAFlashPix || source == JpegColor::Cmyk ||
                source == JpegColor::Ycck)) {
        // libjpeg has no YCbCr + alpha conversion: take the four components as they are coded
        // (libjpeg treats a four-component file without an Adobe marker as CMYK and passes it
        // through; a YCCK file comes out as CMYK) and convert each row ourselves.
        outSpace = JCS_CMYK;
    } else {
        return kJpegUnsupported;
    }
    if (props->dibWidth != props->jpegWidth || props->dibHeight != props->jpegHeight ||
        props->dibPadBytes < 0 || props->dibPadBytes > 1024 || !props->dibBytes)
        return kJpegBadArgument;
    const std::size_t rowBytes =
        static_cast<std::size_t>(props->dibChannels) * static_cast<std::size_t>(props->dibWidth) +
        static_cast<std::size_t>(props->dibPadBytes);
    if (rowBytes * static_cast<std::size_t>(props->dibHeight) > props->dibBufferSize)
        return kJpegBufferTooSmall;

    const std::size_t height = static_cast<std::size_t>(props->dibHeight);
    s.rows.resize(height);
    for (std::size_t y = 0; y < height; ++y)
        s.rows[y] = props->dibBytes + (props->dibBottomUp ? height - 1 - y : y) * rowBytes;
    const int r = readPicture(s, *props, outSpace, s.rows.data());
    if (r != kJpegOk)
        return r;
    if (outSpace == JCS_CMYK) {
        for (std::size_t y = 0; y < s.rows.size(); ++y)
            rowToRgba(s.rows[y], props->dibWidth, source);
    }
    return kJpegOk;
}

}  // namespace

int jpegRead(JpegProperties* props, int mode) {
    // Containers may fail to allocate; that is a failed read like any other.
    try {
        return readImpl(props, mode);
    } catch (...) {
        return kJpegDecodeFailed;
    }
}

}  // namespace platform
