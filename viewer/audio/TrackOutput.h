#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/AudioStream.h"
#include "viewer/audio/SoundDecoder.h"

namespace korvex {

// One sound file playing on the sound device: the decoder, the output stream and the software
// balance between them. Output is always stereo; a mono track plays on both sides. Positions
// are counted from the frames handed to the device. Used from one thread (the UI thread); the
// device thread only pulls through pullFrames().
class TrackOutput : private platform::AudioSource {
public:
    TrackOutput() = default;
    ~TrackOutput() override;
    TrackOutput(const TrackOutput&) = delete;
    TrackOutput& operator=(const TrackOutput&) = delete;

    // Opens the file and the device, else the null output (paused at the start). False when the
    // file cannot be read or played.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return stream_.isOpen(); }
    // No sound device: the track plays at its pace into the null output, unheard.
    bool silent() const { return stream_.silent(); }
    std::uint32_t deviceId() const { return stream_.deviceId(); }
    int sampleRate() const { return decoder_.sampleRate(); }
    int deviceBufferFrames() const { return stream_.deviceBufferFrames(); }

    std::uint64_t lengthFrames() const { return decoder_.lengthFrames(); }
    std::uint32_t lengthMs() const { return framesToMs(lengthFrames()); }
    std::uint64_t positionFrames() const { return stream_.sourcePosition(); }
    std::uint32_t positionMs() const { return framesToMs(positionFrames()); }
    // Frames the device has been handed since open (silence while ended included).
    std::uint64_t framesHanded() const { return stream_.framesHanded(); }

    // Moves to `ms` (clamped to the end). Playing continues from there when it was playing.
    bool seekMs(std::uint32_t ms);
    bool seekFrame(std::uint64_t frame);
    bool play() { return stream_.resume(); }
    bool pause() { return stream_.pause(); }
    bool isPlaying() const { return isOpen() && !stream_.isPaused(); }

    // Balance in hundredths of a decibel, as a sound renderer takes it: -10000 silences the
    // right side, 10000 the left, 0 leaves both at full level.
    bool setBalance(int balance);
    int balance() const { return balance_; }

    std::uint32_t framesToMs(std::uint64_t frames) const;
    // The first frame at or after `ms`, so that positionMs() reads back `ms` after a seek.
    std::uint64_t msToFrames(std::uint32_t ms) const;

private:
    std::size_t pullFrames(float* out, std::size_t frames) override;

    SoundDecoder decoder_;
    platform::AudioStream stream_;
    std::vector<float> scratch_;
    float gainLeft_ = 1.0f;
    float gainRight_ = 1.0f;
    int balance_ = 0;
};

}  // namespace korvex
