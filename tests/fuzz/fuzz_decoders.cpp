// Both frame decoders on arbitrary bytes. The first input byte chooses the decoder: JPEG, JPEG 2000
// as it stands, or JPEG 2000 behind a JP2 signature box so that the fuzzer reaches the box walk
// sooner. Whatever decodes must be a well-formed block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "recording/DibBlock.h"
#include "recording/ImageDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static constexpr std::uint8_t kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 'j',  'P',
                                                       ' ',  ' ',  0x0D, 0x0A, 0x87, 0x0A};
    const std::uint8_t mode = data[0] % 3;
    ++data;
    --size;
    // An exactly sized copy, so that the sanitizer catches a read one past the end.
    std::vector<std::uint8_t> file;
    if (mode == 2)
        file.assign(kJp2Signature, kJp2Signature + sizeof kJp2Signature);
    file.insert(file.end(), data, data + size);
    file.shrink_to_fit();
    if (file.empty())
        return 0;

    korvex::DibBlock block = mode == 0 ? korvex::decodeJpegBytes(file.data(), file.size())
                                       : korvex::decodeJ2kBytes(file.data(), file.size());
    if (block) {
        korvex::DibInfo info;
        if (!korvex::readDibInfo(block, info))
            std::abort();
    }
    return 0;
}
