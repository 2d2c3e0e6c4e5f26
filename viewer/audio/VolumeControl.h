#pragma once

#include <cstdint>
#include <memory>

#include "platform/audio/MixerDevice.h"

namespace korvex {

// The computer's master speaker volume in percent, for the control panel's volume trackbar.
// The application owns the one instance (opened at start-up, closed at exit). The volume control
// is looked up on first use and cached; a failed look-up is tried again on the next call. Any
// failing mixer call makes the operation return 0.
class VolumeControl {
public:
    explicit VolumeControl(std::unique_ptr<platform::MixerDevice> mixer);
    ~VolumeControl();
    VolumeControl(const VolumeControl&) = delete;
    VolumeControl& operator=(const VolumeControl&) = delete;

    // 1 when the mixer is (already) open.
    int openMixer();
    // Closes the mixer and forgets the cached control.
    void closeMixer();
    // 1 on success with `percent` from 0 to 100.
    int getVolume(std::uint32_t& percent);
    // `percent` from 0 to 100; 1 on success.
    int setVolume(std::uint32_t percent);

    // Raw value <-> percent, in the mixer's unsigned arithmetic (rounded to nearest / truncated).
    static std::uint32_t percentOf(std::uint32_t value, std::uint32_t minimum,
                                   std::uint32_t maximum);
    static std::uint32_t valueFor(std::uint32_t percent, std::uint32_t minimum,
                                  std::uint32_t maximum);

private:
    bool lookUpControl();

    std::unique_ptr<platform::MixerDevice> mixer_;
    bool open_ = false;
    std::int64_t controlId_ = -1;
    std::uint32_t minimum_ = 0;
    std::uint32_t maximum_ = 0;
};

// The panel's volume trackbar (positions 0 to rangeMax) and the volume in percent.
std::uint32_t trackbarPercent(int position, int rangeMax = 10);
int trackbarPosition(std::uint32_t percent, int rangeMax = 10);

}  // namespace korvex
