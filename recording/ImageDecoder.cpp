#include "recording/ImageDecoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ijl/JpegLibrary.h"
#include "platform/jpxcodec/jpxcodec.h"

namespace korvex {

static_assert(kMaxFrameWidth == platform::kJpxMaxWidth &&
                  kMaxFrameHeight == platform::kJpxMaxHeight,
              "the codec must refuse what the viewer refuses");
static_assert(kMaxFrameWidth == platform::kJpegMaxWidth &&
                  kMaxFrameHeight == platform::kJpegMaxHeight,
              "the JPEG library must refuse what the viewer refuses");
static_assert(kMaxFrameFileBytes == platform::kJpegMaxFileBytes,
              "a frame read from memory must be bounded as one read from its file");

namespace {

constexpr std::size_t kBmpFileHeaderSize = 14;
constexpr std::size_t kBmpPixelOffset = 54;

// Releases the properties block on every way out of a decode.
struct PropertiesGuard {
    platform::JpegProperties* props;
    ~PropertiesGuard() { platform::jpegFree(props); }
};

// The four-channel output: red and blue swapped, colour premultiplied by alpha.
void swapAndPremultiply(std::uint8_t* pixels, std::size_t stride, std::size_t width,
                        std::size_t height) {
    for (std::size_t y = 0; y < height; ++y) {
        std::uint8_t* p = pixels + y * stride;
        for (std::size_t x = 0; x < width; ++x, p += 4) {
            const unsigned alpha = p[3];
            const unsigned red = p[0];
            p[0] = static_cast<std::uint8_t>((p[2] * alpha + 1) >> 8);
            p[1] = static_cast<std::uint8_t>((p[1] * alpha + 1) >> 8);
            p[2] = static_cast<std::uint8_t>((red * alpha + 1) >> 8);
        }
    }
}

DibBlock decodeJpeg(platform::JpegProperties& props, std::size_t* outSize, PictureSize* outPicture,
                    JpegPixels pixels) {
    using platform::JpegColor;
    if (outSize)
        *outSize = 0;
    PropertiesGuard guard{&props};
    if (platform::jpegInit(&props) != 0)
        return {};
    if (platform::jpegRead(&props, platform::kJpegReadParams) != 0)
        return {};

    int channels = 0;
    JpegColor colour = JpegColor::Unknown;
    switch (props.jpegChannels) {
        case 1:
        case 3:
            channels = pixels == JpegPixels::Bgrx32 ? 4 : 3;
            colour = JpegColor::Bgr;
            break;
        case 4:
            channels = 4;
            colour = JpegColor::RgbaFlashPix;
            break;
        default:
            // A block of another channel count would carry a 24-bit header over rows of a
            // different width; no consumer can read that, so such files decode to nothing.
            return {};
    }
    const int width = props.jpegWidth, height = props.jpegHeight;
    if (width <= 0 || height <= 0 || width > kMaxFrameWidth || height > kMaxFrameHeight)
        return {};

    const std::uint32_t stride =
        dibStride(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(channels));
    const std::size_t pixelBytes = static_cast<std::size_t>(stride) * height;
    DibBlock block = DibBlock::allocate(kDibPixelOffset + pixelBytes);
    if (!block)
        return {};
    std::uint8_t* base = block.lock();
    writeBitmapInfoHeader(base, width, height, static_cast<std::uint16_t>(channels * 8));
    if (outPicture)
        *outPicture = PictureSize{width, height};

    props.dibWidth = width;
    props.dibHeight = height;
    props.dibChannels = channels;
    props.dibColor = colour;
    props.dibPadBytes = static_cast<int>(stride) - channels * width;
    props.dibBytes = base + kDibPixelOffset;
    props.dibBufferSize = pixelBytes;
    // The four-channel rows stay top row first, as that path has always left them.
    props.dibBottomUp = colour == JpegColor::Bgr;
    if (platform::jpegRead(&props, platform::kJpegReadWhole) != 0)
        return {};

    if (colour != JpegColor::Bgr) {
        swapAndPremultiply(base + kDibPixelOffset, stride, static_cast<std::size_t>(width),
                           static_cast<std::size_t>(height));
    }
    block.unlock();
    if (outSize)
        *outSize = block.size();
    return block;
}

// Nothing leaves the decoders as an exception: a failed allocation in a container is "none" like
// every other failure.
template <class Fn>
DibBlock noThrow(Fn&& fn) {
    try {
        return fn();
    } catch (...) {
        return {};
    }
}

}  // namespace

DibBlock decodeJpegFile(const std::string& path, std::size_t* outSize, PictureSize* outPicture) {
    if (outSize)
        *outSize = 0;
    return noThrow([&] {
        platform::JpegProperties props{};
        props.fileName = path.c_str();
        return decodeJpeg(props, outSize, outPicture, JpegPixels::Bgr24);
    });
}

DibBlock decodeJpegBytes(const std::uint8_t* data, std::size_t size, std::size_t* outSize,
                         PictureSize* outPicture, JpegPixels pixels) {
    if (outSize)
        *outSize = 0;
    if (!data || size == 0)
        return {};
    return noThrow([&] {
        platform::JpegProperties props{};
        props.jpegBytes = data;
        props.jpegSize = size;
        return decodeJpeg(props, outSize, outPicture, pixels);
    });
}

DibBlock decodeJ2kBytesToBmp(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0)
        return {};
    // A picture whose BMP cannot fit the block would fail in encodeBMP after a full decode; the
    // header alone tells us so.
    platform::JpxHeaderInfo header;
    if (platform::readJ2KHeader(data, size, &header) != platform::kJpxOk)
        return {};
    if (platform::jpxBmpFileSize(static_cast<std::uint32_t>(header.width),
                                 static_cast<std::uint32_t>(header.height)) > kJ2kBlockCapacity)
        return {};

    DibBlock block = DibBlock::allocate(kJ2kBlockCapacity);
    if (!block)
        return {};
    std::int32_t outputs[3] = {0, 0, 0};
    platform::j2k_extra_stat_s stat;
    stat.width = &outputs[0];
    stat.height = &outputs[1];
    stat.detail = &outputs[2];
    platform::JpxHandle picture = nullptr;
    const bool ok = platform::decodeJ2K(data, size, &picture, 0, &stat) == 0 &&
                    platform::encodeBMP(block.lock(), kJ2kBlockCapacity, picture, 0, &stat) == 0;
    platform::releaseJ2K(picture);
    block.unlock();
    if (!ok)
        return {};
    return block;
}

DibBlock decodeJ2kBytes(const std::uint8_t* data, std::size_t size) {
    DibBlock block = decodeJ2kBytesToBmp(data, size);
    if (!block)
        return {};
    // BMP file to DibBlock: the info header from 14 to 0, the pixels from 54 to 44. Only the
    // picture's own bytes move (the rest of the block is zero either way), and the 10 bytes they
    // vacate at the end are cleared.
    std::uint8_t* p = block.lock();
    const std::uint32_t fileSize = static_cast<std::uint32_t>(p[2]) | (p[3] << 8) |
                                   (static_cast<std::uint32_t>(p[4]) << 16) |
                                   (static_cast<std::uint32_t>(p[5]) << 24);
    if (fileSize < kBmpPixelOffset || fileSize > kJ2kBlockCapacity)
        return {};
    const std::size_t pixelBytes = fileSize - kBmpPixelOffset;
    std::memmove(p, p + kBmpFileHeaderSize, kDibHeaderSize);
    std::memset(p + kDibHeaderSize, 0, kDibPixelOffset - kDibHeaderSize);
    std::memmove(p + kDibPixelOffset, p + kBmpPixelOffset, pixelBytes);
    std::memset(p + kDibPixelOffset + pixelBytes, 0, kBmpPixelOffset - kDibPixelOffset);
    block.unlock();
    return block;
}

DibBlock decodeJ2kFile(const std::string& path, std::size_t* outSize) {
    if (outSize)
        *outSize = 0;
    std::vector<unsigned char> file;
    if (!platform::readWholeFile(path, file, kMaxFrameFileBytes) || file.empty())
        return {};
    DibBlock block = decodeJ2kBytes(file.data(), file.size());
    if (block && outSize)
        *outSize = kJ2kBlockCapacity;
    return block;
}

DibBlock decodeFrameBytes(std::string_view extension, const std::uint8_t* data, std::size_t size,
                          std::size_t* outSize, JpegPixels pixels) {
    if (outSize)
        *outSize = 0;
    if (size > static_cast<unsigned long long>(kMaxFrameFileBytes))
        return {};
    if (platform::equalsNoCase(extension, "jpg"))
        return decodeJpegBytes(data, size, outSize, nullptr, pixels);
    if (!platform::equalsNoCase(extension, "jp2"))
        return {};
    DibBlock block = decodeJ2kBytes(data, size);
    if (block && outSize)
        *outSize = kJ2kBlockCapacity;
    return block;
}

DibBlock decodeJ2kFileToBmp(const std::string& path) {
    std::vector<unsigned char> file;
    if (!platform::readWholeFile(path, file, kMaxFrameFileBytes) || file.empty())
        return {};
    return decodeJ2kBytesToBmp(file.data(), file.size());
}

}  // namespace korvex
