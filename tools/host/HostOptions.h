#pragma once

// The command line of picvox-host, parsed without touching the control: what to do, how to show
// the control, which properties to set and when to end.

#include <optional>
#include <string>
#include <vector>

namespace picvoxhost {

enum class DemoMode { None, Live, Save, Pictures, Download };

struct PropertySetting {
    std::string name;
    std::string value;
};

struct HostOptions {
    bool help = false;
    bool registerOnly = false;
    bool unregisterOnly = false;
    bool headless = false;
    int width = 720;
    int height = 480;
    std::vector<PropertySetting> settings;  // in the order given
    DemoMode demo = DemoMode::None;
    int runSeconds = 0;  // 0: no limit
    std::optional<std::string> chooseFolder;
    std::string screenshot;
    // A recorder behind a login: the user, and where the password comes from (else
    // PICVOX_PASSWORD, else a prompt on the terminal).
    std::optional<std::string> user;
    std::string passwordFile;
    std::string trustCertificate;   // 64 lower-case hex digits, or empty
    std::string forgetCertificate;  // HOST:PORT: forget its trusted certificate, nothing else
};

struct ParsedArguments {
    HostOptions options;
    std::string error;  // not empty: a usage error, naming what is wrong
};

ParsedArguments parseHostArguments(const std::vector<std::string>& args);

// "live", "save", "pictures", "download".
const char* demoModeName(DemoMode mode);

// The --help text.
const char* hostUsage();

}  // namespace picvoxhost
