#include "platform/jpxcodec/jpxcodec.h"

#include <openjpeg.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

namespace {

// How the decoded components become blue-green-red. Rct and Ict hold the code-stream's own
// luminance and colour differences, which we turn into RGB ourselves (see decodeOwnTransform).
enum class ColourPlan { Grey, Rgb, Sycc, Cmyk, Rct, Ict };

}  // namespace

struct JpxPicture {
    opj_image_t* image = nullptr;
    opj_image_t* second = nullptr;  // the components a helper thread decoded, if any
    const opj_image_comp_t* comps[4] = {};
    ColourPlan plan = ColourPlan::Grey;
    int fractionBits = 0;  // Ict: samples are 2^fractionBits times the 8-bit value, + 32768
    std::uint32_t x0 = 0;  // picture origin on the reference grid
    std::uint32_t y0 = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    ~JpxPicture() {
        if (image)
            opj_image_destroy(image);
        if (second)
            opj_image_destroy(second);
    }
};

namespace {

// A recorder's frame is one or a few tiles; far more tiles than this only makes the codec allocate
// per-tile bookkeeping for a hostile header.
constexpr std::uint64_t kMaxTiles = 4096;
constexpr std::uint32_t kMaxPrecision = 16;
// Codec's internal read-ahead buffer; frames are tens of kilobytes.
constexpr std::size_t kStreamChunk = 64 * 1024;

std::atomic<JpxLogFn> gErrorLog{nullptr};
std::atomic<int> gDecodeThreads{0};  // 0 = not chosen yet

std::uint16_t be16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t be32(const unsigned char* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}
void le16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void le32(unsigned char* p, std::uint32_t v) {
    le16(p, v);
    le16(p + 2, v >> 16);
}

constexpr unsigned char kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 'j',  'P',
                                             ' ',  ' ',  0x0D, 0x0A, 0x87, 0x0A};

bool isJp2(const unsigned char* data, std::size_t size) {
    return size >= sizeof kJp2Signature && std::memcmp(data, kJp2Signature, 12) == 0;
}
bool isCodestream(const unsigned char* data, std::size_t size) {
    return size >= 4 && data[0] == 0xFF && data[1] == 0x4F && data[2] == 0xFF && data[3] == 0x51;
}

// The contents of the first 'jp2c' box of a JP2 file. A box that runs past the end of the data is
// cut to what exists, so that a truncated file still shows its header (the decode itself fails).
bool findJp2Codestream(const unsigned char* data, std::size_t size, const unsigned char** cs,
                       std::size_t* csSize) {
    std::size_t pos = 0;
    for (int boxes = 0; boxes < 64 && size - pos >= 8; ++boxes) {
        std::uint64_t length = be32(data + pos);
        const std::uint32_t type = be32(data + pos + 4);
        std::size_t header = 8;
        if (length == 1) {
            if (size - pos < 16)
                return false;
            length =
                (static_cast<std::uint64_t>(be32(data + pos + 8)) << 32) | be32(data + pos + 12);
            header = 16;
        } else if (length == 0) {
            length = size - pos;  // the last box runs to the end of the file
        }
        if (length < header)
            return false;
        const std::size_t available = size - pos;
        if (type == 0x6A703263u) {  // 'jp2c'
            *cs = data + pos + header;
            *csSize = static_cast<std::size_t>(std::min<std::uint64_t>(length, available)) - header;
            return true;
        }
        if (length > available)
            return false;
        pos += static_cast<std::size_t>(length);
    }
    return false;
}

// Parses SOC + SIZ and refuses what no recorder writes, so that a hostile header never reaches
// the codec's allocations.
int parseSiz(const unsigned char* cs, std::size_t size, JpxHeaderInfo* info) {
    if (!isCodestream(cs, size) || size < 4 + 2 + 38)
        return kJpxNotJpeg2000;
    const unsigned char* p = cs + 4;
    const std::uint32_t lsiz = be16(p);
    const std::uint32_t csiz = be16(p + 36);
    if (lsiz != 38u + 3u * csiz || size - 4 < lsiz)
        return kJpxNotJpeg2000;
    const std::uint32_t xsiz = be32(p + 4), ysiz = be32(p + 8);
    const std::uint32_t xo = be32(p + 12), yo = be32(p + 16);
    const std::uint32_t xt = be32(p + 20), yt = be32(p + 24);
    const std::uint32_t xto = be32(p + 28), yto = be32(p + 32);
    if (xsiz <= xo || ysiz <= yo)
        return kJpxHeaderRefused;
    const std::uint64_t width = xsiz - xo, height = ysiz - yo;
    if (width > static_cast<std::uint64_t>(kJpxMaxWidth) ||
        height > static_cast<std::uint64_t>(kJpxMaxHeight))
        return kJpxHeaderRefused;
    if (xt == 0 || yt == 0 || xto > xo || yto > yo || static_cast<std::uint64_t>(xto) + xt <= xo ||
        static_cast<std::uint64_t>(yto) + yt <= yo)
        return kJpxHeaderRefused;
    const std::uint64_t tilesX = (static_cast<std::uint64_t>(xsiz) - xto + xt - 1) / xt;
    const std::uint64_t tilesY = (static_cast<std::uint64_t>(ysiz) - yto + yt - 1) / yt;
    if (tilesX * tilesY > kMaxTiles)
        return kJpxHeaderRefused;
    if (csiz == 0 || csiz > 4)
        return kJpxUnsupported;
    for (std::uint32_t c = 0; c < csiz; ++c) {
        const unsigned char* comp = p + 38 + 3 * c;
        if ((comp[0] & 0x7Fu) + 1u > kMaxPrecision)
            return kJpxUnsupported;
        if (comp[1] == 0 || comp[2] == 0)
            return kJpxHeaderRefused;
    }
    info->width = static_cast<std::int32_t>(width);
    info->height = static_cast<std::int32_t>(height);
    info->components = static_cast<std::int32_t>(csiz);
    return kJpxOk;
}

void report(j2k_extra_stat_s* stat, int result, std::int32_t width, std::int32_t height) {
    if (!stat || stat->size < static_cast<std::int16_t>(sizeof(j2k_extra_stat_s)))
        return;
    if (stat->width)
        *stat->width = width;
    if (stat->height)
        *stat->height = height;
    if (stat->detail)
        *stat->detail = result;
}

// --- reading the codec's input from memory ----------------------------------------------------

// A byte the codec is to read differently from the file (see planOwnTransform).
struct BytePatch {
    std::uint64_t at = 0;
    unsigned char value = 0;
};
// A frame needs three precision bytes and, per quantisation marker, its style byte and one byte
// per sub-band (3 x levels + 1); one that needs more keeps the codec's own colour transform.
constexpr int kMaxPatches = 128;

struct MemoryInput {
    const unsigned char* data;
    std::uint64_t size;
    std::uint64_t pos;  // never beyond size
    const BytePatch* patches = nullptr;
    int patchCount = 0;
};

OPJ_SIZE_T memRead(void* buffer, OPJ_SIZE_T bytes, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    if (in->pos >= in->size)
        return static_cast<OPJ_SIZE_T>(-1);
    const std::uint64_t n = std::min<std::uint64_t>(bytes, in->size - in->pos);
    std::memcpy(buffer, in->data + in->pos, static_cast<std::size_t>(n));
    for (int i = 0; i < in->patchCount; ++i) {
        const std::uint64_t at = in->patches[i].at;
        if (at >= in->pos && at - in->pos < n)
            static_cast<unsigned char*>(buffer)[at - in->pos] = in->patches[i].value;
    }
    in->pos += n;
    return static_cast<OPJ_SIZE_T>(n);
}

OPJ_OFF_T memSkip(OPJ_OFF_T bytes, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    if (bytes < 0) {
        const std::uint64_t back = static_cast<std::uint64_t>(-(bytes + 1)) + 1;
        if (back > in->pos)
            return -1;
        in->pos -= back;
        return bytes;
    }
    // A skip past the end only happens on corrupt or cut-off data: report the end of the stream.
    if (static_cast<std::uint64_t>(bytes) > in->size - std::min(in->pos, in->size)) {
        in->pos = in->size;
        return -1;
    }
    in->pos += static_cast<std::uint64_t>(bytes);
    return bytes;
}

OPJ_BOOL memSeek(OPJ_OFF_T offset, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    if (offset < 0 || static_cast<std::uint64_t>(offset) > in->size)
        return OPJ_FALSE;
    in->pos = static_cast<std::uint64_t>(offset);
    return OPJ_TRUE;
}

// --- messages ----------------------------------------------------------------------------------

void dropMessage(const char*, void*) {}

// Two codecs may report at once (a frame split between two threads, or two callers).
std::mutex gLogMutex;

void logLine(const char* msg) {
    JpxLogFn fn = gErrorLog.load(std::memory_order_relaxed);
    if (!fn || !msg)
        return;
    // Called from inside the codec's C code: nothing may be thrown through it.
    char line[512];
    std::size_t n = std::min(std::strlen(msg), sizeof line - 1);
    while (n > 0 && (msg[n - 1] == '\n' || msg[n - 1] == '\r'))
        --n;
    std::memcpy(line, msg, n);
    line[n] = '\0';
    std::lock_guard lock(gLogMutex);
    fn(line);
}

void errorMessage(const char* msg, void*) {
    logLine(msg);
}

// Errors of the helper's codec, held back: when both halves of a frame fail on the same data the
// caller's codec has said it already.
struct HeldErrors {
    char lines[4][256] = {};
    int count = 0;

    void flush() const {
        for (int i = 0; i < count; ++i)
            logLine(lines[i]);
    }
};

void holdMessage(const char* msg, void* user) {
    auto* held = static_cast<HeldErrors*>(user);
    if (!msg || held->count >= 4)
        return;
    const std::size_t n = std::min(std::strlen(msg), sizeof held->lines[0] - 1);
    std::memcpy(held->lines[held->count], msg, n);
    held->lines[held->count][n] = '\0';
    ++held->count;
}

// --- the helper thread -------------------------------------------------------------------------

// One persistent thread that decodes the second half of a frame's components or converts half of
// a picture, so that two-core decoding creates no thread per frame. One caller uses it at a time;
// a caller that finds it busy (the viewer and a streaming decoder at once) does all the work on
// its own thread. The object is never destroyed, so that a call during or after static
// destruction still finds it; its thread is stopped and joined at exit.
class Helper {
public:
    static Helper& instance() {
        static Helper* helper = new Helper;
        return *helper;
    }

    // Reserves the helper for one job; false when another caller holds it or it cannot run.
    bool claim() {
        std::lock_guard lock(mutex_);
        if (claimed_ || stopping_)
            return false;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { loop(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        claimed_ = true;
        return true;
    }

    // Runs fn(arg) on the helper; only after a successful claim, and followed by finish().
    void start(void (*fn)(void*), void* arg) {
        {
            std::lock_guard lock(mutex_);
            job_ = fn;
            arg_ = arg;
            done_ = false;
        }
        wake_.notify_all();
    }

    // Waits for the job (a bounded piece of work) and releases the claim.
    void finish() {
        {
            std::unique_lock lock(mutex_);
            finished_.wait(lock, [this] { return done_; });
            claimed_ = false;
        }
        wake_.notify_all();  // a stop may be waiting for the claim to end
    }

private:
    Helper() {
        std::atexit([] { instance().stop(); });
    }

    void stop() {
        std::thread thread;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            thread = std::move(thread_);
        }
        wake_.notify_all();
        if (thread.joinable())
            thread.join();
    }

    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return job_ != nullptr || (stopping_ && !claimed_); });
            if (!job_)
                return;
            void (*fn)(void*) = job_;
            void* arg = arg_;
            job_ = nullptr;
            lock.unlock();
            fn(arg);
            lock.lock();
            done_ = true;
            finished_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::thread thread_;
    void (*job_)(void*) = nullptr;
    void* arg_ = nullptr;
    bool done_ = true;
    bool claimed_ = false;
    bool stopping_ = false;
};

// --- running the codec -------------------------------------------------------------------------

struct CodecGuard {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    ~CodecGuard() {
        if (image)
            opj_image_destroy(image);
        if (stream)
            opj_stream_destroy(stream);
        if (codec)
            opj_destroy_codec(codec);
    }
};

// One decode of a file, whole or of some of its components.
struct DecodeJob {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    JpxHeaderInfo header;
    const BytePatch* patches = nullptr;
    int patchCount = 0;
    // The components to decode, without the codec's colour transform; none = all, with it.
    OPJ_UINT32 comps[3] = {};
    OPJ_UINT32 compCount = 0;
    int threads = 1;             // the codec's own worker threads
    HeldErrors* held = nullptr;  // null: errors go to the log at once

    int result = kJpxDecodeFailed;
    opj_image_t* image = nullptr;  // on success, owned by the caller
};

void runDecode(DecodeJob& job) {
    job.result = kJpxDecodeFailed;
    job.image = nullptr;
    CodecGuard g;
    g.codec = opj_create_decompress(job.header.jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!g.codec) {
        job.result = kJpxOutOfMemory;
        return;
    }
    opj_set_info_handler(g.codec, dropMessage, nullptr);
    opj_set_warning_handler(g.codec, dropMessage, nullptr);
    if (job.held)
        opj_set_error_handler(g.codec, holdMessage, job.held);
    else
        opj_set_error_handler(g.codec, errorMessage, nullptr);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    if (!opj_setup_decoder(g.codec, &params))
        return;
    // A cut-off frame shows nothing rather than a half-grey picture.
    opj_decoder_set_strict_mode(g.codec, OPJ_TRUE);
    if (job.threads > 1)
        opj_codec_set_threads(g.codec, job.threads);

    MemoryInput in{job.data, job.size, 0, job.patches, job.patchCount};
    g.stream = opj_stream_create(std::min(kStreamChunk, job.size), OPJ_TRUE);
    if (!g.stream) {
        job.result = kJpxOutOfMemory;
        return;
    }
    opj_stream_set_user_data(g.stream, &in, nullptr);
    opj_stream_set_user_data_length(g.stream, job.size);
    opj_stream_set_read_function(g.stream, memRead);
    opj_stream_set_skip_function(g.stream, memSkip);
    opj_stream_set_seek_function(g.stream, memSeek);

    if (!opj_read_header(g.stream, g.codec, &g.image) || !g.image)
        return;
    // The header we checked and the one the codec read must agree (a JP2 file could carry a
    // second code-stream box, or the codec may read the header differently).
    const bool sameSize =
        g.image->x1 > g.image->x0 && g.image->y1 > g.image->y0 &&
        g.image->x1 - g.image->x0 == static_cast<std::uint32_t>(job.header.width) &&
        g.image->y1 - g.image->y0 == static_cast<std::uint32_t>(job.header.height);
    if (!sameSize) {
        job.result = kJpxHeaderRefused;
        return;
    }
    if (job.compCount > 0 &&
        !opj_set_decoded_components(g.codec, job.compCount, job.comps, OPJ_FALSE))
        return;
    if (!opj_decode(g.codec, g.stream, g.image))
        return;
    job.image = g.image;
    g.image = nullptr;
    job.result = kJpxOk;
}

void runDecodeJob(void* job) {
    runDecode(*static_cast<DecodeJob*>(job));
}

// Chooses how the components become a 24-bit picture, or refuses them.
int choosePlan(const opj_image_t* image, ColourPlan* plan) {
    const std::uint32_t n = image->numcomps;
    if (n == 0 || n > 4 || !image->comps)
        return kJpxUnsupported;
    for (std::uint32_t c = 0; c < n; ++c) {
        const opj_image_comp_t& comp = image->comps[c];
        if (!comp.data || comp.w == 0 || comp.h == 0 || comp.dx == 0 || comp.dy == 0 ||
            comp.prec == 0 || comp.prec > kMaxPrecision)
            return kJpxUnsupported;
    }
    switch (image->color_space) {
        case OPJ_CLRSPC_GRAY:
            *plan = ColourPlan::Grey;
            return kJpxOk;
        case OPJ_CLRSPC_SYCC:
            if (n < 3)
                return kJpxUnsupported;
            *plan = ColourPlan::Sycc;
            return kJpxOk;
        case OPJ_CLRSPC_CMYK:
            if (n != 4)
                return kJpxUnsupported;
            *plan = ColourPlan::Cmyk;
            return kJpxOk;
        case OPJ_CLRSPC_EYCC:
            return kJpxUnsupported;
        default:
            // sRGB or unspecified (a raw code-stream): 1-2 components are grey (+ alpha, which a
            // recorder's frame never uses and we drop), 3-4 are RGB (+ alpha, dropped).
            *plan = n < 3 ? ColourPlan::Grey : ColourPlan::Rgb;
            return kJpxOk;
    }
}

// The usual way: the codec decodes every component and applies the colour transform.
int decodeWhole(const unsigned char* data, std::size_t size, const JpxHeaderInfo& header,
                int threads, JpxPicture& pic) {
    DecodeJob job;
    job.data = data;
    job.size = size;
    job.header = header;
    job.threads = threads;
    runDecode(job);
    if (job.result != kJpxOk)
        return job.result;
    pic.image = job.image;
    ColourPlan plan;
    const int r = choosePlan(pic.image, &plan);
    if (r != kJpxOk)
        return r;
    pic.plan = plan;
    for (std::uint32_t c = 0; c < pic.image->numcomps && c < 4; ++c)
        pic.comps[c] = &pic.image->comps[c];
    return kJpxOk;
}

// --- doing the colour transform ourselves ------------------------------------------------------
//
// At a recorder's compression the codec's block decoding is light, and what it does on one thread
// after its workers finish - the level shift of every sample and the colour transform - takes a
// third of a frame. Decoding the luminance on the caller's thread and the two colour components on
// the helper, each codec on its own, puts all of that on two cores; skipping the codec's colour
// transform lets us fuse it with the conversion to BGR.
//
// Without its colour transform the codec still level-shifts and rounds every component and clamps
// it to the component's range, which would cut colour differences (B - G spans +-255 in an 8-bit
// reversible file) and round luminance and colour differences before the transform. So the codec
// reads the 8-bit components as 16-bit ones (the level shift becomes 32768 and the range 0-65535):
//   5/3 wavelet (RCT): samples are the integer Y, Db, Dr + 32768; the transform is exact.
//   9/7 wavelet (ICT): the dequantisation step follows the precision, so samples would carry 8
//     fractional bits but still clip at +-128. Raising every quantisation exponent by k while
//     taking k guard bits away keeps the number of coded bit-planes and scales the steps by 2^-k:
//     samples are 2^(8-k) x Y, Cb, Cr + 32768, with room for +-128 x 2^k (k = 2 where the file
//     has two guard bits, as encoders write by default). The result is within one of the codec's
//     own transform.
// Files with anything else - other colour spaces, palettes, channel definitions, sub-sampling,
// other precisions, per-component or per-tile coding styles, custom transforms - keep the usual
// way.

constexpr std::uint32_t kBoxJp2Header = 0x6A703268;  // 'jp2h'
constexpr std::uint32_t kBoxJp2Codestream = 0x6A703263;
constexpr std::uint32_t kBoxImageHeader = 0x69686472;  // 'ihdr'
constexpr std::uint32_t kBoxColour = 0x636F6C72;       // 'colr'
constexpr std::uint32_t kBoxBitDepths = 0x62706363;    // 'bpcc'
constexpr std::uint32_t kBoxResolution = 0x72657320;   // 'res '
constexpr std::uint32_t kEnumSrgb = 16;

// A JP2 header that says nothing but size, bit depths, resolution and (enumerated) sRGB.
bool plainSrgbJp2(const unsigned char* data, std::size_t size) {
    std::size_t pos = 0;
    for (int boxes = 0; boxes < 64 && size - pos >= 8; ++boxes) {
        const std::uint32_t length = be32(data + pos);
        const std::uint32_t type = be32(data + pos + 4);
        if (length < 8 || length > size - pos || type == kBoxJp2Codestream)
            return false;
        if (type == kBoxJp2Header) {
            const unsigned char* box = data + pos + 8;
            const std::size_t n = length - 8;
            bool imageHeader = false;
            std::size_t at = 0;
            while (n - at >= 8) {
                const std::uint32_t subLength = be32(box + at);
                const std::uint32_t subType = be32(box + at + 4);
                if (subLength < 8 || subLength > n - at)
                    return false;
                if (subType == kBoxImageHeader) {
                    imageHeader = true;
                } else if (subType == kBoxColour) {
                    if (subLength < 15 || box[at + 8] != 1 || be32(box + at + 11) != kEnumSrgb)
                        return false;
                } else if (subType != kBoxBitDepths && subType != kBoxResolution) {
                    return false;
                }
                at += subLength;
            }
            return imageHeader && at == n;
        }
        pos += length;
    }
    return false;
}

constexpr std::uint16_t kMarkerSot = 0xFF90;
constexpr std::uint16_t kMarkerSod = 0xFF93;
constexpr std::uint16_t kMarkerEoc = 0xFFD9;
constexpr std::uint16_t kMarkerCod = 0xFF52;
constexpr std::uint16_t kMarkerQcd = 0xFF5C;
constexpr std::uint16_t kMarkerQcc = 0xFF5D;
constexpr int kMaxQuantMarkers = 16;

struct QuantMarker {
    std::size_t style = 0;  // offset of Sqcd / Sqcc in the code-stream
    std::size_t end = 0;    // end of the marker segment
};

struct StreamFacts {
    bool mainHeader = true;
    bool haveCod = false;
    unsigned mct = 0;
    unsigned levels = 0;
    unsigned transform = 0;  // 1 = 5/3, 0 = 9/7
    QuantMarker quants[kMaxQuantMarkers];
    int quantCount = 0;
};

// Walks the marker segments from pos up to the marker `until`. False on malformed segments and on
// anything that makes the components' coding differ (left to the codec's usual way).
bool scanHeader(const unsigned char* cs, std::size_t csSize, std::size_t* pos, std::uint16_t until,
                StreamFacts* facts) {
    std::size_t p = *pos;
    for (;;) {
        if (p > csSize || csSize - p < 4)
            return false;
        const std::uint16_t marker = be16(cs + p);
        if (marker == until) {
            *pos = p;
            return true;
        }
        if ((marker & 0xFF00u) != 0xFF00u)
            return false;
        const std::uint32_t length = be16(cs + p + 2);
        if (length < 2 || length > csSize - p - 2)
            return false;
        switch (marker) {
            case kMarkerCod:
                if (!facts->mainHeader || facts->haveCod || length < 12)
                    return false;
                facts->haveCod = true;
                facts->mct = cs[p + 8];
                facts->levels = cs[p + 9];
                facts->transform = cs[p + 13];
                break;
            case 0xFF53:  // COC: a component coded its own way
            case 0xFF74:  // MCT, MCC, MCO, CBD: custom component transforms
            case 0xFF75:
            case 0xFF77:
            case 0xFF78:
                return false;
            case kMarkerQcd:
            case kMarkerQcc:
                if (facts->quantCount == kMaxQuantMarkers || length < 4)
                    return false;
                // Cqcc is one byte for fewer than 257 components.
                facts->quants[facts->quantCount++] = {p + (marker == kMarkerQcc ? 5u : 4u),
                                                      p + 2 + length};
                break;
            default:
                break;
        }
        p += 2 + length;
    }
}

// What a frame needs so that we may do its colour transform ourselves.
struct OwnTransform {
    bool mct = false;         // the components are Y and colour differences
    bool reversible = false;  // 5/3 wavelet and RCT, else 9/7 and ICT
    int fractionBits = 0;     // Ict
    BytePatch patches[kMaxPatches];
    int patchCount = 0;

    bool patch(std::uint64_t at, unsigned char value) {
        if (patchCount == kMaxPatches)
            return false;
        patches[patchCount++] = {at, value};
        return true;
    }
};

// Decides whether a frame (whose main header readJ2KHeader accepted) takes our own colour
// transform, and which bytes the codec must read differently for it.
bool planOwnTransform(const unsigned char* data, std::size_t size, bool jp2, OwnTransform* own) {
    const unsigned char* cs = data;
    std::size_t csSize = size;
    if (jp2 && (!plainSrgbJp2(data, size) || !findJp2Codestream(data, size, &cs, &csSize)))
        return false;
    const auto base = static_cast<std::uint64_t>(cs - data);
    // SOC, then SIZ: Lsiz at 4, Csiz at 40, per component Ssiz, XRsiz, YRsiz from 42.
    const std::uint32_t lsiz = be16(cs + 4);
    if (be16(cs + 40) != 3)
        return false;
    for (std::size_t c = 0; c < 3; ++c) {
        const unsigned char* comp = cs + 42 + 3 * c;
        if (comp[0] != 0x07 || comp[1] != 1 || comp[2] != 1)  // 8-bit unsigned, full size
            return false;
    }
    StreamFacts facts;
    std::size_t pos = 4 + lsiz;
    if (!scanHeader(cs, csSize, &pos, kMarkerSot, &facts))
        return false;
    facts.mainHeader = false;
    // Tile-part headers: each SOT segment (Lsot 10, Psot at 6), markers, then SOD.
    for (;;) {
        if (csSize - pos < 12 || be16(cs + pos) != kMarkerSot || be16(cs + pos + 2) != 10)
            return false;
        const std::uint32_t psot = be32(cs + pos + 6);
        std::size_t header = pos + 12;
        if (!scanHeader(cs, csSize, &header, kMarkerSod, &facts))
            return false;
        if (psot == 0)  // the last tile-part runs to the end of the code-stream
            break;
        if (psot < 14 || psot > csSize - pos)  // cut off: left to the codec to refuse
            return false;
        pos += psot;
        if (csSize - pos < 2 || be16(cs + pos) == kMarkerEoc)
            break;
    }
    if (!facts.haveCod || facts.mct > 1 || facts.transform > 1)
        return false;
    own->mct = facts.mct == 1;
    own->reversible = facts.transform == 1;
    own->patchCount = 0;
    own->fractionBits = 0;
    if (!own->mct)  // the components are R, G and B already
        return true;
    for (std::size_t c = 0; c < 3; ++c) {
        if (!own->patch(base + 42 + 3 * c, 0x0F))  // 16-bit unsigned
            return false;
    }
    if (own->reversible)
        return true;
    if (facts.quantCount == 0)
        return false;
    int guard = 7;
    for (int i = 0; i < facts.quantCount; ++i)
        guard = std::min(guard, cs[facts.quants[i].style] >> 5);
    const int k = std::min(guard, 2);
    if (k < 1)
        return false;
    for (int i = 0; i < facts.quantCount; ++i) {
        const QuantMarker& q = facts.quants[i];
        const unsigned style = cs[q.style] & 0x1Fu;
        const std::size_t values = q.end - q.style - 1;  // bytes of step sizes
        std::size_t count = 0;
        if (style == 1 && values >= 2)
            count = 1;  // derived: the LL band's step, the others follow from it
        else if (style == 2 && values >= 2 && values % 2 == 0)
            count = values / 2;
        else
            return false;
        if (!own->patch(base + q.style,
                        static_cast<unsigned char>(((cs[q.style] >> 5) - k) << 5 | style)))
            return false;
        for (std::size_t b = 0; b < count; ++b) {
            const std::size_t at = q.style + 1 + 2 * b;
            const unsigned exponent = cs[at] >> 3;
            // A derived exponent drops by one per level and the codec stops it at zero; it must
            // not reach zero, or raising it would change more than the scale.
            if (exponent + k > 31 || (style == 1 && exponent + 1 < facts.levels))
                return false;
            if (!own->patch(base + at,
                            static_cast<unsigned char>((exponent + k) << 3 | (cs[at] & 7u))))
                return false;
        }
    }
    own->fractionBits = 8 - k;
    return true;
}

// Decodes the frame's components without the codec's colour transform, split between the caller
// and the helper when threads allow. Returns false when the codec gave back something other than
// planned (the caller then decodes the usual way); else the result is in *result.
bool decodeOwnTransform(const unsigned char* data, std::size_t size, const JpxHeaderInfo& header,
                        const OwnTransform& own, int threads, JpxPicture& pic, int* result) {
    DecodeJob first;
    first.data = data;
    first.size = size;
    first.header = header;
    first.patches = own.patches;
    first.patchCount = own.patchCount;
    DecodeJob second = first;
    HeldErrors held;
    bool split = false;
    Helper& helper = Helper::instance();
    if (threads > 1 && helper.claim()) {
        first.comps[0] = 0;
        first.compCount = 1;
        second.comps[0] = 1;
        second.comps[1] = 2;
        second.compCount = 2;
        second.held = &held;
        first.threads = second.threads = threads / 2;
        helper.start(runDecodeJob, &second);
        runDecode(first);
        helper.finish();
        split = true;
    } else {
        first.comps[0] = 0;
        first.comps[1] = 1;
        first.comps[2] = 2;
        first.compCount = 3;
        runDecode(first);
    }
    pic.image = first.image;
    pic.second = second.image;
    if (first.result != kJpxOk) {
        *result = first.result;
        return true;
    }
    if (split && second.result != kJpxOk) {
        held.flush();
        *result = second.result;
        return true;
    }
    const opj_image_comp_t* comps[3] = {};
    if (split && pic.image->numcomps == 1 && pic.second->numcomps == 2) {
        comps[0] = &pic.image->comps[0];
        comps[1] = &pic.second->comps[0];
        comps[2] = &pic.second->comps[1];
    } else if (!split && pic.image->numcomps == 3) {
        for (int c = 0; c < 3; ++c)
            comps[c] = &pic.image->comps[c];
    }
    const std::uint32_t precision = own.mct ? 16 : 8;
    bool expected = comps[0] != nullptr && pic.image->color_space != OPJ_CLRSPC_GRAY &&
                    pic.image->color_space != OPJ_CLRSPC_SYCC &&
                    pic.image->color_space != OPJ_CLRSPC_CMYK &&
                    pic.image->color_space != OPJ_CLRSPC_EYCC;
    for (int c = 0; expected && c < 3; ++c) {
        const opj_image_comp_t& comp = *comps[c];
        expected = comp.data && comp.dx == 1 && comp.dy == 1 && comp.prec == precision &&
                   !comp.sgnd && comp.w == static_cast<std::uint32_t>(header.width) &&
                   comp.h == static_cast<std::uint32_t>(header.height);
    }
    if (!expected) {
        opj_image_destroy(pic.image);
        pic.image = nullptr;
        if (pic.second)
            opj_image_destroy(pic.second);
        pic.second = nullptr;
        return false;
    }
    for (int c = 0; c < 3; ++c)
        pic.comps[c] = comps[c];
    pic.plan = !own.mct ? ColourPlan::Rgb : own.reversible ? ColourPlan::Rct : ColourPlan::Ict;
    pic.fractionBits = own.fractionBits;
    *result = kJpxOk;
    return true;
}

}  // namespace

void setJpxErrorLog(JpxLogFn fn) {
    gErrorLog.store(fn, std::memory_order_relaxed);
}

void setJpxDecodeThreads(int threads) {
    gDecodeThreads.store(std::clamp(threads, 1, 64), std::memory_order_relaxed);
}

int jpxDecodeThreads() {
    int n = gDecodeThreads.load(std::memory_order_relaxed);
    if (n == 0) {
        // Measured on recorder frames at 20:1 (bench/decode, against one-thread OpenJPEG): with
        // two threads a colour frame decodes in 0.59-0.61x of the single-thread time (704x480 and
        // 720x248) - luminance on the caller's thread, the colour components on the helper - where
        // the codec's own two workers reached only 0.95-1.08x (its level shift and colour
        // transform stay on one thread). Frames we leave to the codec (grey, unusual layouts) use
        // its workers. More threads would compete with playback, so we stop at two.
        n = opj_has_thread_support() ? std::clamp(opj_get_num_cpus(), 1, 2) : 1;
        gDecodeThreads.store(n, std::memory_order_relaxed);
    }
    return n;
}

int readJ2KHeader(const unsigned char* data, std::size_t size, JpxHeaderInfo* info) {
    if (!data || !info)
        return kJpxBadArgument;
    *info = JpxHeaderInfo{};
    const unsigned char* cs = data;
    std::size_t csSize = size;
    const bool jp2 = isJp2(data, size);
    if (jp2 && !findJp2Codestream(data, size, &cs, &csSize))
        return kJpxNotJpeg2000;
    JpxHeaderInfo parsed;
    const int r = parseSiz(cs, csSize, &parsed);
    if (r != kJpxOk)
        return r;
    parsed.jp2 = jp2;
    *info = parsed;
    return kJpxOk;
}

int decodeJ2K(const unsigned char* data, std::size_t size, JpxHandle* picture, std::int16_t,
              j2k_extra_stat_s* stat) {
    if (picture)
        *picture = nullptr;
    if (!data || !picture) {
        report(stat, kJpxBadArgument, 0, 0);
        return kJpxBadArgument;
    }
    JpxHeaderInfo header;
    int r = readJ2KHeader(data, size, &header);
    if (r != kJpxOk) {
        report(stat, r, header.width, header.height);
        return r;
    }
    auto* pic = new (std::nothrow) JpxPicture;
    if (!pic) {
        report(stat, kJpxOutOfMemory, header.width, header.height);
        return kJpxOutOfMemory;
    }
    pic->width = static_cast<std::uint32_t>(header.width);
    pic->height = static_cast<std::uint32_t>(header.height);
    const int threads = jpxDecodeThreads();
    bool done = false;
    {
        OwnTransform own;
        if (planOwnTransform(data, size, header.jp2, &own))
            done = decodeOwnTransform(data, size, header, own, threads, *pic, &r);
    }
    if (!done)
        r = decodeWhole(data, size, header, threads, *pic);
    if (r != kJpxOk) {
        delete pic;
        report(stat, r, header.width, header.height);
        return r;
    }
    pic->x0 = pic->image->x0;
    pic->y0 = pic->image->y0;
    *picture = pic;
    report(stat, kJpxOk, header.width, header.height);
    return kJpxOk;
}

namespace {

// One component's samples as 8-bit values, resampled to the picture grid by nearest neighbour.
struct ComponentReader {
    const OPJ_INT32* data = nullptr;
    std::uint32_t stride = 0;
    std::vector<std::uint32_t> column;  // picture x -> sample index in a row
    std::uint32_t rowBase(std::uint32_t y) const { return rowIndex[y] * stride; }
    std::vector<std::uint32_t> rowIndex;  // picture y -> component row
    std::int32_t offset = 0;              // added to signed samples
    std::int32_t maxValue = 255;
    bool direct = false;  // 8-bit unsigned on the picture grid: no scaling, no resampling

    void prepare(const JpxPicture& pic, const opj_image_comp_t& comp) {
        const std::uint32_t width = pic.width, height = pic.height;
        data = comp.data;
        stride = comp.w;
        offset = comp.sgnd ? (1 << (comp.prec - 1)) : 0;
        maxValue = static_cast<std::int32_t>((1u << comp.prec) - 1u);
        direct = comp.prec == 8 && !comp.sgnd && comp.dx == 1 && comp.dy == 1 && comp.w == width &&
                 comp.h == height;
        // Sample u of the component covers picture columns [u*dx, (u+1)*dx); its first sample
        // is ceil(x0 / dx). Clamping keeps every index inside the component's data.
        const std::uint32_t cx0 = (pic.x0 + comp.dx - 1) / comp.dx;
        const std::uint32_t cy0 = (pic.y0 + comp.dy - 1) / comp.dy;
        column.resize(width);
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t u = (pic.x0 + x) / comp.dx;
            column[x] = std::min(u > cx0 ? u - cx0 : 0u, comp.w - 1);
        }
        rowIndex.resize(height);
        for (std::uint32_t y = 0; y < height; ++y) {
            const std::uint32_t v = (pic.y0 + y) / comp.dy;
            rowIndex[y] = std::min(v > cy0 ? v - cy0 : 0u, comp.h - 1);
        }
    }

    int at(std::uint32_t base, std::uint32_t x) const {
        std::int32_t v = data[base + column[x]] + offset;
        v = std::clamp(v, 0, maxValue);
        if (maxValue == 255)
            return v;
        return static_cast<int>((static_cast<std::int64_t>(v) * 255 + maxValue / 2) / maxValue);
    }
};

unsigned char clamp8(int v) {
    return static_cast<unsigned char>(std::clamp(v, 0, 255));
}

// The colour transforms below work on chunks of a row: a fixed-length loop computes the three
// channels into planar bytes (which the compiler turns into vector code), then they are
// interleaved.
constexpr std::uint32_t kChunk = 64;

struct ChunkPlanes {
    std::int32_t b[kChunk];
    std::int32_t g[kChunk];
    std::int32_t r[kChunk];

    void interleave(unsigned char* out, std::uint32_t n) const {
        for (std::uint32_t i = 0; i < n; ++i, out += 3) {
            out[0] = static_cast<unsigned char>(b[i]);
            out[1] = static_cast<unsigned char>(g[i]);
            out[2] = static_cast<unsigned char>(r[i]);
        }
    }
};

// Inverse reversible colour transform and level shift, as the codec does them.
inline void rctPixel(const OPJ_INT32* y, const OPJ_INT32* db, const OPJ_INT32* dr, ChunkPlanes& c,
                     std::uint32_t i) {
    const int u = db[i] - 32768, v = dr[i] - 32768;
    const int g = y[i] - 32768 - ((u + v) >> 2);
    c.b[i] = std::clamp(u + g + 128, 0, 255);
    c.g[i] = std::clamp(g + 128, 0, 255);
    c.r[i] = std::clamp(v + g + 128, 0, 255);
}

void rctRow(const OPJ_INT32* y, const OPJ_INT32* db, const OPJ_INT32* dr, unsigned char* out,
            std::uint32_t w) {
    ChunkPlanes c;
    for (std::uint32_t x = 0; x < w; x += kChunk, out += 3 * kChunk) {
        const std::uint32_t n = std::min(kChunk, w - x);
        if (n == kChunk) {
            for (std::uint32_t i = 0; i < kChunk; ++i)
                rctPixel(y + x, db + x, dr + x, c, i);
        } else {
            for (std::uint32_t i = 0; i < n; ++i)
                rctPixel(y + x, db + x, dr + x, c, i);
        }
        c.interleave(out, n);
    }
}

// Inverse irreversible colour transform and level shift: R = Y + 1.402 Cr,
// G = Y - 0.34413 Cb - 0.71414 Cr, B = Y + 1.772 Cb, the codec's coefficients. Values are clamped
// before they are truncated, so truncating x + 0.5 rounds.
inline void ictPixel(const OPJ_INT32* y, const OPJ_INT32* cb, const OPJ_INT32* cr, ChunkPlanes& c,
                     std::uint32_t i, float scale) {
    const float yy = static_cast<float>(y[i] - 32768) * scale + 128.5f;
    const float u = static_cast<float>(cb[i] - 32768) * scale;
    const float v = static_cast<float>(cr[i] - 32768) * scale;
    c.b[i] = static_cast<std::int32_t>(std::clamp(yy + 1.772f * u, 0.0f, 255.0f));
    c.g[i] = static_cast<std::int32_t>(std::clamp(yy - 0.34413f * u - 0.71414f * v, 0.0f, 255.0f));
    c.r[i] = static_cast<std::int32_t>(std::clamp(yy + 1.402f * v, 0.0f, 255.0f));
}

void ictRow(const OPJ_INT32* y, const OPJ_INT32* cb, const OPJ_INT32* cr, unsigned char* out,
            std::uint32_t w, int fractionBits) {
    const float scale = 1.0f / static_cast<float>(1 << fractionBits);
    ChunkPlanes c;
    for (std::uint32_t x = 0; x < w; x += kChunk, out += 3 * kChunk) {
        const std::uint32_t n = std::min(kChunk, w - x);
        if (n == kChunk) {
            for (std::uint32_t i = 0; i < kChunk; ++i)
                ictPixel(y + x, cb + x, cr + x, c, i, scale);
        } else {
            for (std::uint32_t i = 0; i < n; ++i)
                ictPixel(y + x, cb + x, cr + x, c, i, scale);
        }
        c.interleave(out, n);
    }
}

class RowWriter {
public:
    RowWriter(const JpxPicture& pic, unsigned char* pixels, std::uint32_t stride)
        : pic_(pic), pixels_(pixels), stride_(stride) {}

    // Builds the per-component index tables; throws std::bad_alloc.
    void prepare() {
        used_ = pic_.plan == ColourPlan::Grey ? 1 : (pic_.plan == ColourPlan::Cmyk ? 4 : 3);
        allDirect_ = true;
        for (std::uint32_t c = 0; c < used_; ++c) {
            comps_[c].prepare(pic_, *pic_.comps[c]);
            allDirect_ = allDirect_ && comps_[c].direct;
        }
    }

    // Picture rows [from, to), written bottom-up.
    void write(std::uint32_t from, std::uint32_t to) const {
        const std::uint32_t w = pic_.width, h = pic_.height;
        for (std::uint32_t y = from; y < to; ++y) {
            unsigned char* out = pixels_ + static_cast<std::size_t>(h - 1 - y) * stride_;
            const std::size_t row = static_cast<std::size_t>(y) * w;
            if (pic_.plan == ColourPlan::Rct) {
                rctRow(comps_[0].data + row, comps_[1].data + row, comps_[2].data + row, out, w);
                continue;
            }
            if (pic_.plan == ColourPlan::Ict) {
                ictRow(comps_[0].data + row, comps_[1].data + row, comps_[2].data + row, out, w,
                       pic_.fractionBits);
                continue;
            }
            if (allDirect_ && pic_.plan == ColourPlan::Rgb) {
                const OPJ_INT32* r = comps_[0].data + row;
                const OPJ_INT32* g = comps_[1].data + row;
                const OPJ_INT32* b = comps_[2].data + row;
                for (std::uint32_t x = 0; x < w; ++x, out += 3) {
                    out[0] = clamp8(b[x]);
                    out[1] = clamp8(g[x]);
                    out[2] = clamp8(r[x]);
                }
                continue;
            }
            if (allDirect_ && pic_.plan == ColourPlan::Grey) {
                const OPJ_INT32* v = comps_[0].data + row;
                for (std::uint32_t x = 0; x < w; ++x, out += 3)
                    out[0] = out[1] = out[2] = clamp8(v[x]);
                continue;
            }
            writeResampled(y, out);
        }
    }

private:
    void writeResampled(std::uint32_t y, unsigned char* out) const {
        std::uint32_t base[4] = {};
        for (std::uint32_t c = 0; c < used_; ++c)
            base[c] = comps_[c].rowBase(y);
        for (std::uint32_t x = 0; x < pic_.width; ++x, out += 3) {
            switch (pic_.plan) {
                case ColourPlan::Grey:
                    out[0] = out[1] = out[2] = static_cast<unsigned char>(comps_[0].at(base[0], x));
                    break;
                case ColourPlan::Rgb:
                    out[0] = static_cast<unsigned char>(comps_[2].at(base[2], x));
                    out[1] = static_cast<unsigned char>(comps_[1].at(base[1], x));
                    out[2] = static_cast<unsigned char>(comps_[0].at(base[0], x));
                    break;
                case ColourPlan::Sycc: {
                    const int yy = comps_[0].at(base[0], x);
                    const int cb = comps_[1].at(base[1], x) - 128;
                    const int cr = comps_[2].at(base[2], x) - 128;
                    // ITU-R BT.601 full range, in 16-bit fixed point.
                    out[2] = clamp8(yy + ((91881 * cr + 32768) >> 16));
                    out[1] = clamp8(yy + ((-22554 * cb - 46802 * cr + 32768) >> 16));
                    out[0] = clamp8(yy + ((116130 * cb + 32768) >> 16));
                    break;
                }
                case ColourPlan::Cmyk: {
                    const int k = 255 - comps_[3].at(base[3], x);
                    out[2] = static_cast<unsigned char>((255 - comps_[0].at(base[0], x)) * k / 255);
                    out[1] = static_cast<unsigned char>((255 - comps_[1].at(base[1], x)) * k / 255);
                    out[0] = static_cast<unsigned char>((255 - comps_[2].at(base[2], x)) * k / 255);
                    break;
                }
                case ColourPlan::Rct:
                case ColourPlan::Ict:
                    break;  // written whole rows above
            }
        }
    }

    const JpxPicture& pic_;
    unsigned char* pixels_;
    std::uint32_t stride_;
    ComponentReader comps_[4];
    std::uint32_t used_ = 0;
    bool allDirect_ = true;
};

// Pictures smaller than this are converted on one thread: handing half to the helper costs more
// than it saves.
constexpr std::uint64_t kSplitPixels = 64 * 1024;

struct RowJob {
    const RowWriter* writer;
    std::uint32_t from;
    std::uint32_t to;
};

void runRowJob(void* arg) {
    const auto* job = static_cast<const RowJob*>(arg);
    job->writer->write(job->from, job->to);
}

}  // namespace

int encodeBMP(unsigned char* out, std::size_t capacity, JpxHandle picture, std::int16_t,
              j2k_extra_stat_s* stat) {
    if (!out || !picture || !picture->image) {
        report(stat, kJpxBadArgument, 0, 0);
        return kJpxBadArgument;
    }
    const std::uint32_t w = picture->width, h = picture->height;
    const auto sw = static_cast<std::int32_t>(w), sh = static_cast<std::int32_t>(h);
    const std::uint64_t fileSize = jpxBmpFileSize(w, h);
    if (fileSize > capacity) {
        report(stat, kJpxCapacityTooSmall, sw, sh);
        return kJpxCapacityTooSmall;
    }
    const std::uint32_t stride = (w * 3u + 3u) & ~3u;
    std::memset(out, 0, 54);
    out[0] = 'B';
    out[1] = 'M';
    le32(out + 2, static_cast<std::uint32_t>(fileSize));
    le32(out + 10, 54);
    unsigned char* info = out + 14;
    le32(info, 40);
    le32(info + 4, w);
    le32(info + 8, h);
    le16(info + 12, 1);   // planes
    le16(info + 14, 24);  // bits per pixel
    le32(info + 20, stride * h);
    unsigned char* pixels = out + 54;
    // Row padding must be zero whatever the buffer held.
    if (stride != w * 3u) {
        for (std::uint32_t y = 0; y < h; ++y)
            std::memset(pixels + static_cast<std::size_t>(y) * stride + w * 3u, 0, stride - w * 3u);
    }
    RowWriter writer(*picture, pixels, stride);
    try {
        writer.prepare();
    } catch (...) {  // the per-row index tables could not be allocated
        report(stat, kJpxOutOfMemory, sw, sh);
        return kJpxOutOfMemory;
    }
    Helper& helper = Helper::instance();
    if (static_cast<std::uint64_t>(w) * h >= kSplitPixels && jpxDecodeThreads() > 1 &&
        helper.claim()) {
        RowJob half{&writer, h / 2, h};
        helper.start(runRowJob, &half);
        writer.write(0, h / 2);
        helper.finish();
    } else {
        writer.write(0, h);
    }
    report(stat, kJpxOk, sw, sh);
    return kJpxOk;
}

void releaseJ2K(JpxHandle picture) {
    delete picture;
}

}  // namespace platform
