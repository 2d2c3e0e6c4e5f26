#include "platform/jpxcodec/jpxcodec.h"

#include <openjpeg.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace platform {

namespace {

// How the decoded components become blue-green-red.
enum class ColourPlan { Grey, Rgb, Sycc, Cmyk };

}  // namespace

struct JpxPicture {
    opj_image_t* image = nullptr;
    ColourPlan plan = ColourPlan::Grey;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    ~JpxPicture() {
        if (image)
            opj_image_destroy(image);
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

struct MemoryInput {
    const unsigned char* data;
    std::uint64_t size;
    std::uint64_t pos;  // never beyond size
};

OPJ_SIZE_T memRead(void* buffer, OPJ_SIZE_T bytes, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    if (in->pos >= in->size)
        return static_cast<OPJ_SIZE_T>(-1);
    const std::uint64_t n = std::min<std::uint64_t>(bytes, in->size - in->pos);
    std::memcpy(buffer, in->data + in->pos, static_cast<std::size_t>(n));
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

void dropMessage(const char*, void*) {}

void errorMessage(const char* msg, void*) {
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
    fn(line);
}

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
        // Measured on 704x480 frames (bench/decode): two workers take 0.90x of the single-thread
        // time at 20:1 and 0.71x at 8:1 (the codec's colour transform and level shift stay on one
        // thread), for 15-35% more processor time. Three or four were no faster on two cores,
        // and more threads would compete with playback, so we stop at two.
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

    CodecGuard g;
    g.codec = opj_create_decompress(header.jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!g.codec) {
        report(stat, kJpxOutOfMemory, 0, 0);
        return kJpxOutOfMemory;
    }
    opj_set_info_handler(g.codec, dropMessage, nullptr);
    opj_set_warning_handler(g.codec, dropMessage, nullptr);
    opj_set_error_handler(g.codec, errorMessage, nullptr);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    if (!opj_setup_decoder(g.codec, &params)) {
        report(stat, kJpxDecodeFailed, 0, 0);
        return kJpxDecodeFailed;
    }
    // A cut-off frame shows nothing rather than a half-grey picture.
    opj_decoder_set_strict_mode(g.codec, OPJ_TRUE);
    const int threads = jpxDecodeThreads();
    if (threads > 1)
        opj_codec_set_threads(g.codec, threads);

    MemoryInput in{data, size, 0};
    g.stream = opj_stream_create(std::min(kStreamChunk, size), OPJ_TRUE);
    if (!g.stream) {
        report(stat, kJpxOutOfMemory, 0, 0);
        return kJpxOutOfMemory;
    }
    opj_stream_set_user_data(g.stream, &in, nullptr);
    opj_stream_set_user_data_length(g.stream, size);
    opj_stream_set_read_function(g.stream, memRead);
    opj_stream_set_skip_function(g.stream, memSkip);
    opj_stream_set_seek_function(g.stream, memSeek);

    r = kJpxDecodeFailed;
    if (opj_read_header(g.stream, g.codec, &g.image) && g.image) {
        // The header we checked and the one the codec read must agree (a JP2 file could carry a
        // second code-stream box, or the codec may read the header differently).
        const bool sameSize =
            g.image->x1 > g.image->x0 && g.image->y1 > g.image->y0 &&
            g.image->x1 - g.image->x0 == static_cast<std::uint32_t>(header.width) &&
            g.image->y1 - g.image->y0 == static_cast<std::uint32_t>(header.height);
        if (!sameSize) {
            r = kJpxHeaderRefused;
        } else if (opj_decode(g.codec, g.stream, g.image)) {
            r = kJpxOk;
        }
    }
    if (r != kJpxOk) {
        report(stat, r, header.width, header.height);
        return r;
    }

    ColourPlan plan;
    r = choosePlan(g.image, &plan);
    if (r != kJpxOk) {
        report(stat, r, header.width, header.height);
        return r;
    }
    auto* pic = new (std::nothrow) JpxPicture;
    if (!pic) {
        report(stat, kJpxOutOfMemory, header.width, header.height);
        return kJpxOutOfMemory;
    }
    pic->image = g.image;
    g.image = nullptr;
    pic->plan = plan;
    pic->width = static_cast<std::uint32_t>(header.width);
    pic->height = static_cast<std::uint32_t>(header.height);
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

    void prepare(const opj_image_t* image, const opj_image_comp_t& comp, std::uint32_t width,
                 std::uint32_t height) {
        data = comp.data;
        stride = comp.w;
        offset = comp.sgnd ? (1 << (comp.prec - 1)) : 0;
        maxValue = static_cast<std::int32_t>((1u << comp.prec) - 1u);
        direct = comp.prec == 8 && !comp.sgnd && comp.dx == 1 && comp.dy == 1 && comp.w == width &&
                 comp.h == height;
        // Sample u of the component covers picture columns [u*dx, (u+1)*dx); its first sample
        // is ceil(x0 / dx). Clamping keeps every index inside the component's data.
        const std::uint32_t cx0 = (image->x0 + comp.dx - 1) / comp.dx;
        const std::uint32_t cy0 = (image->y0 + comp.dy - 1) / comp.dy;
        column.resize(width);
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t u = (image->x0 + x) / comp.dx;
            column[x] = std::min(u > cx0 ? u - cx0 : 0u, comp.w - 1);
        }
        rowIndex.resize(height);
        for (std::uint32_t y = 0; y < height; ++y) {
            const std::uint32_t v = (image->y0 + y) / comp.dy;
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

void writeRows(const JpxPicture& pic, unsigned char* pixels, std::uint32_t stride) {
    const opj_image_t* image = pic.image;
    const std::uint32_t w = pic.width, h = pic.height;
    const std::uint32_t used =
        pic.plan == ColourPlan::Grey ? 1 : (pic.plan == ColourPlan::Cmyk ? 4 : 3);
    ComponentReader comps[4];
    bool allDirect = true;
    for (std::uint32_t c = 0; c < used; ++c) {
        comps[c].prepare(image, image->comps[c], w, h);
        allDirect = allDirect && comps[c].direct;
    }
    for (std::uint32_t y = 0; y < h; ++y) {
        unsigned char* out = pixels + static_cast<std::size_t>(h - 1 - y) * stride;
        if (allDirect && pic.plan == ColourPlan::Rgb) {
            const OPJ_INT32* r = comps[0].data + static_cast<std::size_t>(y) * w;
            const OPJ_INT32* g = comps[1].data + static_cast<std::size_t>(y) * w;
            const OPJ_INT32* b = comps[2].data + static_cast<std::size_t>(y) * w;
            for (std::uint32_t x = 0; x < w; ++x, out += 3) {
                out[0] = clamp8(b[x]);
                out[1] = clamp8(g[x]);
                out[2] = clamp8(r[x]);
            }
            continue;
        }
        if (allDirect && pic.plan == ColourPlan::Grey) {
            const OPJ_INT32* v = comps[0].data + static_cast<std::size_t>(y) * w;
            for (std::uint32_t x = 0; x < w; ++x, out += 3)
                out[0] = out[1] = out[2] = clamp8(v[x]);
            continue;
        }
        std::uint32_t base[4] = {};
        for (std::uint32_t c = 0; c < used; ++c)
            base[c] = comps[c].rowBase(y);
        for (std::uint32_t x = 0; x < w; ++x, out += 3) {
            switch (pic.plan) {
                case ColourPlan::Grey:
                    out[0] = out[1] = out[2] = static_cast<unsigned char>(comps[0].at(base[0], x));
                    break;
                case ColourPlan::Rgb:
                    out[0] = static_cast<unsigned char>(comps[2].at(base[2], x));
                    out[1] = static_cast<unsigned char>(comps[1].at(base[1], x));
                    out[2] = static_cast<unsigned char>(comps[0].at(base[0], x));
                    break;
                case ColourPlan::Sycc: {
                    const int yy = comps[0].at(base[0], x);
                    const int cb = comps[1].at(base[1], x) - 128;
                    const int cr = comps[2].at(base[2], x) - 128;
                    // ITU-R BT.601 full range, in 16-bit fixed point.
                    out[2] = clamp8(yy + ((91881 * cr + 32768) >> 16));
                    out[1] = clamp8(yy + ((-22554 * cb - 46802 * cr + 32768) >> 16));
                    out[0] = clamp8(yy + ((116130 * cb + 32768) >> 16));
                    break;
                }
                case ColourPlan::Cmyk: {
                    const int k = 255 - comps[3].at(base[3], x);
                    out[2] = static_cast<unsigned char>((255 - comps[0].at(base[0], x)) * k / 255);
                    out[1] = static_cast<unsigned char>((255 - comps[1].at(base[1], x)) * k / 255);
                    out[0] = static_cast<unsigned char>((255 - comps[2].at(base[2], x)) * k / 255);
                    break;
                }
            }
        }
    }
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
    try {
        writeRows(*picture, pixels, stride);
    } catch (...) {  // the per-row index tables could not be allocated
        report(stat, kJpxOutOfMemory, sw, sh);
        return kJpxOutOfMemory;
    }
    report(stat, kJpxOk, sw, sh);
    return kJpxOk;
}

void releaseJ2K(JpxHandle picture) {
    delete picture;
}

}  // namespace platform
