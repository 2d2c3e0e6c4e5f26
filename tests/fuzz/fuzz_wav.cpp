// The WAV clip reader on arbitrary bytes, through a real (in-memory) file so that the open, the
// size bound and the read loop are covered as well as the chunk walk.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "control/buffers/WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("fuzz_wav", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        return 0;
    }
    picvox::WavClip clip;
    const bool read = picvox::ReadWavFile(clip, path);
    picvox::WavClip parsed;
    if (read != picvox::ParseWavClip(parsed, data, size) || clip.data != parsed.data ||
        clip.format != parsed.format) {
        __builtin_trap();  // the file and the memory walk must agree
    }
    if (!read) {
        if (!clip.format.empty() || !clip.data.empty() || clip.dataBytes != 0)
            __builtin_trap();
        return 0;
    }
    if (clip.dataBytes == 0 || clip.data.size() != clip.dataBytes || clip.dataBytes > size ||
        clip.fmtBytes < 16 || clip.format.size() < 18 ||
        clip.formatTag() != picvox::kWavFormatPcm || clip.avgBytesPerSec() == 0 ||
        clip.durationMs != picvox::PlayTimeMs(clip.dataBytes, clip.avgBytesPerSec())) {
        __builtin_trap();
    }
    // Whatever was accepted makes a header that reads back as the same format.
    const auto header = picvox::MakeWavHeader(clip, clip.dataBytes);
    if (header.size() != picvox::WavHeaderBytes(clip) || header.size() < 44)
        __builtin_trap();
    std::basic_string<std::uint8_t> file(header.begin(), header.end());
    file.append(clip.data.begin(), clip.data.end());
    picvox::WavClip back;
    if (!picvox::ParseWavClip(back, file.data(), file.size()) || back.data != clip.data ||
        back.avgBytesPerSec() != clip.avgBytesPerSec()) {
        __builtin_trap();
    }
    return 0;
}
