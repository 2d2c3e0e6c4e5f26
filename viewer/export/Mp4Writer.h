#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct AVAudioFifo;
struct SwrContext;
struct SwsContext;

namespace korvex {

// How the picture and the sound are coded. H.264 through libx264 with constant quality, AAC
// through FFmpeg's own encoder; the file is an MP4 with its index in front (fast start).
struct EncoderSettings {
    std::string preset = "veryfast";
    int crf = 23;
    // Frames between key frames at most (a player seeks to these).
    int keyFrameInterval = 250;
    // The typical pictures per second: a hint for the coder's rate control, the timestamps rule.
    int nominalFps = 10;
    int threads = 0;  // 0: as many as the coder finds useful
    int audioBitRatePerChannel = 64000;
};

// The x264 settings as the ffmpeg command line spells them, for the side-car and the benchmark.
std::string videoCoderText(const EncoderSettings& settings);

struct SoundInput {
    int sampleRate = 0;  // Hz of the samples handed to addSound
    int channels = 0;    // 1 or 2 (interleaved)
};

// FFmpeg's libraries write only their errors to stderr from now on (their statistics and
// notes are not for the user of a program). Process-wide; the programs call it once.
void quietCoderMessages();

// The sample rate the AAC stream is coded at for an input of `inputRate` Hz: the input's own rate
// when it is one of AAC's from 16 kHz on, else the first of them a doubling reaches (16 kHz for
// a recorder's 8 kHz), else 48 kHz. Coding more samples than the sound has costs time and adds
// nothing.
int aacSampleRateFor(int inputRate);

// Writes an MP4 file of one H.264 video stream with variable frame rate and, when asked, one AAC
// sound stream. Pictures come with their own times in milliseconds; the sound follows as a
// continuous run of samples from time 0. Not thread-safe: one thread feeds it.
class Mp4Writer {
public:
    Mp4Writer();
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // Creates `path` for pictures of `width` x `height` (even, 16..4096) and, when `sound` is not
    // null, a sound stream. False with error() on failure (the file may exist then; the caller
    // removes it).
    bool open(const std::string& path, int width, int height, const SoundInput* sound,
              const EncoderSettings& settings);
    // One picture of blue-green-red bytes, rows top down, shown from `ptsMs` (strictly later
    // than the picture before).
    bool addPicture(const std::uint8_t* bgr, std::ptrdiff_t stride, std::int64_t ptsMs);
    // The next `frames` sample frames of the sound (interleaved floats, -1..1).
    bool addSound(const float* samples, std::size_t frames);
    // Ends the file: the last picture is shown until `endMs`, the coders are drained and the
    // index is written in front. False with error() on failure.
    bool finish(std::int64_t endMs);
    // Closes without finishing (after a failure or a cancel); the file is left for the caller.
    void abort();

    const std::string& error() const { return error_; }
    bool isOpen() const { return format_ != nullptr; }
    std::int64_t picturesWritten() const { return pictures_; }

private:
    bool fail(const std::string& what, int averror);
    bool openVideo(int width, int height, const EncoderSettings& settings);
    bool openSound(const SoundInput& sound, const EncoderSettings& settings);
    bool sendVideo(AVFrame* frame);
    bool drainVideo(bool final);
    bool encodeSoundFrames(bool flush);
    bool sendSound(AVFrame* frame);
    bool writePacket(AVPacket* packet, AVCodecContext* codec, AVStream* stream);
    void release();

    std::string error_;
    AVFormatContext* format_ = nullptr;
    bool headerWritten_ = false;
    AVCodecContext* video_ = nullptr;
    AVStream* videoStream_ = nullptr;
    AVFrame* yuv_ = nullptr;
    SwsContext* scale_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    std::int64_t lastPts_ = -1;
    std::int64_t pictures_ = 0;
    // Coded pictures wait here until the time of the picture after theirs gives their duration.
    std::deque<AVPacket*> pendingVideo_;
    struct Shown {
        std::int64_t pts;
        std::int64_t duration;  // -1 until the next picture (or the end) is known
    };
    std::deque<Shown> shown_;

    AVCodecContext* audio_ = nullptr;
    AVStream* audioStream_ = nullptr;
    SwrContext* resample_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* audioFrame_ = nullptr;
    int inputChannels_ = 0;
    std::int64_t audioSamplesSent_ = 0;  // at the coded rate
    AVPacket* packet_ = nullptr;
};

}  // namespace korvex
