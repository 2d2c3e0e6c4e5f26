#pragma once

// Where window mode remembers a recorder's password: the desktop's secret store, never a file
// of ours. One item per recorder and realm.

#include <memory>
#include <optional>
#include <string>

#include "tools/host/HostSite.h"

namespace picvoxhost {

class PasswordKeyring {
public:
    virtual ~PasswordKeyring() = default;
    virtual std::optional<HostLogin> read(const std::string& item) = 0;
    virtual bool write(const std::string& item, const HostLogin& login) = 0;
    virtual void forget(const std::string& item) = 0;
};

// The item of a recorder's realm: "https://host:port realm=\"NAME\"", so that two recorders (or
// two realms of one) never share a password.
std::string keyringItem(const std::string& recorder, const std::string& realm);

// The desktop's secret store through QtKeychain (the Secret Service, KWallet, ...), service
// "picvox-host". Each call waits on the GUI thread's events for at most kWaitMs; with no secret
// store it reads nothing and keeps nothing.
class DesktopKeyring final : public PasswordKeyring {
public:
    static constexpr int kWaitMs = 30000;
    std::optional<HostLogin> read(const std::string& item) override;
    bool write(const std::string& item, const HostLogin& login) override;
    void forget(const std::string& item) override;
};

}  // namespace picvoxhost
