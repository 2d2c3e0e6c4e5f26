#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "viewer/audio/SoundMessagePort.h"

namespace korvex {

class MediaPlayer;
class TrackOutput;

enum SoundKind : int { soundNone = 0, soundWav = 1, soundMp3 = 2 };

enum class SoundCommand { none, play, pause, stop };

// A recording's sound track, played in step with its pictures. Positions are milliseconds from
// the start of the file, counted from the samples played. A WAV track behaves like the
// platform's waveform device (a seek stops it; the channel choice is not used); an MP3 track
// goes through the MediaPlayer, which plays one side only on request and reports its failures
// through the message port. Every operation comes from the UI thread; on a track that is not
// open they fail (0).
class SoundTrack {
public:
    explicit SoundTrack(SoundMessagePort* messages = nullptr);
    ~SoundTrack();
    SoundTrack(const SoundTrack&) = delete;
    SoundTrack& operator=(const SoundTrack&) = delete;

    // Finds the folder's track ("sound.wav", "SOUND/sound.wav", "sound.mp3", "SOUND/sound.mp3",
    // the first that exists, names matched without regard to case) and opens it.
    int openSound(const std::string& folder);
    int playFrom(std::uint32_t ms, int channel);
    int pauseSound();
    // Rewinds to the start and stops.
    int stopSound();
    void closeSound();
    int seekSoundStart();
    int seekSoundEnd();
    std::uint32_t soundLength();
    std::uint32_t soundPosition();
    int setChannel(int channel);

    const std::string& path() const { return path_; }
    // Non-zero while open: the output device for WAV, 1 for MP3.
    std::uint32_t device() const { return device_; }
    SoundCommand lastCommand() const { return lastCommand_; }
    SoundKind kind() const { return kind_; }
    int noSound() const { return noSound_; }
    // Frames per device block of the open track (0 when closed): the position's granularity.
    int deviceBufferFrames() const;
    // The open track plays unheard: there is no sound device. Positions still follow its pace.
    bool silentOutput() const;

    // The track the folder holds, in the order above; empty when none.
    static std::string findTrack(const std::string& folder, SoundKind& kind);

private:
    bool isOpen() const { return device_ != 0; }
    TrackOutput* wavOutput() const;

    SoundMessagePort* messages_;
    std::string path_;
    std::uint32_t device_ = 0;
    SoundCommand lastCommand_ = SoundCommand::none;
    SoundKind kind_ = soundNone;
    int noSound_ = 0;
    std::unique_ptr<TrackOutput> wav_;
    std::unique_ptr<MediaPlayer> mp3_;
};

}  // namespace korvex
