#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;

namespace korvex {

// Reads a sound track (WAV or MP3) as float frames through libsndfile, with seeking exact to the
// sample. Anything it cannot decode, or whose format is out of bounds, fails to open.
class SoundDecoder {
public:
    SoundDecoder() = default;
    ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    bool open(const std::string& path);
    void close();
    bool isOpen() const { return file_ != nullptr; }

    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    bool isMpeg() const { return mpeg_; }
    // Frames the file holds: for WAV what the data really holds, for MP3 what its header says
    // when the file is large enough to hold that much, else what decoding it gives.
    std::uint64_t lengthFrames() const { return lengthFrames_; }

    // Moves to `frame` (at most lengthFrames()).
    bool seek(std::uint64_t frame);
    // Reads up to `frames` interleaved frames of channels() samples; fewer at the end.
    std::size_t read(float* out, std::size_t frames);

private:
    std::uint64_t measureFrames(std::uint64_t limit);

    sf_private_tag* file_ = nullptr;
    int fd_ = -1;
    int sampleRate_ = 0;
    int channels_ = 0;
    bool mpeg_ = false;
    std::uint64_t lengthFrames_ = 0;
    std::vector<float> scratch_;
};

}  // namespace korvex
