#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// The computer's master output volume as a mixer presents it: mixer device 0, its speakers
// line and that line's volume control. Raw values are unsigned; a control's range is
// [minimum, maximum]. Every call reports failure instead of throwing.
class MixerDevice {
public:
    struct VolumeControlInfo {
        std::uint32_t id = 0;
        std::uint32_t minimum = 0;
        std::uint32_t maximum = 0;
    };

    virtual ~MixerDevice() = default;
    // Opens mixer device 0 and reads its capabilities.
    virtual bool open() = 0;
    virtual void close() = 0;
    // Finds the speakers line's volume control (the mixer must be open).
    virtual bool findSpeakerVolume(VolumeControlInfo& out) = 0;
    // Reads / writes the control as one value for all channels.
    virtual bool getValue(std::uint32_t controlId, std::uint32_t& value) = 0;
    virtual bool setValue(std::uint32_t controlId, std::uint32_t value) = 0;
};

// The ALSA simple mixer of the default card: the "Master" playback volume, else the first element
// with a playback volume. Without a sound card every call fails.
std::unique_ptr<MixerDevice> makeAlsaMixer();

}  // namespace platform
