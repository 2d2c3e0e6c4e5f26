#include "tools/verify/Thumbnail.h"

#include <turbojpeg.h>

#include <algorithm>
#include <memory>

namespace korvex::verify {

std::vector<std::uint8_t> makeThumbnail(const DibBlock& picture, int maxWidth, int maxHeight,
                                        int quality) {
    DibInfo info;
    if (!readDibInfo(picture, info) || maxWidth <= 0 || maxHeight <= 0)
        return {};
    const int w = info.width, h = info.height;
    // The scale that fits both bounds; the aspect stays.
    const double scale =
        std::min({1.0, static_cast<double>(maxWidth) / w, static_cast<double>(maxHeight) / h});
    const int tw = std::max(1, static_cast<int>(w * scale + 0.5));
    const int th = std::max(1, static_cast<int>(h * scale + 0.5));
    const int channels = info.bitCount / 8;
    const std::uint8_t* pixels = picture.data() + kDibPixelOffset;

    // Each target pixel averages the source pixels of its box; rows turn top-down.
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(tw) * th * 3);
    for (int ty = 0; ty < th; ++ty) {
        const int y0 = static_cast<int>(static_cast<long long>(ty) * h / th);
        const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<long long>(ty + 1) * h / th));
        for (int tx = 0; tx < tw; ++tx) {
            const int x0 = static_cast<int>(static_cast<long long>(tx) * w / tw);
            const int x1 =
                std::max(x0 + 1, static_cast<int>(static_cast<long long>(tx + 1) * w / tw));
            unsigned sum[3] = {0, 0, 0};
            for (int y = y0; y < y1; ++y) {
                const std::uint8_t* row =
                    pixels + static_cast<std::size_t>(h - 1 - y) * info.stride;
                for (int x = x0; x < x1; ++x) {
                    const std::uint8_t* p = row + static_cast<std::size_t>(x) * channels;
                    sum[0] += p[2];  // blue-green-red in the block
                    sum[1] += p[1];
                    sum[2] += p[0];
                }
            }
            const unsigned n = static_cast<unsigned>((y1 - y0) * (x1 - x0));
            std::uint8_t* out = &rgb[(static_cast<std::size_t>(ty) * tw + tx) * 3];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        }
    }

    const std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitCompress(), tjDestroy);
    if (!tj)
        return {};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj.get(), rgb.data(), tw, tw * 3, th, TJPF_RGB, &jpeg, &size, TJSAMP_420,
                    quality, 0) != 0) {
        tjFree(jpeg);
        return {};
    }
    std::vector<std::uint8_t> out(jpeg, jpeg + size);
    tjFree(jpeg);
    return out;
}

}  // namespace korvex::verify
