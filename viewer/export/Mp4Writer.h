#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

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

struct YuvPictureFree {
    void operator()(AVFrame* frame) const;
};
// A picture in the coder's own YUV 4:2:0, ready for Mp4Writer::addPicture.
using YuvPicture = std::unique_ptr<AVFrame, YuvPictureFree>;

// The colour conversion of the pictures for the coder (blue-green-red bytes to YUV 4:2:0 in
// studio range, bicubic as the ffmpeg command line converts), apart from the coder, so that the
// thread that draws a picture can convert it while the coder's thread codes the one before. One
// thread uses a converter at a time.
class PictureConverter {
public:
    PictureConverter() = default;
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // For pictures of `width` x `height` (even, 16..4096). False when the size is refused or
    // the conversion cannot be set up.
    bool open(int width, int height);
    // A new YUV picture of `bgr` (rows top down); null when memory runs out or not open.
    YuvPicture convert(const std::uint8_t* bgr, std::ptrdiff_t stride) const;

private:
    SwsContext* scale_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

struct CodedPacketFree {
    void operator()(AVPacket* packet) const;
};
using CodedPacket = std::unique_ptr<AVPacket, CodedPacketFree>;
using CodedPackets = std::vector<CodedPacket>;

// The AAC coding of the sound (resampled to aacSampleRateFor its rate) apart from the file, so
// that another thread can code the sound while the writer's thread codes the pictures: the
// packets it makes go to Mp4Writer::addSoundPackets. One thread uses a coder at a time.
class SoundCoder {
public:
    SoundCoder() = default;
    ~SoundCoder();
    SoundCoder(const SoundCoder&) = delete;
    SoundCoder& operator=(const SoundCoder&) = delete;

    // `globalHeader`: the container wants the coder's set-up in its header. False with error().
    bool open(const SoundInput& sound, const EncoderSettings& settings, bool globalHeader);
    // Codes the next `frames` sample frames (interleaved floats, -1..1); the packets made so far
    // are appended to `out`. False with error().
    bool code(const float* samples, std::size_t frames, CodedPackets& out);
    // The end of the sound: what the resampler holds, the last short frame, the coder's delay.
    bool flush(CodedPackets& out);
    void close();

    bool isOpen() const { return audio_ != nullptr; }
    const AVCodecContext* context() const { return audio_; }
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& what, int averror);
    bool codeFrames(bool flush, CodedPackets& out);
    bool send(AVFrame* frame, CodedPackets& out);

    std::string error_;
    AVCodecContext* audio_ = nullptr;
    SwrContext* resample_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* frame_ = nullptr;
    int inputChannels_ = 0;
    std::int64_t samplesSent_ = 0;  // at the coded rate
};

// Writes an MP4 file of one H.264 video stream with variable frame rate and, when asked, one AAC
// sound stream. Pictures come with their own times in milliseconds; the sound follows as a
// continuous run of samples from time 0. Not thread-safe: one thread feeds it (another may code
// the sound with soundCoder(), see there).
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
    // The same for a picture converted already, of the size the file was opened for.
    bool addPicture(YuvPicture picture, std::int64_t ptsMs);
    // The next `frames` sample frames of the sound (interleaved floats, -1..1).
    bool addSound(const float* samples, std::size_t frames);
    // The sound's coder, for a thread that codes the sound itself and hands the packets to
    // addSoundPackets instead of calling addSound. finish() flushes it: that thread's work must
    // be over by then.
    SoundCoder& soundCoder() { return sound_; }
    // Sound coded by soundCoder(), in the order it made them.
    bool addSoundPackets(CodedPackets packets);
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
    bool writePacket(AVPacket* packet, const AVCodecContext* codec, AVStream* stream);
    void release();

    std::string error_;
    AVFormatContext* format_ = nullptr;
    bool headerWritten_ = false;
    AVCodecContext* video_ = nullptr;
    AVStream* videoStream_ = nullptr;
    PictureConverter converter_;
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

    SoundCoder sound_;
    AVStream* audioStream_ = nullptr;
    AVPacket* packet_ = nullptr;
};

}  // namespace korvex
