#pragma once

#include <cstdint>
#include <string>

#include "viewer/audio/SoundMessagePort.h"
#include "viewer/audio/TrackOutput.h"

namespace korvex {

// The MP3 track's player. Every failure is shown through the message port ("Failed Set
// Position", "Failed Play", ...) and reported as 0. It remembers the balance in effect when the
// track was opened and puts it back when the track is closed.
class MediaPlayer {
public:
    explicit MediaPlayer(SoundMessagePort* messages);
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    int open(const std::string& path);
    void close();
    bool isOpen() const { return out_.isOpen(); }

    int setPosition(std::uint32_t ms);
    int run();
    int pause();
    // Stops, then positions to the start.
    int stop();
    int seekStart();
    // Positions to the stop time, which the player keeps in whole seconds.
    int seekEnd();
    std::uint32_t length();
    std::uint32_t position() const { return out_.positionMs(); }
    // 1 = left only, 2 = right only, 3 = both.
    int setChannel(int channel);
    // The balance `channel` stands for; false for a number other than 1, 2 or 3.
    static bool balanceForChannel(int channel, int& balance);

    const TrackOutput& output() const { return out_; }

private:
    void tell(const char* text);

    SoundMessagePort* messages_;
    TrackOutput out_;
    int savedBalance_ = 0;
};

}  // namespace korvex
