#pragma once

#include <cstdint>

#include "platform/audio/MixerDevice.h"

namespace korvex::test {

// A mixer whose volume control (id 7) has a chosen range and value; each step can be told to
// fail, and the calls are counted. The state lives with the test, so it can change the volume
// behind the back of whoever owns the mixer.
class FakeMixer : public platform::MixerDevice {
public:
    struct State {
        bool openFails = false;
        bool findFails = false;
        bool getFails = false;
        bool setFails = false;
        std::uint32_t minimum = 0;
        std::uint32_t maximum = 65535;
        std::uint32_t value = 0;
        int opens = 0;
        int closes = 0;
        int finds = 0;
        bool open = false;
    };
    static constexpr std::uint32_t kControlId = 7;

    explicit FakeMixer(State& state) : s_(state) {}
    bool open() override;
    void close() override;
    bool findSpeakerVolume(VolumeControlInfo& out) override;
    bool getValue(std::uint32_t controlId, std::uint32_t& value) override;
    bool setValue(std::uint32_t controlId, std::uint32_t value) override;

private:
    State& s_;
};

}  // namespace korvex::test
