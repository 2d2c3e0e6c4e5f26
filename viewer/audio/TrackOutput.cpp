#include "viewer/audio/TrackOutput.h"

#include <algorithm>
#include <cmath>

namespace korvex {

namespace {
constexpr std::size_t kScratchFrames = 2048;
constexpr int kBalanceMax = 10000;

// Attenuation of one side for a balance of `hundredthsDb` (0 to 10000); the far end is silence.
float sideGain(int hundredthsDb) {
    if (hundredthsDb >= kBalanceMax)
        return 0.0f;
    return static_cast<float>(std::pow(10.0, -hundredthsDb / 2000.0));
}
}  // namespace

TrackOutput::~TrackOutput() {
    close();
}

bool TrackOutput::open(const std::string& path) {
    close();
    if (!decoder_.open(path))
        return false;
    scratch_.assign(kScratchFrames * static_cast<std::size_t>(decoder_.channels()), 0.0f);
    if (!stream_.open({decoder_.sampleRate(), 2}, this)) {
        decoder_.close();
        return false;
    }
    return true;
}

void TrackOutput::close() {
    // The stream first: after it the device thread no longer reads the decoder.
    stream_.close();
    decoder_.close();
}

bool TrackOutput::seekMs(std::uint32_t ms) {
    return seekFrame(msToFrames(ms));
}

bool TrackOutput::seekFrame(std::uint64_t frame) {
    if (!isOpen())
        return false;
    frame = std::min(frame, lengthFrames());
    platform::AudioStream::SourceLock lock(stream_);
    if (!decoder_.seek(frame))
        return false;
    stream_.restart(frame);
    return true;
}

bool TrackOutput::setBalance(int balance) {
    if (!isOpen())
        return false;
    balance = std::clamp(balance, -kBalanceMax, kBalanceMax);
    platform::AudioStream::SourceLock lock(stream_);
    balance_ = balance;
    gainLeft_ = balance > 0 ? sideGain(balance) : 1.0f;
    gainRight_ = balance < 0 ? sideGain(-balance) : 1.0f;
    return true;
}

std::uint32_t TrackOutput::framesToMs(std::uint64_t frames) const {
    const int rate = decoder_.sampleRate();
    if (rate <= 0)
        return 0;
    const std::uint64_t ms = frames * 1000 / static_cast<std::uint64_t>(rate);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, UINT32_MAX));
}

std::uint64_t TrackOutput::msToFrames(std::uint32_t ms) const {
    const auto rate = static_cast<std::uint64_t>(std::max(decoder_.sampleRate(), 0));
    return (static_cast<std::uint64_t>(ms) * rate + 999) / 1000;
}

std::size_t TrackOutput::pullFrames(float* out, std::size_t frames) {
    const auto inChannels = static_cast<std::size_t>(decoder_.channels());
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t want = std::min(frames - done, kScratchFrames);
        const std::size_t got = decoder_.read(scratch_.data(), want);
        for (std::size_t i = 0; i < got; ++i) {
            const float* in = scratch_.data() + i * inChannels;
            // A mono track feeds both sides; further channels beyond two are not played.
            const float left = in[0];
            const float right = inChannels > 1 ? in[1] : in[0];
            out[(done + i) * 2] = left * gainLeft_;
            out[(done + i) * 2 + 1] = right * gainRight_;
        }
        done += got;
        if (got < want)
            break;
    }
    return done;
}

}  // namespace korvex
