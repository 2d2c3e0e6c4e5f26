#include "viewer/audio/MediaPlayer.h"

#include <exception>

namespace korvex {

MediaPlayer::MediaPlayer(SoundMessagePort* messages) : messages_(messages) {}

MediaPlayer::~MediaPlayer() {
    close();
}

void MediaPlayer::tell(const char* text) {
    if (messages_ != nullptr)
        messages_->showSoundError(text);
}

int MediaPlayer::open(const std::string& path) {
    try {
        close();
        // A file that does not decode, or no sound device, is a plain failure without a message.
        if (!out_.open(path))
            return 0;
        savedBalance_ = out_.balance();
        return 1;
    } catch (const std::exception&) {
        out_.close();
        tell("Failed Create Player");
        return 0;
    }
}

void MediaPlayer::close() {
    if (!out_.isOpen())
        return;
    out_.setBalance(savedBalance_);
    out_.close();
}

int MediaPlayer::setPosition(std::uint32_t ms) {
    // Beyond the end the player rests at the end and plays nothing.
    if (!out_.seekMs(ms)) {
        tell("Failed Set Position");
        return 0;
    }
    return 1;
}

int MediaPlayer::run() {
    if (!out_.play()) {
        tell("Failed Play");
        return 0;
    }
    return 1;
}

int MediaPlayer::pause() {
    if (!out_.pause()) {
        tell("Failed Pause");
        return 0;
    }
    return 1;
}

int MediaPlayer::stop() {
    if (!out_.pause()) {
        tell("Failed Stop");
        return 0;
    }
    return setPosition(0);
}

int MediaPlayer::seekStart() {
    return setPosition(0);
}

int MediaPlayer::seekEnd() {
    const std::uint32_t wholeSeconds = out_.lengthMs() / 1000;
    return setPosition(wholeSeconds * 1000);
}

std::uint32_t MediaPlayer::length() {
    if (seekEnd() == 0)
        return 0;
    return position();
}

bool MediaPlayer::balanceForChannel(int channel, int& balance) {
    switch (channel) {
        case 1:
            balance = -10000;
            return true;
        case 2:
            balance = 10000;
            return true;
        case 3:
            balance = 0;
            return true;
        default:
            return false;
    }
}

int MediaPlayer::setChannel(int channel) {
    int balance = 0;
    if (!balanceForChannel(channel, balance)) {
        tell("Not Found ChannelNo");
        return 0;
    }
    if (!out_.setBalance(balance)) {
        tell("Failed Set Channel");
        return 0;
    }
    return 1;
}

}  // namespace korvex
