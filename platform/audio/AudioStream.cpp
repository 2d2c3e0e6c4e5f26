#include "platform/audio/AudioStream.h"

#include <SDL.h>

#include <algorithm>
#include <mutex>

namespace platform {

namespace {

// SDL's subsystem start and stop are not thread-safe; every stream of the process goes through
// this one lock (the only process-wide state of the audio layer).
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

}  // namespace

bool acquireAudioSubsystem(std::string* error) {
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
    if (!acquireAudioSubsystem(&lastError_))
        return false;
    subsystemUp_ = true;
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

    SDL_AudioSpec want{};
    want.freq = format.sampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(format.channels);
    want.samples = static_cast<Uint16>(blockFramesFor(format.sampleRate));
    want.callback = &AudioStream::deviceCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the hardware takes, so the callback always
    // sees exactly the format asked for.
    const SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (dev == 0) {
        lastError_ = SDL_GetError();
        close();
        return false;
    }
    bufferFrames_ = have.samples;
    device_ = dev;
    return true;
}

void AudioStream::close() {
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
    if (device_ == 0)
        return false;
    SDL_PauseAudioDevice(device_, 0);
    paused_ = false;
    return true;
}

bool AudioStream::pause() {
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
    if (device_ == 0 || framesPerSecond <= 0)
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
}

void AudioStream::unlockSource() {
    if (device_ != 0)
        SDL_UnlockAudioDevice(device_);
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
