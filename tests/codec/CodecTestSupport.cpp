#include "tests/codec/CodecTestSupport.h"

#include <openjpeg.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <jpeglib.h>
#include <unistd.h>

namespace codectest {

const std::uint8_t* dibPixel(const korvex::DibBlock& block, const korvex::DibInfo& info, int x,
                             int y) {
    const std::size_t row = static_cast<std::size_t>(info.height - 1 - y);
    return block.data() + korvex::kDibPixelOffset + row * info.stride +
           static_cast<std::size_t>(x) * (info.bitCount / 8);
}

double meanAbsError(const korvex::DibBlock& block, const korvex::gen::RawPicture& source) {
    korvex::DibInfo info;
    if (!korvex::readDibInfo(block, info) || info.width != source.width ||
        info.height != source.height)
        return 1e9;
    double sum = 0;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            const std::uint8_t* bgr = dibPixel(block, info, x, y);
            const std::uint8_t* src =
                source.pixels.data() +
                (static_cast<std::size_t>(y) * source.width + x) * source.channels;
            for (int c = 0; c < 3; ++c) {
                const int expected = source.channels == 1 ? src[0] : src[2 - c];
                sum += std::abs(bgr[c] - expected);
            }
        }
    }
    return sum / (3.0 * source.width * source.height);
}

namespace {

std::vector<std::uint8_t> compressJpeg(int width, int height, int components, J_COLOR_SPACE in,
                                       const std::vector<std::uint8_t>& pixels,
                                       void (*tweak)(jpeg_compress_struct&, void*), void* ctx) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = components;
    c.in_color_space = in;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    if (tweak)
        tweak(c, ctx);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            pixels.data() + static_cast<std::size_t>(c.next_scanline) * width * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<std::uint8_t> result(out, out + outSize);
    std::free(out);
    return result;
}

}  // namespace

std::vector<std::uint8_t> fourComponentJpeg(int width, int height, const std::uint8_t top[4],
                                            const std::uint8_t bottom[4], bool adobeMarker,
                                            bool ycck) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::memcpy(&pixels[(static_cast<std::size_t>(y) * width + x) * 4],
                        y < height / 2 ? top : bottom, 4);
    struct Choice {
        bool adobe, ycck;
    } choice{adobeMarker, ycck};
    return compressJpeg(
        width, height, 4, JCS_CMYK, pixels,
        [](jpeg_compress_struct& c, void* ctx) {
            auto* ch = static_cast<Choice*>(ctx);
            if (ch->ycck)
                jpeg_set_colorspace(&c, JCS_YCCK);
            c.write_Adobe_marker = ch->adobe ? TRUE : FALSE;
        },
        &choice);
}

std::vector<std::uint8_t> otherComponentJpeg(int width, int height, int components, int value) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * components,
                                     static_cast<std::uint8_t>(value));
    return compressJpeg(width, height, components, JCS_UNKNOWN, pixels, nullptr, nullptr);
}

namespace {

struct Sink {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
};

OPJ_SIZE_T sinkWrite(void* buf, OPJ_SIZE_T n, void* user) {
    auto* s = static_cast<Sink*>(user);
    if (s->pos + n > s->bytes.size())
        s->bytes.resize(s->pos + n);
    std::memcpy(s->bytes.data() + s->pos, buf, n);
    s->pos += n;
    return n;
}
OPJ_OFF_T sinkSkip(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<Sink*>(user);
    s->pos = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(s->pos) + n);
    if (s->pos > s->bytes.size())
        s->bytes.resize(s->pos);
    return n;
}
OPJ_BOOL sinkSeek(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<Sink*>(user);
    s->pos = static_cast<std::size_t>(n);
    if (s->pos > s->bytes.size())
        s->bytes.resize(s->pos);
    return OPJ_TRUE;
}
void quiet(const char*, void*) {}

// Encodes `image` (which it destroys) with `cp`; throws when the codec fails.
std::vector<std::uint8_t> encodeImage(opj_image_t* image, opj_cparameters_t& cp, bool jp2) {
    opj_codec_t* codec = opj_create_compress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    opj_set_error_handler(codec, quiet, nullptr);
    opj_set_warning_handler(codec, quiet, nullptr);
    opj_set_info_handler(codec, quiet, nullptr);
    Sink sink;
    opj_stream_t* stream = opj_stream_create(64 * 1024, OPJ_FALSE);
    opj_stream_set_user_data(stream, &sink, nullptr);
    opj_stream_set_write_function(stream, sinkWrite);
    opj_stream_set_skip_function(stream, sinkSkip);
    opj_stream_set_seek_function(stream, sinkSeek);
    const bool ok = opj_setup_encoder(codec, &cp, image) &&
                    opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                    opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok)
        throw std::runtime_error("test JPEG 2000 encode failed");
    return sink.bytes;
}

}  // namespace

std::vector<std::uint8_t> customJ2k(int width, int height, const std::vector<J2kComponent>& comps,
                                    J2kColour colour, bool jp2,
                                    int (*fn)(int component, int x, int y)) {
    std::vector<opj_image_cmptparm_t> params(comps.size());
    for (std::size_t c = 0; c < comps.size(); ++c) {
        std::memset(&params[c], 0, sizeof params[c]);
        params[c].dx = static_cast<OPJ_UINT32>(comps[c].dx);
        params[c].dy = static_cast<OPJ_UINT32>(comps[c].dy);
        params[c].w = static_cast<OPJ_UINT32>((width + comps[c].dx - 1) / comps[c].dx);
        params[c].h = static_cast<OPJ_UINT32>((height + comps[c].dy - 1) / comps[c].dy);
        params[c].prec = static_cast<OPJ_UINT32>(comps[c].precision);
        params[c].sgnd = comps[c].isSigned ? 1 : 0;
    }
    const OPJ_COLOR_SPACE space = colour == J2kColour::Grey   ? OPJ_CLRSPC_GRAY
                                  : colour == J2kColour::Sycc ? OPJ_CLRSPC_SYCC
                                  : colour == J2kColour::Cmyk ? OPJ_CLRSPC_CMYK
                                                              : OPJ_CLRSPC_SRGB;
    opj_image_t* image =
        opj_image_create(static_cast<OPJ_UINT32>(comps.size()), params.data(), space);
    image->x1 = static_cast<OPJ_UINT32>(width);
    image->y1 = static_cast<OPJ_UINT32>(height);
    for (std::size_t c = 0; c < comps.size(); ++c) {
        const opj_image_comp_t& comp = image->comps[c];
        for (OPJ_UINT32 y = 0; y < comp.h; ++y)
            for (OPJ_UINT32 x = 0; x < comp.w; ++x)
                comp.data[y * comp.w + x] =
                    fn(static_cast<int>(c), static_cast<int>(x), static_cast<int>(y));
    }
    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.tcp_numlayers = 1;
    cp.tcp_rates[0] = 0;
    cp.cp_disto_alloc = 1;
    cp.numresolution = 3;
    cp.tcp_mct = 0;
    std::vector<std::uint8_t> bytes = encodeImage(image, cp, jp2);
    if (colour == J2kColour::Cmyk && jp2) {
        // The encoder has no CMYK colour box; declare it ourselves (enumerated colour space 12).
        const std::uint8_t colr[] = {'c', 'o', 'l', 'r'};
        auto at = std::search(bytes.begin(), bytes.end(), colr, colr + 4);
        if (at == bytes.end())
            throw std::runtime_error("no colour box");
        putBe32(bytes, static_cast<std::size_t>(at - bytes.begin()) + 7, 12);
    }
    return bytes;
}

std::vector<std::uint8_t> tunedJ2k(const korvex::gen::RawPicture& picture,
                                   const J2kTuning& tuning) {
    const int comps = picture.channels;
    opj_image_cmptparm_t params[3];
    std::memset(params, 0, sizeof params);
    for (int c = 0; c < comps; ++c) {
        params[c].dx = params[c].dy = 1;
        params[c].w = static_cast<OPJ_UINT32>(picture.width);
        params[c].h = static_cast<OPJ_UINT32>(picture.height);
        params[c].prec = 8;
    }
    opj_image_t* image = opj_image_create(static_cast<OPJ_UINT32>(comps), params,
                                          comps == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    image->x1 = static_cast<OPJ_UINT32>(picture.width);
    image->y1 = static_cast<OPJ_UINT32>(picture.height);
    const std::size_t samples = static_cast<std::size_t>(picture.width) * picture.height;
    for (int c = 0; c < comps; ++c)
        for (std::size_t i = 0; i < samples; ++i)
            image->comps[c].data[i] = picture.pixels[i * comps + c];
    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.tcp_numlayers = 1;
    cp.cp_disto_alloc = 1;
    cp.tcp_rates[0] = tuning.rate > 1.0f ? tuning.rate : 0;
    cp.irreversible = tuning.rate > 1.0f ? 1 : 0;
    cp.tcp_mct = comps == 3 && tuning.colourTransform ? 1 : 0;
    const int side = tuning.tileSide > 0
                         ? std::min({tuning.tileSide, picture.width, picture.height})
                         : std::min(picture.width, picture.height);
    int levels = 1;
    while (levels < 6 && (side >> levels) >= 1)
        ++levels;
    cp.numresolution = levels;
    if (tuning.tileSide > 0) {
        cp.tile_size_on = OPJ_TRUE;
        cp.cp_tdx = cp.cp_tdy = tuning.tileSide;
    }
    if (tuning.tilePartsPerResolution) {
        cp.tp_on = 1;
        cp.tp_flag = 'R';
    }
    return encodeImage(image, cp, tuning.jp2);
}

korvex::gen::RawPicture saturatedPicture(int width, int height) {
    static const std::uint8_t colours[][3] = {{255, 0, 0},   {0, 0, 255},   {255, 255, 255},
                                              {0, 255, 0},   {0, 0, 0},     {255, 0, 255},
                                              {0, 255, 255}, {255, 255, 0}, {0, 0, 255}};
    korvex::gen::RawPicture p;
    p.width = width;
    p.height = height;
    p.channels = 3;
    p.pixels.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* c = colours[((x / 5) + (y / 7) * 3) % 9];
            std::memcpy(&p.pixels[(static_cast<std::size_t>(y) * width + x) * 3], c, 3);
        }
    return p;
}

namespace {

struct Source {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos = 0;
};
OPJ_SIZE_T sourceRead(void* buf, OPJ_SIZE_T n, void* user) {
    auto* s = static_cast<Source*>(user);
    if (s->pos >= s->bytes->size())
        return static_cast<OPJ_SIZE_T>(-1);
    n = std::min(n, s->bytes->size() - s->pos);
    std::memcpy(buf, s->bytes->data() + s->pos, n);
    s->pos += n;
    return n;
}
OPJ_OFF_T sourceSkip(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<Source*>(user);
    s->pos = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(s->pos) + n);
    return n;
}
OPJ_BOOL sourceSeek(OPJ_OFF_T n, void* user) {
    static_cast<Source*>(user)->pos = static_cast<std::size_t>(n);
    return OPJ_TRUE;
}

}  // namespace

std::vector<std::uint8_t> plainDecodeBgr(const std::vector<std::uint8_t>& file) {
    const bool jp2 = file.size() > 4 && file[0] == 0 && file[3] == 0x0C;
    opj_codec_t* codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    opj_set_error_handler(codec, quiet, nullptr);
    opj_set_warning_handler(codec, quiet, nullptr);
    opj_set_info_handler(codec, quiet, nullptr);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_setup_decoder(codec, &params);
    Source source{&file};
    opj_stream_t* stream = opj_stream_create(64 * 1024, OPJ_TRUE);
    opj_stream_set_user_data(stream, &source, nullptr);
    opj_stream_set_user_data_length(stream, file.size());
    opj_stream_set_read_function(stream, sourceRead);
    opj_stream_set_skip_function(stream, sourceSkip);
    opj_stream_set_seek_function(stream, sourceSeek);
    opj_image_t* image = nullptr;
    std::vector<std::uint8_t> bgr;
    if (opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) &&
        (image->numcomps == 1 || image->numcomps == 3)) {
        const std::uint32_t w = image->x1 - image->x0, h = image->y1 - image->y0;
        bool plain = true;
        for (std::uint32_t c = 0; c < image->numcomps; ++c) {
            const opj_image_comp_t& comp = image->comps[c];
            plain = plain && comp.prec == 8 && !comp.sgnd && comp.w == w && comp.h == h;
        }
        if (plain) {
            bgr.resize(static_cast<std::size_t>(w) * h * 3);
            for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i)
                for (int c = 0; c < 3; ++c) {
                    const int comp = image->numcomps == 1 ? 0 : 2 - c;
                    bgr[i * 3 + c] =
                        static_cast<std::uint8_t>(std::clamp(image->comps[comp].data[i], 0, 255));
                }
        }
    }
    if (image)
        opj_image_destroy(image);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    return bgr;
}

long sizOffset(const std::vector<std::uint8_t>& file) {
    for (std::size_t i = 0; i + 3 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0x4F && file[i + 2] == 0xFF && file[i + 3] == 0x51)
            return static_cast<long>(i + 2);
    return -1;
}

long sofOffset(const std::vector<std::uint8_t>& file) {
    std::size_t i = 2;  // after SOI
    while (i + 4 <= file.size() && file[i] == 0xFF) {
        if (file[i + 1] >= 0xC0 && file[i + 1] <= 0xC2)
            return static_cast<long>(i);
        i += 2 + ((static_cast<std::size_t>(file[i + 2]) << 8) | file[i + 3]);
    }
    return -1;
}

void putBe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<std::uint8_t>(v >> 8);
    b.at(at + 1) = static_cast<std::uint8_t>(v);
}

void putBe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    putBe16(b, at, v >> 16);
    putBe16(b, at + 2, v & 0xFFFF);
}

}  // namespace codectest
