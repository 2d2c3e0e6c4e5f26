#pragma once

// The built-in recorder of --demo: dvrsim in this process on a free loopback port, and the
// properties a recorder's page would set for each mode against it.

#include <memory>
#include <string>
#include <vector>

#include "tools/host/HostOptions.h"

namespace korvex::sim {
class DvrSim;
}

namespace picvoxhost {

// Length of a demo save run, in seconds.
inline constexpr int kDemoSaveSeconds = 20;

// The simulator, started; null with a reason when it cannot be.
std::unique_ptr<korvex::sim::DvrSim> startDemoRecorder(std::string* error);

// Where demo runs are saved: "Picvox" in the user's videos folder, else in the home folder
// (created when missing).
std::string demoDestination();

// The page's properties for `mode` against the recorder at `baseUrl` ("http://host:port/").
std::vector<PropertySetting> demoProperties(DemoMode mode, const std::string& baseUrl,
                                            const std::string& destination);

}  // namespace picvoxhost
