#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/audio/AudioStream.h"
#include "platform/audio/WaveFormat.h"

namespace platform {

// Results of the sound buffer layer, with the values the control's log names them by. Negative
// values are failures.
using SoundResult = std::int32_t;
inline constexpr SoundResult kSoundOk = 0;
inline constexpr SoundResult kSoundGeneric = static_cast<SoundResult>(0x80004005u);
inline constexpr SoundResult kSoundInvalidParam = static_cast<SoundResult>(0x80070057u);
inline constexpr SoundResult kSoundInvalidCall = static_cast<SoundResult>(0x88780032u);
// Never returned here: sharing the device is the sound server's business on Linux. Kept so that
// callers name every result the same way on every output.
inline constexpr SoundResult kSoundPrioLevelNeeded = static_cast<SoundResult>(0x88780046u);
inline constexpr SoundResult kSoundNoDriver = static_cast<SoundResult>(0x88780078u);
inline constexpr SoundResult kSoundAlreadyInitialized = static_cast<SoundResult>(0x88780082u);
inline constexpr SoundResult kSoundBufferLost = static_cast<SoundResult>(0x88780096u);

inline constexpr bool soundFailed(SoundResult r) {
    return r < 0;
}

// A position whose crossing by the play cursor sets `event`. The offset kOffsetStop stands for
// "the buffer stopped".
struct PositionNotify {
    static constexpr std::uint32_t kOffsetStop = 0xFFFFFFFFu;
    std::uint32_t offset = 0;
    Event* event = nullptr;
};

// A looping PCM buffer that the device plays while its owner refills it: the shape of a
// streaming secondary buffer. Offsets and sizes are in bytes of the buffer's own format. The
// owner calls from its threads (one may refill while another changes the frequency); the events
// are set from the device's thread.
class SoundBuffer {
public:
    static constexpr std::uint32_t kPlayLooping = 1;

    virtual ~SoundBuffer() = default;

    // Hands out the region [offset, offset + bytes) for writing, in two parts when it wraps past
    // the end (`part2` may be null: the region then stops at the end). The data reaches the
    // buffer at Unlock, with the parts and sizes Lock gave (sizes may shrink). One lock at a time.
    virtual SoundResult Lock(std::uint32_t offset, std::uint32_t bytes, void** part1,
                             std::uint32_t* bytes1, void** part2, std::uint32_t* bytes2) = 0;
    virtual SoundResult Unlock(void* part1, std::uint32_t bytes1, void* part2,
                               std::uint32_t bytes2) = 0;
    // Starts (or goes on) playing from the current position; with kPlayLooping it wraps at the end
    // for ever, else it stops there. Notifications left over from before are forgotten.
    virtual SoundResult Play(std::uint32_t flags) = 0;
    // Stops at the current position and sets the stop notification, also when it was not playing
    // (a waiter for the stop then never waits for a buffer that had already stopped).
    virtual SoundResult Stop() = 0;
    virtual SoundResult SetCurrentPosition(std::uint32_t offset) = 0;
    // Play cursor (the last byte the device has taken) and write cursor (from where writing is
    // safe: the device has read ahead up to there).
    virtual SoundResult GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) = 0;
    // Frames per second the cursor advances by; 0 in SetFrequency means the format's own rate.
    virtual SoundResult GetFrequency(std::uint32_t* hz) = 0;
    virtual SoundResult SetFrequency(std::uint32_t hz) = 0;
    // Replaces the notification list; refused while playing.
    virtual SoundResult SetNotificationPositions(const PositionNotify* positions,
                                                 std::size_t count) = 0;

    // True when the buffer plays into a null output (no sound device): the cursor, the
    // notifications and the frequency work as ever, but nothing is heard. silentReason() says why
    // there is no device.
    virtual bool silent() const { return false; }
    virtual std::string silentReason() const { return {}; }
};

// The buffer over an SDL output stream. The device runs at the format's own rate; the buffer is
// consumed at its frequency and resampled, so SetFrequency changes the real pace. The cursor is
// the count of frames the device has really taken, never a clock. Without a sound device the
// stream's null output takes the frames at the same pace, and the buffer is silent().
class StreamSoundBuffer final : public SoundBuffer, private AudioSource {
public:
    static constexpr std::uint32_t kMinFrequency = 100;
    static constexpr std::uint32_t kMaxFrequency = 200000;
    static constexpr std::uint32_t kMaxBytes = 16u << 20;

    // Checks the format and size and opens the output (paused, silence in the buffer): the sound
    // device, else the null output. kSoundInvalidParam for a format or size it cannot take,
    // kSoundNoDriver when the output refuses the format (`error` then says why).
    static SoundResult create(const WaveFormat& format, std::uint32_t bytes,
                              std::unique_ptr<StreamSoundBuffer>* out,
                              std::string* error = nullptr);
    ~StreamSoundBuffer() override;

    SoundResult Lock(std::uint32_t offset, std::uint32_t bytes, void** part1, std::uint32_t* bytes1,
                     void** part2, std::uint32_t* bytes2) override;
    SoundResult Unlock(void* part1, std::uint32_t bytes1, void* part2,
                       std::uint32_t bytes2) override;
    SoundResult Play(std::uint32_t flags) override;
    SoundResult Stop() override;
    SoundResult SetCurrentPosition(std::uint32_t offset) override;
    SoundResult GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) override;
    SoundResult GetFrequency(std::uint32_t* hz) override;
    SoundResult SetFrequency(std::uint32_t hz) override;
    SoundResult SetNotificationPositions(const PositionNotify* positions,
                                         std::size_t count) override;
    bool silent() const override { return stream_.silent(); }
    std::string silentReason() const override {
        return stream_.silent() ? stream_.lastError() : std::string();
    }

    const WaveFormat& format() const { return format_; }
    std::uint32_t sizeBytes() const { return static_cast<std::uint32_t>(data_.size()); }
    // Buffer frames the cursor has moved over since the last Play or SetCurrentPosition.
    std::uint64_t framesPlayed();
    // Frames handed to the device since the buffer was made (device rate).
    std::uint64_t deviceFrames() const { return stream_.framesHanded(); }

private:
    StreamSoundBuffer(const WaveFormat& format, std::uint32_t bytes);

    std::size_t pullFrames(float* out, std::size_t frames) override;
    void blockPlayed(std::uint64_t sourcePosition) override;
    float sample(std::size_t byteIndex) const;
    void moveCursor(std::uint64_t frame);

    const WaveFormat format_;
    const std::uint64_t totalFrames_;
    AudioStream stream_;
    std::mutex api_;  // orders the owner's calls; taken before the device's lock

    // Shared with the device thread: touched only under the stream's source lock.
    std::vector<std::uint8_t> data_;
    std::vector<PositionNotify> notify_;  // offsets in frames, kOffsetStop kept as is
    bool playing_ = false;
    bool looping_ = false;
    std::uint64_t readFrame_ = 0;   // next frame the device pulls (0..totalFrames_)
    std::uint64_t cursorBase_ = 0;  // source position at the last restart
    std::uint64_t cursor_ = 0;      // source position the device has played up to

    // The owner's side of Lock/Unlock: writes land here and reach data_ at Unlock, so the device
    // never reads half-written bytes.
    std::vector<std::uint8_t> staging_;
    bool locked_ = false;
    std::uint32_t lockOffset_ = 0;
    std::uint32_t lockBytes1_ = 0;
    std::uint32_t lockBytes2_ = 0;
};

// The device object: holds the sound subsystem while it lives and makes buffers. Without a sound
// driver or device it still works: its buffers are then silent().
class SoundDevice {
public:
    // Fails only for a null `out`. `error` is left alone.
    static SoundResult create(std::unique_ptr<SoundDevice>* out, std::string* error = nullptr);
    ~SoundDevice();
    SoundDevice(const SoundDevice&) = delete;
    SoundDevice& operator=(const SoundDevice&) = delete;

    SoundResult CreateSoundBuffer(const WaveFormat& format, std::uint32_t bytes,
                                  std::unique_ptr<SoundBuffer>* out, std::string* error = nullptr);

private:
    explicit SoundDevice(bool holdsSubsystem) : holdsSubsystem_(holdsSubsystem) {}

    const bool holdsSubsystem_;
};

}  // namespace platform
