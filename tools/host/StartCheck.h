#pragma once

// What a page must have set before Start for the run to do anything, said in words. The control
// itself only reports a failed run with the page's error message, which names nothing.

#include <cstdint>
#include <string>
#include <vector>

namespace picvoxhost {

class ControlHandle;

// The properties that decide whether a run can start.
struct StartSettings {
    std::string location;
    std::string imageUrl;
    std::string waveUrl;
    std::int32_t cacheTimeMs = 0;
    std::int32_t hddSave = 0;
    std::int32_t pictureIntervalMs = 0;
    std::int32_t destinationSW = 0;
    std::int32_t saveTimeSeconds = 0;
};

StartSettings startSettingsOf(ControlHandle& control);

// One text per missing or unusable property, for the mode the settings choose; empty when the
// run can start.
std::vector<std::string> startProblems(const StartSettings& settings);

// "Not started: " and the problems, for a refused Start; empty when there are none.
std::string startRefusal(const std::vector<std::string>& problems);
// "Cannot start yet: " and the problems, for a page still being set up; empty when none.
std::string startHint(const std::vector<std::string>& problems);

}  // namespace picvoxhost
