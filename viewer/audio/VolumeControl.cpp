#include "viewer/audio/VolumeControl.h"

#include <algorithm>

namespace korvex {

VolumeControl::VolumeControl(std::unique_ptr<platform::MixerDevice> mixer)
    : mixer_(std::move(mixer)) {}

VolumeControl::~VolumeControl() {
    closeMixer();
}

int VolumeControl::openMixer() {
    if (open_)
        return 1;
    if (!mixer_ || !mixer_->open())
        return 0;
    open_ = true;
    return 1;
}

void VolumeControl::closeMixer() {
    if (open_ && mixer_)
        mixer_->close();
    open_ = false;
    controlId_ = -1;
}

bool VolumeControl::lookUpControl() {
    if (controlId_ != -1)
        return true;
    if (openMixer() == 0)
        return false;
    platform::MixerDevice::VolumeControlInfo info;
    // A control whose range is empty cannot be scaled to percent (it would divide by zero).
    if (!mixer_->findSpeakerVolume(info) || info.maximum <= info.minimum)
        return false;
    controlId_ = info.id;
    minimum_ = info.minimum;
    maximum_ = info.maximum;
    return true;
}

std::uint32_t VolumeControl::percentOf(std::uint32_t value, std::uint32_t minimum,
                                       std::uint32_t maximum) {
    if (maximum <= minimum)
        return 0;
    // A reading outside the control's own range would wrap around in unsigned arithmetic.
    value = std::clamp(value, minimum, maximum);
    // Widened so that ranges beyond 42,949,672 do not overflow; equal to the 32-bit result
    // wherever that one is defined.
    const std::uint64_t range = maximum - minimum;
    const std::uint64_t pct =
        (range / 2 + std::uint64_t{value} * 100 - std::uint64_t{minimum} * 100) / range;
    return static_cast<std::uint32_t>(pct);
}

std::uint32_t VolumeControl::valueFor(std::uint32_t percent, std::uint32_t minimum,
                                      std::uint32_t maximum) {
    if (maximum <= minimum)
        return minimum;
    percent = std::min<std::uint32_t>(percent, 100);
    const std::uint64_t range = maximum - minimum;
    return static_cast<std::uint32_t>(minimum + std::uint64_t{percent} * range / 100);
}

int VolumeControl::getVolume(std::uint32_t& percent) {
    if (!lookUpControl())
        return 0;
    std::uint32_t value = 0;
    if (!mixer_->getValue(static_cast<std::uint32_t>(controlId_), value))
        return 0;
    percent = percentOf(value, minimum_, maximum_);
    return 1;
}

int VolumeControl::setVolume(std::uint32_t percent) {
    if (!lookUpControl())
        return 0;
    const std::uint32_t value = valueFor(percent, minimum_, maximum_);
    return mixer_->setValue(static_cast<std::uint32_t>(controlId_), value) ? 1 : 0;
}

std::uint32_t trackbarPercent(int position, int rangeMax) {
    if (rangeMax <= 0 || position <= 0)
        return 0;
    return static_cast<std::uint32_t>(position) * (100u / static_cast<std::uint32_t>(rangeMax));
}

int trackbarPosition(std::uint32_t percent, int rangeMax) {
    if (rangeMax <= 0 || rangeMax > 100)
        return 0;
    return static_cast<int>(percent / (100u / static_cast<std::uint32_t>(rangeMax)));
}

}  // namespace korvex
