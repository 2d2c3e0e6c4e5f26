#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

// Plays a PCM source at a rate other than its own by linear interpolation between neighbouring
// source frames. `step` is the number of source frames one output frame advances over: 1.0 plays
// the source as it is (samples pass through untouched), 1.01 consumes one per cent more source.
// Not thread-safe; the audio stream drives it from its device thread under its own lock.
class LinearResampler {
public:
    // Fills `out` with up to `frames` interleaved frames; returns the number it could take from
    // the source. Fewer than asked means the source ended.
    using Pull = std::function<std::size_t(float* out, std::size_t frames)>;

    explicit LinearResampler(int channels = 2);

    // Forgets every buffered source frame and the fractional position; the next output frame is
    // the next frame the source gives.
    void reset();
    void setStep(double sourceFramesPerOutputFrame);
    double step() const { return step_; }
    int channels() const { return channels_; }

    // Writes `outFrames` frames to `out`; frames past the source's end are silence. Returns the
    // number of frames that carry source sound.
    std::size_t process(float* out, std::size_t outFrames, const Pull& pull);

    // Source frames the output has moved past since the last reset.
    std::uint64_t consumedFrames() const { return consumed_; }
    bool ended() const { return ended_; }

private:
    bool fetch(float* frame, const Pull& pull, std::size_t framesWanted);

    int channels_;
    double step_ = 1.0;
    double frac_ = 0.0;
    std::uint64_t consumed_ = 0;
    bool ended_ = false;
    std::uint64_t fetched_ = 0;
    std::size_t skip_ = 0;
    bool curValid_ = false;
    bool nextValid_ = false;
    std::vector<float> cur_;
    std::vector<float> next_;
    // Source frames pulled but not yet used; pulled in blocks to keep virtual calls few.
    std::vector<float> pending_;
    std::size_t pendingPos_ = 0;
    std::size_t pendingFrames_ = 0;
    bool sourceDry_ = false;
};

}  // namespace platform
