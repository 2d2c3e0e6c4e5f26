#include "tests/support/FakeMixer.h"

namespace korvex::test {

bool FakeMixer::open() {
    ++s_.opens;
    if (s_.openFails)
        return false;
    s_.open = true;
    return true;
}

void FakeMixer::close() {
    ++s_.closes;
    s_.open = false;
}

bool FakeMixer::findSpeakerVolume(VolumeControlInfo& out) {
    ++s_.finds;
    if (!s_.open || s_.findFails)
        return false;
    out.id = kControlId;
    out.minimum = s_.minimum;
    out.maximum = s_.maximum;
    return true;
}

bool FakeMixer::getValue(std::uint32_t controlId, std::uint32_t& value) {
    if (!s_.open || s_.getFails || controlId != kControlId)
        return false;
    value = s_.value;
    return true;
}

bool FakeMixer::setValue(std::uint32_t controlId, std::uint32_t value) {
    if (!s_.open || s_.setFails || controlId != kControlId)
        return false;
    s_.value = value;
    return true;
}

}  // namespace korvex::test
