#pragma once

// The host's hold on one control: finding and registering its module, creating it by ProgID
// through the per-user store, and talking to it through the dispatch interface, as a page's
// script would. No Qt here.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <variant>

#include "control/shell/IPicvoxer.h"

namespace picvoxhost {

// The libpicvox.so installed beside the program: in its folder (the build tree), or in the
// module folder of the same installation (KORVEX_MODULE_DIR). Empty when there is none.
std::string moduleBesideProgram();

// Calls the module's DllRegisterServer (or DllUnregisterServer). False, with a reason, when the
// module cannot be loaded or the entry point fails.
bool callRegistrationEntry(const std::string& modulePath, bool unregister, std::string* error);

// A property's value as the dispatch interface hands it out.
using PropertyValue = std::variant<std::int32_t, std::string>;

class ControlHandle {
public:
    enum class SetResult { Done, NotAProperty, NotANumber, Refused };

    // Creates the control by ProgID. When the class is not registered or its registered module
    // cannot be loaded, registers the module beside the program, says so on `notes` and tries
    // again. Empty with a reason when no control can be made.
    static std::optional<ControlHandle> create(std::ostream& notes, std::string* error);

    ControlHandle(ControlHandle&& other) noexcept;
    ControlHandle& operator=(ControlHandle&&) = delete;
    ControlHandle(const ControlHandle&) = delete;
    ControlHandle& operator=(const ControlHandle&) = delete;
    ~ControlHandle();

    // Looks `name` up with GetIDsOfNames (any letter case) and puts `text` through Invoke as the
    // property's own type: a number for an integer property, the text otherwise.
    SetResult setProperty(const std::string& name, const std::string& text);
    // Nothing when `name` is not a property.
    std::optional<PropertyValue> property(const std::string& name);
    std::string textProperty(const std::string& name);
    std::int32_t intProperty(const std::string& name);

    void start();
    void stop();

    picvox::IHostedControl* hosted() const { return hosted_; }

private:
    ControlHandle(picvox::IPicvoxer* control, picvox::IHostedControl* hosted)
        : control_(control), hosted_(hosted) {}
    std::optional<platform::com::DISPID> dispId(const std::string& name);
    void invokeMethod(platform::com::DISPID id);

    picvox::IPicvoxer* control_ = nullptr;
    picvox::IHostedControl* hosted_ = nullptr;
};

// "0x"-prefixed hexadecimal or decimal, optionally negative, within 32 bits (hexadecimal up to
// 0xFFFFFFFF, read as the same bits). Nothing otherwise.
std::optional<std::int32_t> parseInt32(const std::string& text);

}  // namespace picvoxhost
