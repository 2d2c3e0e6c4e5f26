#pragma once

#include <string>

namespace korvex {

// Where the sound track's failures are told to the user. The shell shows each text in a message
// box with the error icon, owned by the main window; a headless host may print it.
class SoundMessagePort {
public:
    virtual ~SoundMessagePort() = default;
    virtual void showSoundError(const std::string& text) { (void)text; }
};

}  // namespace korvex
