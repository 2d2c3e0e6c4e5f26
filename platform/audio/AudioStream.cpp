#include "platform/audio/AudioStream.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/audio/AlsaMessages.h"

namespace platform {

namespace {

// SDL's subsystem start and stop are not thread-safe; every stream of the process goes through
// this one lock. With the test switch's count below and ALSA's handler (AlsaMessages.cpp), the
// process-wide state of the audio layer.
std::mutex& sdlInitMutex() {
    static std::mutex m;
    return m;
}

// About 20 ms per device block, as a power of two (some SDL drivers insist on one): fine enough
// for the position to follow the pictures, coarse enough to play without gaps.
int blockFramesFor(int sampleRate) {
    int frames = 64;
    while (frames < sampleRate / 50 && frames < 8192)
        frames *= 2;
    return frames;
}

// Turned on by each ScopedNoSoundDevice while it lives; nothing else writes it.
std::atomic<int> fakeNoDeviceHolders{0};

// Time from the start of the null output's clock to the start of block `blocks`, exact in whole
// nanoseconds so that the pace never drifts from the device rate.
std::chrono::nanoseconds nullBlockTime(std::uint64_t blocks, int blockFrames, int sampleRate) {
    const std::uint64_t frames = blocks * static_cast<std::uint64_t>(blockFrames);
    const auto rate = static_cast<std::uint64_t>(sampleRate);
    const std::uint64_t ns = frames / rate * 1000000000u + frames % rate * 1000000000u / rate;
    return std::chrono::nanoseconds(static_cast<std::chrono::nanoseconds::rep>(ns));
}

// A null output this many blocks behind its clock (the machine was suspended or starved) plays on
// from now instead of rushing the missed blocks through.
constexpr std::uint64_t kNullMaxLateBlocks = 8;

}  // namespace

bool soundDeviceFaked() {
    if (fakeNoDeviceHolders.load() > 0)
        return true;
    const char* env = std::getenv("KORVEX_FAKE_NO_SOUND_DEVICE");
    return env != nullptr && std::strcmp(env, "1") == 0;
}

ScopedNoSoundDevice::ScopedNoSoundDevice() {
    ++fakeNoDeviceHolders;
}

ScopedNoSoundDevice::~ScopedNoSoundDevice() {
    --fakeNoDeviceHolders;
}

bool acquireAudioSubsystem(std::string* error) {
    // Before the driver probes devices: on a machine without a sound card ALSA would print a
    // screenful of lines for every probe and every open.
    routeAlsaMessages();
    std::lock_guard<std::mutex> lock(sdlInitMutex());
    // SDL serves sound output only: SIGINT and SIGTERM stay with the program (or the host that
    // loaded us). The environment variable of the same name still overrides this.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        if (error != nullptr)
            *error = SDL_GetError();
        return false;
    }
    return true;
}

void releaseAudioSubsystem() {
    std::lock_guard<std::mutex> lock(sdlInitMutex());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void releaseAudioThreadState() {
    SDL_TLSCleanup();
}

AudioStream::~AudioStream() {
    close();
}

bool AudioStream::open(const AudioFormat& format, AudioSource* source) {
    close();
    lastError_.clear();
    if (format.sampleRate < 1000 || format.sampleRate > 384000 || format.channels < 1 ||
        format.channels > 8) {
        lastError_ = "unsupported sound format";
        return false;
    }
    format_ = format;
    source_ = source;
    resampler_ = LinearResampler(format.channels);
    pull_ = [this](float* out, std::size_t frames) -> std::size_t {
        return source_ ? source_->pullFrames(out, frames) : 0;
    };
    basePosition_ = 0;
    sourceRate_ = format.sampleRate;
    sourcePosition_ = 0;
    framesHanded_ = 0;
    sourceEnded_ = false;
    paused_ = true;
    bufferFrames_ = blockFramesFor(format.sampleRate);
    if (!openDevice())
        startNullOutput();
    return true;
}

bool AudioStream::openDevice() {
    if (!acquireAudioSubsystem(&lastError_))
        return false;
    if (soundDeviceFaked()) {
        // As on a machine without a sound card: the driver starts, no device opens.
        releaseAudioSubsystem();
        lastError_ = "no sound device (KORVEX_FAKE_NO_SOUND_DEVICE)";
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = format_.sampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(format_.channels);
    want.samples = static_cast<Uint16>(bufferFrames_);
    want.callback = &AudioStream::deviceCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    clearAlsaMessage();
    // No changes allowed: SDL converts to whatever the hardware takes, so the callback always
    // sees exactly the format asked for.
    const SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (dev == 0) {
        lastError_ = SDL_GetError();
        // The sound library's own words name the cause ("Unknown PCM default") better than the
        // driver's summary does.
        const std::string detail = lastAlsaMessage();
        if (!detail.empty() && lastError_.find(detail) == std::string::npos)
            lastError_ += " (" + detail + ")";
        releaseAudioSubsystem();
        return false;
    }
    subsystemUp_ = true;
    bufferFrames_ = have.samples;
    device_ = dev;
    return true;
}

void AudioStream::startNullOutput() {
    nullBlock_.assign(static_cast<std::size_t>(bufferFrames_) * format_.channels, 0.0f);
    nullStop_ = false;
    nullRunning_ = false;
    nullResumes_ = 0;
    null_ = true;
    nullThread_ = std::thread([this] { runNullOutput(); });
}

void AudioStream::stopNullOutput() {
    if (!nullThread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> wake(nullWake_);
        nullStop_ = true;
    }
    nullWakeUp_.notify_all();
    // The thread waits for nothing but its clock and this order; at most a block in progress.
    nullThread_.join();
}

void AudioStream::runNullOutput() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> wake(nullWake_);
    std::uint64_t resumesSeen = 0;
    Clock::time_point epoch;
    std::uint64_t blocks = 0;
    while (!nullStop_) {
        if (!nullRunning_) {
            nullWakeUp_.wait(wake, [&] { return nullStop_ || nullRunning_; });
            continue;
        }
        if (resumesSeen != nullResumes_) {
            // A device asks for its first block as it starts, then one a block's time apart.
            resumesSeen = nullResumes_;
            epoch = Clock::now();
            blocks = 0;
        }
        const Clock::time_point due =
            epoch + nullBlockTime(blocks, bufferFrames_, format_.sampleRate);
        if (Clock::now() < due) {
            nullWakeUp_.wait_until(wake, due, [&] {
                return nullStop_ || !nullRunning_ || resumesSeen != nullResumes_;
            });
            continue;
        }
        wake.unlock();
        {
            std::lock_guard<std::recursive_mutex> source(nullSource_);
            // Paused meanwhile: pause() has returned, and after that no block is played.
            if (nullRunning_)
                fill(nullBlock_.data(), static_cast<std::size_t>(bufferFrames_));
        }
        wake.lock();
        ++blocks;
        const Clock::time_point now = Clock::now();
        if (now - epoch >
            nullBlockTime(blocks + kNullMaxLateBlocks, bufferFrames_, format_.sampleRate)) {
            epoch = now - nullBlockTime(blocks, bufferFrames_, format_.sampleRate);
        }
    }
}

void AudioStream::close() {
    stopNullOutput();
    null_ = false;
    if (device_ != 0) {
        // Joins the device thread; the callback never blocks, so this returns within a block.
        SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    if (subsystemUp_) {
        releaseAudioSubsystem();
        subsystemUp_ = false;
    }
    source_ = nullptr;
    paused_ = true;
}

bool AudioStream::resume() {
    if (null_) {
        std::lock_guard<std::recursive_mutex> source(nullSource_);
        {
            std::lock_guard<std::mutex> wake(nullWake_);
            if (!nullRunning_) {
                nullRunning_ = true;
                ++nullResumes_;
            }
        }
        nullWakeUp_.notify_all();
        paused_ = false;
        return true;
    }
    if (device_ == 0)
        return false;
    SDL_PauseAudioDevice(device_, 0);
    paused_ = false;
    return true;
}

bool AudioStream::pause() {
    if (null_) {
        // Under the source lock: a block in progress ends first, and none follows.
        std::lock_guard<std::recursive_mutex> source(nullSource_);
        {
            std::lock_guard<std::mutex> wake(nullWake_);
            nullRunning_ = false;
        }
        nullWakeUp_.notify_all();
        paused_ = true;
        return true;
    }
    if (device_ == 0)
        return false;
    SDL_PauseAudioDevice(device_, 1);
    paused_ = true;
    return true;
}

bool AudioStream::deviceLost() const {
    return device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
}

bool AudioStream::setSourceRate(int framesPerSecond) {
    if (!isOpen() || framesPerSecond <= 0)
        return false;
    // The resampler accepts at most 64 times either way; refuse what it could not honour.
    const double ratio = static_cast<double>(framesPerSecond) / format_.sampleRate;
    if (ratio < 1.0 / 64.0 || ratio > 64.0)
        return false;
    sourceRate_ = framesPerSecond;
    return true;
}

void AudioStream::restart(std::uint64_t position) {
    SourceLock lock(*this);
    resampler_.reset();
    basePosition_ = position;
    sourcePosition_ = position;
    sourceEnded_ = false;
}

void AudioStream::lockSource() {
    if (device_ != 0)
        SDL_LockAudioDevice(device_);
    else if (null_)
        nullSource_.lock();
}

void AudioStream::unlockSource() {
    if (device_ != 0)
        SDL_UnlockAudioDevice(device_);
    else if (null_)
        nullSource_.unlock();
}

void AudioStream::deviceCallback(void* self, std::uint8_t* stream, int len) {
    auto* s = static_cast<AudioStream*>(self);
    const auto frameBytes = static_cast<std::size_t>(s->format_.channels) * sizeof(float);
    const std::size_t frames = len > 0 ? static_cast<std::size_t>(len) / frameBytes : 0;
    s->fill(reinterpret_cast<float*>(stream), frames);
    // A partial frame at the end (never expected) must not carry stale bytes.
    const std::size_t used = frames * frameBytes;
    if (len > 0 && used < static_cast<std::size_t>(len)) {
        std::fill(stream + used, stream + len, std::uint8_t{0});
    }
}

void AudioStream::fill(float* out, std::size_t frames) {
    resampler_.setStep(static_cast<double>(sourceRate_.load()) / format_.sampleRate);
    resampler_.process(out, frames, pull_);
    const std::uint64_t position = basePosition_ + resampler_.consumedFrames();
    sourcePosition_ = position;
    sourceEnded_ = resampler_.ended();
    framesHanded_ += frames;
    if (source_ != nullptr)
        source_->blockPlayed(position);
}

}  // namespace platform
