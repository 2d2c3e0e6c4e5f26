// Authenticity check of both variants on arbitrary bytes. The first input byte chooses whether
// the rest is taken as it stands or behind a valid JP2 header or JPEG start marker, so that the
// fuzzer spends its time past the signature checks.
#include "recording/AuthenticityCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static constexpr std::uint8_t kJp2Head[32] = {
        0x00, 0x00, 0x00, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A, 0x00, 0x00, 0x00, 0x14,
        'f',  't',  'y',  'p',  'j', 'p', '2', ' ', 0x00, 0x00, 0x00, 0x00, 'j',  'p',  '2',  ' '};
    static constexpr std::uint8_t kSoi[2] = {0xFF, 0xD8};
    const std::uint8_t mode = data[0] % 3;
    ++data;
    --size;
    std::vector<std::uint8_t> file;
    if (mode == 1)
        file.assign(kJp2Head, kJp2Head + sizeof kJp2Head);
    if (mode == 2)
        file.assign(kSoi, kSoi + sizeof kSoi);
    file.insert(file.end(), data, data + size);
    // An exactly sized block, so that the sanitizer catches a read one past the end.
    std::vector<std::uint8_t> exact(file.begin(), file.end());
    exact.shrink_to_fit();

    const std::span<const std::uint8_t> bytes(exact.data(), exact.size());
    for (const auto variant : {korvex::CheckVariant::Jpeg, korvex::CheckVariant::Jpeg2000}) {
        korvex::CheckResult result;
        const bool ran = korvex::checkBytes(bytes, variant, result);
        // Flags are three bits; a frame without a valid time never reports one; a check that did
        // not run reports nothing.
        if (result.flags < 0 || result.flags > 7)
            __builtin_trap();
        if ((result.flags & korvex::kNoValidTime) != 0 && result.time != 0)
            __builtin_trap();
        if (!ran && (result.flags != 0 || result.time != 0 || result.offsetMs != 0)) {
            __builtin_trap();
        }
    }
    return 0;
}
