#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/LinearResampler.h"

namespace platform {

// Supplies the PCM an AudioStream plays. Called on the stream's device thread, one block at a
// time, while the stream's source lock is held.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Writes up to `frames` interleaved float frames (the stream's channel count, -1..1).
    // Returns the number written; fewer than asked means the source has ended.
    virtual std::size_t pullFrames(float* out, std::size_t frames) = 0;
    // After each block handed to the device: the source position its last frame reached. Lets a
    // source fire notifications when the play cursor crosses a point of its own.
    virtual void blockPlayed(std::uint64_t sourcePosition) { (void)sourcePosition; }
};

// The process's hold on the sound subsystem: every stream and device object of the audio layer
// takes one while it lives (the subsystem counts them). False, with the reason, when no sound
// driver can be started.
bool acquireAudioSubsystem(std::string* error);
void releaseAudioSubsystem();
// Frees what the sound layer keeps per thread for a thread it did not start (a worker that made
// a sound device); call as the thread's last act.
void releaseAudioThreadState();

// Test seam: while faked, every output stream opens as on a machine without a sound card (no
// device is opened, the stream plays into its null output). On while a ScopedNoSoundDevice lives
// or while the environment holds KORVEX_FAKE_NO_SOUND_DEVICE=1 (for a child process of a test).
bool soundDeviceFaked();
class ScopedNoSoundDevice {
public:
    ScopedNoSoundDevice();
    ~ScopedNoSoundDevice();
    ScopedNoSoundDevice(const ScopedNoSoundDevice&) = delete;
    ScopedNoSoundDevice& operator=(const ScopedNoSoundDevice&) = delete;
};

struct AudioFormat {
    int sampleRate = 0;
    int channels = 0;
};

// One output stream on the default sound device. It pulls PCM from its owner's AudioSource on
// the device thread and counts what it actually hands to the device: those counts, not a wall
// clock, are the source of every play position. The stream owns the device thread: close() (and
// the destructor) end it and never wait on anything but the end of the block in progress.
//
// The device runs at the rate the stream was opened with; the source can be consumed at another
// rate (setSourceRate), in which case the stream resamples it.
//
// Without a usable sound device (no driver starts, or the device does not open) the stream plays
// into a null output instead: a thread of the stream's own that, every device block by the
// steady clock, runs the same fill a device would. Counts, positions, rate, pause and the source
// lock behave as with a device; nothing is heard. silent() tells, lastError() says why.
// SDL_AUDIODRIVER=dummy plays nothing in real time; SDL_AUDIODRIVER=disk with SDL_DISKAUDIOFILE
// writes exactly what was played.
class AudioStream {
public:
    AudioStream() = default;
    ~AudioStream();
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    // The identifier deviceId() gives for the null output; never one of a device.
    static constexpr std::uint32_t kNullOutputId = 0xFFFFFFFFu;

    // Opens the device for `format` (float samples), else the null output, and starts it
    // paused. `source` must outlive the stream or the next close(). False only for a format no
    // output takes; lastError() says why.
    bool open(const AudioFormat& format, AudioSource* source);
    // Not under the source lock: it waits for the block in progress, which needs that lock.
    void close();
    bool isOpen() const { return device_ != 0 || null_; }
    // The device's identifier while open (kNullOutputId for the null output), else 0.
    std::uint32_t deviceId() const { return null_ ? kNullOutputId : device_; }
    // True while the stream plays into the null output; lastError() then says why no device.
    bool silent() const { return null_; }

    bool resume();
    bool pause();
    bool isPaused() const { return paused_; }
    // True when the device went away after it was opened (unplugged, server gone). The null
    // output is never lost.
    bool deviceLost() const;

    // Source frames consumed per second of device time; the opening rate plays the source as it
    // is. Takes effect with the next device block.
    bool setSourceRate(int framesPerSecond);
    int sourceRate() const { return sourceRate_.load(); }
    const AudioFormat& format() const { return format_; }
    // Frames per device block: the granularity of every count below.
    int deviceBufferFrames() const { return bufferFrames_; }

    // Source position: `position` plus the source frames played since the last restart().
    std::uint64_t sourcePosition() const { return sourcePosition_.load(); }
    // Device frames handed to the device since open(), silence after the source's end included.
    std::uint64_t framesHanded() const { return framesHanded_.load(); }
    // True once the source gave fewer frames than asked (until the next restart()).
    bool sourceEnded() const { return sourceEnded_.load(); }

    // Call after moving the source: drops what the stream buffered from the old place and starts
    // counting at `position`. Takes the source lock itself.
    void restart(std::uint64_t position);

    // Holds the device thread (or the null output's) out of the source while the owner changes
    // it. Recursive.
    void lockSource();
    void unlockSource();
    class SourceLock {
    public:
        explicit SourceLock(AudioStream& s) : s_(s) { s_.lockSource(); }
        ~SourceLock() { s_.unlockSource(); }
        SourceLock(const SourceLock&) = delete;
        SourceLock& operator=(const SourceLock&) = delete;

    private:
        AudioStream& s_;
    };

    const std::string& lastError() const { return lastError_; }

private:
    static void deviceCallback(void* self, std::uint8_t* stream, int len);
    void fill(float* out, std::size_t frames);
    bool openDevice();
    void startNullOutput();
    void stopNullOutput();
    void runNullOutput();

    std::uint32_t device_ = 0;
    bool null_ = false;
    bool subsystemUp_ = false;
    bool paused_ = true;
    AudioFormat format_;
    int bufferFrames_ = 0;
    AudioSource* source_ = nullptr;
    LinearResampler resampler_;
    LinearResampler::Pull pull_;
    std::uint64_t basePosition_ = 0;
    std::atomic<int> sourceRate_{0};
    std::atomic<std::uint64_t> sourcePosition_{0};
    std::atomic<std::uint64_t> framesHanded_{0};
    std::atomic<bool> sourceEnded_{false};
    std::string lastError_;

    // The null output. Its thread fills under nullSource_ (what lockSource takes in place of the
    // device's lock) and waits under nullWake_. nullRunning_ is written with both held, so either
    // one is enough to read it.
    std::thread nullThread_;
    std::recursive_mutex nullSource_;
    std::mutex nullWake_;
    std::condition_variable nullWakeUp_;
    bool nullStop_ = false;
    bool nullRunning_ = false;
    std::uint64_t nullResumes_ = 0;  // each resume restarts the null output's clock
    std::vector<float> nullBlock_;   // the null thread's block of output
};

}  // namespace platform
