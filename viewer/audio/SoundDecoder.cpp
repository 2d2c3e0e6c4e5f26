#include "viewer/audio/SoundDecoder.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/FileSystem.h"

namespace korvex {

namespace {

constexpr int kMaxChannels = 8;
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 384000;

// libsndfile's MP3 reader lets the decoder restart too few frames before a seek target to refill
// the layer III bit reservoir, so the first frames after a seek come out silent. Starting this
// many frames earlier (16 MPEG frames of the largest size) and decoding up to the target gives
// exactly what a read from the start gives.
constexpr std::uint64_t kMpegPrerollFrames = 16 * 1152;

// No MPEG audio stream has a lower bit rate than 8 kbit/s, so a file of N bytes holds at most
// N milliseconds of sound (plus a frame or two of rounding). A header claiming more is not
// believed.
constexpr std::uint64_t kMpegMinBytesPerSecond = 1000;
constexpr std::uint64_t kMpegSlackFrames = 2 * 1152;

std::uint64_t mpegMaxFrames(std::uint64_t fileBytes, int sampleRate) {
    if (fileBytes > (std::uint64_t{1} << 40))  // no product overflow below this
        return UINT64_MAX;
    return fileBytes * static_cast<std::uint64_t>(sampleRate) / kMpegMinBytesPerSecond +
           kMpegSlackFrames;
}

}  // namespace

SoundDecoder::~SoundDecoder() {
    close();
}

bool SoundDecoder::open(const std::string& path) {
    close();
    // Regular files only, opened so that a FIFO in the track's place cannot stall us.
    const int fd = platform::openRegularFile(path);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    SF_INFO info{};
    SNDFILE* f = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (f == nullptr) {
        ::close(fd);
        return false;
    }
    const bool sane = info.channels >= 1 && info.channels <= kMaxChannels &&
                      info.samplerate >= kMinRate && info.samplerate <= kMaxRate &&
                      info.frames > 0 && info.frames != SF_COUNT_MAX && info.seekable;
    file_ = f;
    fd_ = fd;
    if (!sane) {
        close();
        return false;
    }
    sampleRate_ = info.samplerate;
    channels_ = info.channels;
    mpeg_ = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    lengthFrames_ = static_cast<std::uint64_t>(info.frames);
    scratch_.assign(static_cast<std::size_t>(channels_) * 4096, 0.0f);
    if (mpeg_) {
        const std::uint64_t most =
            mpegMaxFrames(static_cast<std::uint64_t>(st.st_size), sampleRate_);
        if (lengthFrames_ > most)
            lengthFrames_ = measureFrames(most);
    }
    // A header alone is not a track: at least the first frame must decode.
    float probe[kMaxChannels];
    if (lengthFrames_ == 0 || sf_seek(file_, 0, SEEK_SET) != 0 ||
        sf_readf_float(file_, probe, 1) != 1 || sf_seek(file_, 0, SEEK_SET) != 0) {
        close();
        return false;
    }
    return true;
}

// Decodes from the start and counts the frames, stopping at `limit`.
std::uint64_t SoundDecoder::measureFrames(std::uint64_t limit) {
    if (sf_seek(file_, 0, SEEK_SET) != 0)
        return 0;
    const std::size_t chunk = scratch_.size() / static_cast<std::size_t>(channels_);
    std::uint64_t count = 0;
    while (count < limit) {
        const auto want = static_cast<sf_count_t>(std::min<std::uint64_t>(limit - count, chunk));
        const sf_count_t got = sf_readf_float(file_, scratch_.data(), want);
        if (got <= 0)
            break;
        count += static_cast<std::uint64_t>(got);
    }
    return count;
}

void SoundDecoder::close() {
    if (file_ != nullptr)
        sf_close(file_);
    file_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    sampleRate_ = 0;
    channels_ = 0;
    mpeg_ = false;
    lengthFrames_ = 0;
}

bool SoundDecoder::seek(std::uint64_t frame) {
    if (file_ == nullptr || frame > lengthFrames_)
        return false;
    if (!mpeg_)
        return sf_seek(file_, static_cast<sf_count_t>(frame), SEEK_SET) >= 0;
    const std::uint64_t from = frame > kMpegPrerollFrames ? frame - kMpegPrerollFrames : 0;
    if (sf_seek(file_, static_cast<sf_count_t>(from), SEEK_SET) < 0)
        return false;
    std::uint64_t left = frame - from;
    const std::size_t chunk = scratch_.size() / static_cast<std::size_t>(channels_);
    while (left > 0) {
        const auto want = static_cast<sf_count_t>(std::min<std::uint64_t>(left, chunk));
        const sf_count_t got = sf_readf_float(file_, scratch_.data(), want);
        // Short of the target: the data ends early (a cut file); reads will simply return 0.
        if (got <= 0)
            break;
        left -= static_cast<std::uint64_t>(got);
    }
    return true;
}

std::size_t SoundDecoder::read(float* out, std::size_t frames) {
    if (file_ == nullptr || frames == 0)
        return 0;
    const sf_count_t got = sf_readf_float(file_, out, static_cast<sf_count_t>(frames));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

}  // namespace korvex
