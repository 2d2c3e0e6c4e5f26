#include "platform/audio/LinearResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {

namespace {
// Largest block pulled from the source at once (frames).
constexpr std::size_t kPullBlockFrames = 4096;
}  // namespace

LinearResampler::LinearResampler(int channels)
    : channels_(std::clamp(channels, 1, 16)),
      cur_(static_cast<std::size_t>(channels_)),
      next_(static_cast<std::size_t>(channels_)),
      pending_(kPullBlockFrames * static_cast<std::size_t>(channels_)) {}

void LinearResampler::reset() {
    frac_ = 0.0;
    consumed_ = 0;
    ended_ = false;
    skip_ = 0;
    fetched_ = 0;
    curValid_ = false;
    nextValid_ = false;
    pendingPos_ = 0;
    pendingFrames_ = 0;
    sourceDry_ = false;
}

void LinearResampler::setStep(double sourceFramesPerOutputFrame) {
    // A zero or negative step would stall the cursor for ever; keep it within sane bounds.
    if (!std::isfinite(sourceFramesPerOutputFrame))
        return;
    step_ = std::clamp(sourceFramesPerOutputFrame, 1.0 / 64.0, 64.0);
}

bool LinearResampler::fetch(float* frame, const Pull& pull, std::size_t framesWanted) {
    if (pendingPos_ >= pendingFrames_) {
        if (sourceDry_)
            return false;
        std::size_t want = std::clamp<std::size_t>(framesWanted, 1, kPullBlockFrames);
        std::size_t got = pull ? pull(pending_.data(), want) : 0;
        got = std::min(got, want);
        if (got < want)
            sourceDry_ = true;
        pendingPos_ = 0;
        pendingFrames_ = got;
        if (got == 0)
            return false;
    }
    const auto ch = static_cast<std::size_t>(channels_);
    std::memcpy(frame, pending_.data() + pendingPos_ * ch, ch * sizeof(float));
    ++pendingPos_;
    ++fetched_;
    return true;
}

std::size_t LinearResampler::process(float* out, std::size_t outFrames, const Pull& pull) {
    const auto ch = static_cast<std::size_t>(channels_);
    std::size_t produced = 0;
    for (std::size_t i = 0; i < outFrames && !ended_; ++i) {
        // Ask the source for about as many frames as the rest of this block will use, so that a
        // pass-through stream takes exactly what it plays and nothing ahead of it.
        const auto rest = static_cast<double>(outFrames - i) * step_ - frac_;
        const auto wanted = static_cast<std::size_t>(std::max(1.0, std::ceil(rest))) + skip_;
        while (skip_ > 0 && !ended_) {
            if (!fetch(next_.data(), pull, wanted))
                ended_ = true;
            --skip_;
        }
        if (!ended_ && !curValid_) {
            curValid_ = fetch(cur_.data(), pull, wanted);
            if (!curValid_)
                ended_ = true;
        }
        if (ended_)
            break;
        float* o = out + i * ch;
        if (frac_ == 0.0) {
            std::memcpy(o, cur_.data(), ch * sizeof(float));
        } else {
            if (!nextValid_)
                nextValid_ = fetch(next_.data(), pull, wanted);
            // At the very end there is nothing to lean towards: hold the last frame.
            const float* n = nextValid_ ? next_.data() : cur_.data();
            const auto f = static_cast<float>(frac_);
            for (std::size_t c = 0; c < ch; ++c)
                o[c] = cur_[c] + (n[c] - cur_[c]) * f;
        }
        ++produced;
        frac_ += step_;
        while (frac_ >= 1.0) {
            frac_ -= 1.0;
            ++consumed_;
            if (nextValid_) {
                cur_.swap(next_);
                nextValid_ = false;
            } else if (curValid_) {
                curValid_ = false;  // the frame that follows is still in the source
            } else {
                ++skip_;  // passed over without ever being needed
            }
        }
    }
    if (ended_) {
        skip_ = 0;
        consumed_ = std::min(consumed_, fetched_);
    }
    if (produced < outFrames) {
        std::memset(out + produced * ch, 0, (outFrames - produced) * ch * sizeof(float));
    }
    return produced;
}

}  // namespace platform
