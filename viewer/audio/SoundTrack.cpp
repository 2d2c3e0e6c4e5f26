#include "viewer/audio/SoundTrack.h"

#include "platform/FileSystem.h"
#include "viewer/audio/MediaPlayer.h"
#include "viewer/audio/TrackOutput.h"

namespace korvex {

SoundTrack::SoundTrack(SoundMessagePort* messages) : messages_(messages) {}

SoundTrack::~SoundTrack() {
    closeSound();
}

std::string SoundTrack::findTrack(const std::string& folder, SoundKind& kind) {
    static constexpr struct {
        const char* name;
        SoundKind kind;
    } kCandidates[] = {
        {"sound.wav", soundWav},
        {"SOUND/sound.wav", soundWav},
        {"sound.mp3", soundMp3},
        {"SOUND/sound.mp3", soundMp3},
    };
    for (const auto& c : kCandidates) {
        std::string found = platform::findFileNoCase(folder, c.name);
        if (!found.empty()) {
            kind = c.kind;
            return found;
        }
    }
    kind = soundNone;
    return {};
}

int SoundTrack::openSound(const std::string& folder) {
    closeSound();
    lastCommand_ = SoundCommand::none;
    path_ = findTrack(folder, kind_);
    if (path_.empty()) {
        noSound_ = 1;
        return 0;
    }
    noSound_ = 0;
    if (kind_ == soundWav) {
        auto out = std::make_unique<TrackOutput>();
        if (!out->open(path_))
            return 0;
        device_ = out->deviceId();
        wav_ = std::move(out);
        return 1;
    }
    auto player = std::make_unique<MediaPlayer>(messages_);
    if (player->open(path_) == 0)
        return 0;
    device_ = 1;
    mp3_ = std::move(player);
    return 1;
}

TrackOutput* SoundTrack::wavOutput() const {
    return isOpen() ? wav_.get() : nullptr;
}

int SoundTrack::deviceBufferFrames() const {
    if (wav_)
        return wav_->deviceBufferFrames();
    if (mp3_)
        return mp3_->output().deviceBufferFrames();
    return 0;
}

bool SoundTrack::silentOutput() const {
    if (wav_)
        return wav_->silent();
    if (mp3_)
        return mp3_->output().silent();
    return false;
}

int SoundTrack::playFrom(std::uint32_t ms, int channel) {
    if (!isOpen())
        return 0;
    if (TrackOutput* wav = wavOutput()) {
        // The waveform device refuses a start beyond the end of the file.
        if (ms > wav->lengthMs() || !wav->seekMs(ms) || !wav->play())
            return 0;
        lastCommand_ = SoundCommand::play;
        return 1;
    }
    if (mp3_->setPosition(ms) == 0)
        return 0;
    // The balance goes on before the sound starts, so that not even the first block is heard
    // on the side that was switched off; a bad channel number is still reported after running.
    int balance = 0;
    const bool knownChannel = MediaPlayer::balanceForChannel(channel, balance);
    if (knownChannel && mp3_->setChannel(channel) == 0)
        return 0;
    if (mp3_->run() == 0)
        return 0;
    lastCommand_ = SoundCommand::play;
    if (!knownChannel)
        return mp3_->setChannel(channel);
    return 1;
}

int SoundTrack::pauseSound() {
    if (!isOpen())
        return 0;
    if (TrackOutput* wav = wavOutput()) {
        if (!wav->pause())
            return 0;
    } else if (mp3_->pause() == 0) {
        return 0;
    }
    lastCommand_ = SoundCommand::pause;
    return 1;
}

int SoundTrack::stopSound() {
    if (!isOpen())
        return 0;
    if (TrackOutput* wav = wavOutput()) {
        // Halted first, so that no block from the start is played before the stop.
        if (!wav->pause() || !wav->seekFrame(0))
            return 0;
    } else if (mp3_->stop() == 0) {
        return 0;
    }
    lastCommand_ = SoundCommand::stop;
    return 1;
}

void SoundTrack::closeSound() {
    // The MediaPlayer puts the balance back as it closes.
    if (mp3_)
        mp3_->close();
    mp3_.reset();
    wav_.reset();
    device_ = 0;
}

int SoundTrack::seekSoundStart() {
    if (!isOpen())
        return 0;
    if (TrackOutput* wav = wavOutput()) {
        // A seek stops the waveform device.
        return wav->pause() && wav->seekFrame(0) ? 1 : 0;
    }
    return mp3_->seekStart();
}

int SoundTrack::seekSoundEnd() {
    if (!isOpen())
        return 0;
    if (TrackOutput* wav = wavOutput()) {
        return wav->pause() && wav->seekFrame(wav->lengthFrames()) ? 1 : 0;
    }
    return mp3_->seekEnd();
}

std::uint32_t SoundTrack::soundLength() {
    if (!isOpen())
        return 0;
    if (TrackOutput* wav = wavOutput()) {
        // Seek to the end, read the position, seek back: the track is left stopped at its start.
        if (!wav->pause() || !wav->seekFrame(wav->lengthFrames()))
            return 0;
        const std::uint32_t length = wav->positionMs();
        if (!wav->seekFrame(0))
            return 0;
        return length;
    }
    return mp3_->length();
}

std::uint32_t SoundTrack::soundPosition() {
    if (!isOpen())
        return 0;
    if (TrackOutput* wav = wavOutput())
        return wav->positionMs();
    return mp3_->position();
}

int SoundTrack::setChannel(int channel) {
    if (!isOpen())
        return 0;
    // The waveform device has no balance: a WAV track always plays as recorded.
    if (wavOutput() != nullptr)
        return 0;
    return mp3_->setChannel(channel);
}

}  // namespace korvex
