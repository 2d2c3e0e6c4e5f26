#include "tools/recgen/Encoders.h"

#include <openjpeg.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace korvex::gen {

namespace {

// Both encoders take pictures of any size a test may want, including ones too large for a
// recorder, but not ones whose sample count overflows the libraries' int arithmetic.
constexpr int kMaxEncodeSide = 16384;

bool validPicture(const RawPicture& p) {
    if (p.width <= 0 || p.height <= 0 || p.width > kMaxEncodeSide || p.height > kMaxEncodeSide)
        return false;
    if (p.channels != 1 && p.channels != 3)
        return false;
    const std::size_t expected = static_cast<std::size_t>(p.width) *
                                 static_cast<std::size_t>(p.height) *
                                 static_cast<std::size_t>(p.channels);
    return p.pixels.size() == expected;
}

// One compressor per thread: the generators encode thousands of frames in a row.
struct TjCompressor {
    tjhandle handle = tjInitCompress();
    ~TjCompressor() {
        if (handle)
            tjDestroy(handle);
    }
};

// Small, fast, reproducible generator (xorshift32); never 0 once seeded.
struct Xorshift {
    std::uint32_t state;
    explicit Xorshift(std::uint32_t seed) : state(seed * 2654435761u + 0x9E3779B9u) {
        if (state == 0)
            state = 1;
    }
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

std::uint8_t clampByte(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

RawPicture syntheticPictureImpl(int width, int height, int channels, std::uint32_t seed) {
    RawPicture p;
    if (width <= 0 || height <= 0 || width > kMaxEncodeSide || height > kMaxEncodeSide ||
        (channels != 1 && channels != 3))
        return p;
    p.width = width;
    p.height = height;
    p.channels = channels;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    Xorshift rng(seed);
    const int phase = static_cast<int>(rng.next() % 256);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = rgb.data() + static_cast<std::size_t>(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            const int noise = static_cast<int>(rng.next() % 17) - 8;
            // Diagonal bands give the codecs some mid frequencies besides the gradients.
            const int band = ((x + 2 * y + phase) / 24) % 2 == 0 ? 12 : -12;
            row[3 * x + 0] = clampByte(x * 255 / width + band + noise);
            row[3 * x + 1] = clampByte(y * 255 / height + noise);
            row[3 * x + 2] = clampByte(255 - (x + y) * 255 / (width + height) - band + noise);
        }
    }
    // Text-like blocks: rows of 5x7 glyphs of random strokes on a dark plate.
    const int blocks = 3 + static_cast<int>(rng.next() % 4);
    for (int b = 0; b < blocks; ++b) {
        const int plateW = std::min(width, 40 + static_cast<int>(rng.next() % 160));
        const int plateH = std::min(height, 10 + static_cast<int>(rng.next() % 30));
        const int x0 =
            static_cast<int>(rng.next() % static_cast<std::uint32_t>(width - plateW + 1));
        const int y0 =
            static_cast<int>(rng.next() % static_cast<std::uint32_t>(height - plateH + 1));
        for (int y = y0; y < y0 + plateH; ++y) {
            for (int x = x0; x < x0 + plateW; ++x) {
                std::uint8_t* px = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
                px[0] = px[1] = px[2] = 24;
            }
        }
        for (int gy = y0 + 2; gy + 7 <= y0 + plateH; gy += 10) {
            for (int gx = x0 + 2; gx + 5 <= x0 + plateW; gx += 7) {
                const std::uint32_t glyph = rng.next();  // 35 bits wanted; 32 are plenty
                for (int i = 0; i < 35; ++i) {
                    if (((glyph >> (i % 32)) & 1u) == 0)
                        continue;
                    std::uint8_t* px =
                        rgb.data() +
                        (static_cast<std::size_t>(gy + i / 5) * width + gx + i % 5) * 3;
                    px[0] = px[1] = px[2] = 235;
                }
            }
        }
    }
    if (channels == 3) {
        p.pixels = std::move(rgb);
    } else {
        p.pixels.resize(static_cast<std::size_t>(width) * height);
        for (std::size_t i = 0; i < p.pixels.size(); ++i) {
            const std::uint8_t* px = rgb.data() + i * 3;
            p.pixels[i] = static_cast<std::uint8_t>((77 * px[0] + 150 * px[1] + 29 * px[2]) >> 8);
        }
    }
    return p;
}

std::vector<std::uint8_t> encodeJpegImpl(const RawPicture& picture, int quality) {
    if (!validPicture(picture))
        return {};
    thread_local TjCompressor compressor;
    if (!compressor.handle)
        return {};
    const bool grey = picture.channels == 1;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    // Default flags: baseline Huffman coding with the standard tables, quantisation tables
    // limited to 8 bits, no restart markers.
    const int r = tjCompress2(compressor.handle, picture.pixels.data(), picture.width, 0,
                              picture.height, grey ? TJPF_GRAY : TJPF_RGB, &out, &outSize,
                              grey ? TJSAMP_GRAY : TJSAMP_420, std::clamp(quality, 1, 100), 0);
    std::vector<std::uint8_t> result;
    if (r == 0 && out && outSize > 0)
        result.assign(out, out + outSize);
    tjFree(out);
    return result;
}

struct MemoryOutput {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
};

OPJ_SIZE_T memWrite(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* out = static_cast<MemoryOutput*>(user);
    if (out->pos + size > out->bytes.size())
        out->bytes.resize(out->pos + size);
    std::memcpy(out->bytes.data() + out->pos, buffer, size);
    out->pos += size;
    return size;
}

OPJ_OFF_T memSkip(OPJ_OFF_T bytes, void* user) {
    auto* out = static_cast<MemoryOutput*>(user);
    if (bytes < 0 && static_cast<std::size_t>(-bytes) > out->pos)
        return -1;
    out->pos = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(out->pos) + bytes);
    if (out->pos > out->bytes.size())
        out->bytes.resize(out->pos);
    return bytes;
}

OPJ_BOOL memSeek(OPJ_OFF_T offset, void* user) {
    auto* out = static_cast<MemoryOutput*>(user);
    if (offset < 0)
        return OPJ_FALSE;
    out->pos = static_cast<std::size_t>(offset);
    if (out->pos > out->bytes.size())
        out->bytes.resize(out->pos);
    return OPJ_TRUE;
}

void quiet(const char*, void*) {}

struct EncoderParts {
    opj_image_t* image = nullptr;
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    ~EncoderParts() {
        if (stream)
            opj_stream_destroy(stream);
        if (codec)
            opj_destroy_codec(codec);
        if (image)
            opj_image_destroy(image);
    }
};

std::vector<std::uint8_t> encodeJ2kImpl(const RawPicture& picture, J2kContainer container,
                                        float rate) {
    if (!validPicture(picture))
        return {};
    const int comps = picture.channels;
    const auto w = static_cast<OPJ_UINT32>(picture.width);
    const auto h = static_cast<OPJ_UINT32>(picture.height);

    opj_image_cmptparm_t params[3];
    std::memset(params, 0, sizeof params);
    for (int c = 0; c < comps; ++c) {
        params[c].dx = params[c].dy = 1;
        params[c].w = w;
        params[c].h = h;
        params[c].prec = 8;
        params[c].sgnd = 0;
    }
    EncoderParts parts;
    parts.image = opj_image_create(static_cast<OPJ_UINT32>(comps), params,
                                   comps == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    if (!parts.image)
        return {};
    parts.image->x0 = 0;
    parts.image->y0 = 0;
    parts.image->x1 = w;
    parts.image->y1 = h;
    const std::size_t samples = static_cast<std::size_t>(w) * h;
    const std::uint8_t* src = picture.pixels.data();
    for (int c = 0; c < comps; ++c) {
        OPJ_INT32* dst = parts.image->comps[c].data;
        for (std::size_t i = 0; i < samples; ++i)
            dst[i] = src[i * comps + c];
    }

    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.tcp_numlayers = 1;
    cp.cp_disto_alloc = 1;
    if (rate > 1.0f) {
        cp.tcp_rates[0] = rate;
        cp.irreversible = 1;  // 9/7 wavelet, as lossy recorders use
    } else {
        cp.tcp_rates[0] = 0;  // lossless
    }
    cp.tcp_mct = comps == 3 ? 1 : 0;
    // Each resolution level halves the picture; the smallest level must keep a sample.
    int levels = 1;
    const OPJ_UINT32 shortSide = std::min(w, h);
    while (levels < 6 && (shortSide >> levels) >= 1)
        ++levels;
    cp.numresolution = levels;

    parts.codec =
        opj_create_compress(container == J2kContainer::Jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!parts.codec)
        return {};
    opj_set_info_handler(parts.codec, quiet, nullptr);
    opj_set_warning_handler(parts.codec, quiet, nullptr);
    opj_set_error_handler(parts.codec, quiet, nullptr);
    if (!opj_setup_encoder(parts.codec, &cp, parts.image))
        return {};

    MemoryOutput out;
    out.bytes.reserve(
        static_cast<std::size_t>(static_cast<float>(samples * comps) / std::max(rate, 1.0f)) +
        1024);
    parts.stream = opj_stream_create(64 * 1024, OPJ_FALSE);
    if (!parts.stream)
        return {};
    opj_stream_set_user_data(parts.stream, &out, nullptr);
    opj_stream_set_write_function(parts.stream, memWrite);
    opj_stream_set_skip_function(parts.stream, memSkip);
    opj_stream_set_seek_function(parts.stream, memSeek);

    if (!opj_start_compress(parts.codec, parts.image, parts.stream) ||
        !opj_encode(parts.codec, parts.stream) || !opj_end_compress(parts.codec, parts.stream))
        return {};
    if (out.bytes.size() < 2 || out.bytes[out.bytes.size() - 2] != 0xFF || out.bytes.back() != 0xD9)
        return {};
    return std::move(out.bytes);
}

}  // namespace

// The generators report failure as an empty result, a failed allocation included.
RawPicture syntheticPicture(int width, int height, int channels, std::uint32_t seed) {
    try {
        return syntheticPictureImpl(width, height, channels, seed);
    } catch (...) {
        return {};
    }
}

std::vector<std::uint8_t> encodeJpeg(const RawPicture& picture, int quality) {
    try {
        return encodeJpegImpl(picture, quality);
    } catch (...) {
        return {};
    }
}

std::vector<std::uint8_t> encodeJ2k(const RawPicture& picture, J2kContainer container, float rate) {
    try {
        return encodeJ2kImpl(picture, container, rate);
    } catch (...) {
        return {};
    }
}

}  // namespace korvex::gen
