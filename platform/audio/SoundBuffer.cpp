#include "platform/audio/SoundBuffer.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// Whether the frames [from, to) of an endless loop of `total` frames contain one at `offset`.
bool crosses(std::uint64_t offset, std::uint64_t from, std::uint64_t to, std::uint64_t total) {
    auto passed = [&](std::uint64_t x) -> std::uint64_t {
        return x > offset ? (x - offset - 1) / total + 1 : 0;
    };
    return passed(to) > passed(from);
}

}  // namespace

SoundResult StreamSoundBuffer::create(const WaveFormat& format, std::uint32_t bytes,
                                      std::unique_ptr<StreamSoundBuffer>* out, std::string* error) {
    if (out == nullptr)
        return kSoundInvalidParam;
    out->reset();
    if (!format.playable() || bytes < 4 || bytes > kMaxBytes || bytes % format.blockAlign != 0) {
        if (error != nullptr)
            *error = "unsupported sound format or buffer size";
        return kSoundInvalidParam;
    }
    std::unique_ptr<StreamSoundBuffer> buffer(new StreamSoundBuffer(format, bytes));
    const AudioFormat device{static_cast<int>(format.samplesPerSec),
                             static_cast<int>(format.channels)};
    if (!buffer->stream_.open(device, buffer.get())) {
        if (error != nullptr)
            *error = buffer->stream_.lastError();
        return kSoundNoDriver;
    }
    *out = std::move(buffer);
    return kSoundOk;
}

StreamSoundBuffer::StreamSoundBuffer(const WaveFormat& format, std::uint32_t bytes)
    : format_(format),
      totalFrames_(bytes / format.blockAlign),
      data_(bytes, format.silenceByte()),
      staging_(bytes) {}

StreamSoundBuffer::~StreamSoundBuffer() {
    // The device thread reads data_ and sets the events: end it before anything else goes.
    stream_.close();
}

float StreamSoundBuffer::sample(std::size_t byteIndex) const {
    if (format_.bitsPerSample == 8)
        return (static_cast<float>(data_[byteIndex]) - 128.0f) / 128.0f;
    const auto v = static_cast<std::int16_t>(data_[byteIndex] | (data_[byteIndex + 1] << 8));
    return static_cast<float>(v) / 32768.0f;
}

std::size_t StreamSoundBuffer::pullFrames(float* out, std::size_t frames) {
    const std::size_t channels = format_.channels;
    const std::size_t sampleBytes = format_.bitsPerSample / 8;
    for (std::size_t i = 0; i < frames; ++i) {
        if (readFrame_ >= totalFrames_) {
            if (!looping_)
                return i;
            readFrame_ = 0;
        }
        const std::size_t at = static_cast<std::size_t>(readFrame_) * format_.blockAlign;
        for (std::size_t c = 0; c < channels; ++c)
            out[i * channels + c] = sample(at + c * sampleBytes);
        ++readFrame_;
    }
    return frames;
}

void StreamSoundBuffer::blockPlayed(std::uint64_t sourcePosition) {
    const std::uint64_t from = cursor_;
    cursor_ = sourcePosition;
    if (!playing_)
        return;
    for (const PositionNotify& n : notify_) {
        if (n.offset != PositionNotify::kOffsetStop &&
            crosses(n.offset, from, sourcePosition, totalFrames_))
            n.event->set();
    }
    if (!looping_ && sourcePosition >= totalFrames_) {
        playing_ = false;
        for (const PositionNotify& n : notify_)
            if (n.offset == PositionNotify::kOffsetStop)
                n.event->set();
    }
}

void StreamSoundBuffer::moveCursor(std::uint64_t frame) {
    readFrame_ = frame;
    cursorBase_ = frame;
    cursor_ = frame;
    stream_.restart(frame);
}

SoundResult StreamSoundBuffer::Lock(std::uint32_t offset, std::uint32_t bytes, void** part1,
                                    std::uint32_t* bytes1, void** part2, std::uint32_t* bytes2) {
    std::lock_guard<std::mutex> api(api_);
    const auto size = static_cast<std::uint32_t>(data_.size());
    if (part1 == nullptr || bytes1 == nullptr || offset >= size || bytes == 0 || bytes > size)
        return kSoundInvalidParam;
    if (locked_)
        return kSoundInvalidCall;
    if (stream_.deviceLost())
        return kSoundBufferLost;
    const bool split = part2 != nullptr && bytes2 != nullptr;
    const std::uint32_t first = std::min(bytes, size - offset);
    const std::uint32_t second = split ? bytes - first : 0;
    {
        // Lock hands out what the buffer holds, as a direct view of it would.
        AudioStream::SourceLock device(stream_);
        std::memcpy(staging_.data() + offset, data_.data() + offset, first);
        std::memcpy(staging_.data(), data_.data(), second);
    }
    *part1 = staging_.data() + offset;
    *bytes1 = first;
    if (split) {
        *part2 = second > 0 ? staging_.data() : nullptr;
        *bytes2 = second;
    }
    locked_ = true;
    lockOffset_ = offset;
    lockBytes1_ = first;
    lockBytes2_ = second;
    return kSoundOk;
}

SoundResult StreamSoundBuffer::Unlock(void* part1, std::uint32_t bytes1, void* part2,
                                      std::uint32_t bytes2) {
    std::lock_guard<std::mutex> api(api_);
    if (!locked_)
        return kSoundInvalidCall;
    if (part1 != staging_.data() + lockOffset_ || bytes1 > lockBytes1_ || bytes2 > lockBytes2_ ||
        (bytes2 > 0 && part2 != staging_.data()))
        return kSoundInvalidParam;
    {
        AudioStream::SourceLock device(stream_);
        std::memcpy(data_.data() + lockOffset_, staging_.data() + lockOffset_, bytes1);
        std::memcpy(data_.data(), staging_.data(), bytes2);
    }
    locked_ = false;
    return kSoundOk;
}

SoundResult StreamSoundBuffer::Play(std::uint32_t flags) {
    std::lock_guard<std::mutex> api(api_);
    if (stream_.deviceLost())
        return kSoundBufferLost;
    {
        AudioStream::SourceLock device(stream_);
        looping_ = (flags & kPlayLooping) != 0;
        if (!playing_) {
            for (const PositionNotify& n : notify_)
                n.event->reset();
            moveCursor(cursor_ % totalFrames_);
            playing_ = true;
        }
    }
    return stream_.resume() ? kSoundOk : kSoundBufferLost;
}

SoundResult StreamSoundBuffer::Stop() {
    std::lock_guard<std::mutex> api(api_);
    // Once pause() returns the device thread is out of the buffer and stays out.
    stream_.pause();
    AudioStream::SourceLock device(stream_);
    playing_ = false;
    for (const PositionNotify& n : notify_)
        if (n.offset == PositionNotify::kOffsetStop)
            n.event->set();
    return kSoundOk;
}

SoundResult StreamSoundBuffer::SetCurrentPosition(std::uint32_t offset) {
    std::lock_guard<std::mutex> api(api_);
    if (offset >= data_.size())
        return kSoundInvalidParam;
    AudioStream::SourceLock device(stream_);
    moveCursor(offset / format_.blockAlign);
    return kSoundOk;
}

SoundResult StreamSoundBuffer::GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) {
    std::lock_guard<std::mutex> api(api_);
    AudioStream::SourceLock device(stream_);
    if (play != nullptr)
        *play = static_cast<std::uint32_t>((cursor_ % totalFrames_) * format_.blockAlign);
    if (write != nullptr)
        *write = static_cast<std::uint32_t>((readFrame_ % totalFrames_) * format_.blockAlign);
    return kSoundOk;
}

std::uint64_t StreamSoundBuffer::framesPlayed() {
    std::lock_guard<std::mutex> api(api_);
    AudioStream::SourceLock device(stream_);
    return cursor_ - cursorBase_;
}

SoundResult StreamSoundBuffer::GetFrequency(std::uint32_t* hz) {
    if (hz == nullptr)
        return kSoundInvalidParam;
    *hz = static_cast<std::uint32_t>(stream_.sourceRate());
    return kSoundOk;
}

SoundResult StreamSoundBuffer::SetFrequency(std::uint32_t hz) {
    std::lock_guard<std::mutex> api(api_);
    if (hz == 0)
        hz = format_.samplesPerSec;
    if (hz < kMinFrequency || hz > kMaxFrequency)
        return kSoundInvalidParam;
    // The resampler's range is narrower at low device rates; what it refuses is a bad parameter.
    return stream_.setSourceRate(static_cast<int>(hz)) ? kSoundOk : kSoundInvalidParam;
}

SoundResult StreamSoundBuffer::SetNotificationPositions(const PositionNotify* positions,
                                                        std::size_t count) {
    std::lock_guard<std::mutex> api(api_);
    if (count > 0 && positions == nullptr)
        return kSoundInvalidParam;
    std::vector<PositionNotify> list;
    for (std::size_t i = 0; i < count; ++i) {
        PositionNotify n = positions[i];
        if (n.event == nullptr)
            return kSoundInvalidParam;
        if (n.offset != PositionNotify::kOffsetStop) {
            if (n.offset >= data_.size())
                return kSoundInvalidParam;
            n.offset /= format_.blockAlign;
        }
        list.push_back(n);
    }
    AudioStream::SourceLock device(stream_);
    if (playing_)
        return kSoundInvalidCall;
    notify_ = std::move(list);
    return kSoundOk;
}

SoundResult SoundDevice::create(std::unique_ptr<SoundDevice>* out, std::string* error) {
    (void)error;
    if (out == nullptr)
        return kSoundInvalidParam;
    out->reset();
    // No driver is no failure: each buffer then plays into its null output and says why.
    std::string ignored;
    out->reset(new SoundDevice(acquireAudioSubsystem(&ignored)));
    return kSoundOk;
}

SoundDevice::~SoundDevice() {
    if (holdsSubsystem_)
        releaseAudioSubsystem();
}

SoundResult SoundDevice::CreateSoundBuffer(const WaveFormat& format, std::uint32_t bytes,
                                           std::unique_ptr<SoundBuffer>* out, std::string* error) {
    if (out == nullptr)
        return kSoundInvalidParam;
    std::unique_ptr<StreamSoundBuffer> buffer;
    const SoundResult r = StreamSoundBuffer::create(format, bytes, &buffer, error);
    *out = std::move(buffer);
    return r;
}

}  // namespace platform
