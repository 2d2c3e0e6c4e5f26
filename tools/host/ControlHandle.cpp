#include "tools/host/ControlHandle.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "platform/com/Automation.h"
#include "platform/com/ComHost.h"

namespace picvoxhost {

using namespace platform::com;
namespace fs = std::filesystem;

#ifndef PICVOX_HOST_MODULE_DIR_FROM_BINDIR
#define PICVOX_HOST_MODULE_DIR_FROM_BINDIR "../lib/korvex"
#endif

std::string moduleBesideProgram() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    const fs::path dir = exe.parent_path();
    for (const fs::path& candidate :
         {dir / "libpicvox.so", dir / PICVOX_HOST_MODULE_DIR_FROM_BINDIR / "libpicvox.so"}) {
        if (fs::is_regular_file(candidate, ec))
            return fs::weakly_canonical(candidate, ec).string();
    }
    return {};
}

bool callRegistrationEntry(const std::string& modulePath, bool unregister, std::string* error) {
    void* module = ::dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        if (error) {
            const char* why = ::dlerror();
            *error = "cannot load " + modulePath + (why ? std::string(": ") + why : "");
        }
        return false;
    }
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    using Entry = HRESULT (*)();
    auto entry = reinterpret_cast<Entry>(::dlsym(module, entryName));
    bool ok = false;
    if (!entry) {
        if (error)
            *error = modulePath + " has no " + entryName;
    } else {
        ok = succeeded(entry());
        if (!ok && error)
            *error = std::string(entryName) + " of " + modulePath + " failed";
    }
    ::dlclose(module);
    return ok;
}

std::optional<ControlHandle> ControlHandle::create(std::ostream& notes, std::string* error) {
    auto tryCreate = [](HRESULT& hr) -> std::optional<ControlHandle> {
        picvox::IPicvoxer* control = nullptr;
        hr = CoCreateInstanceFromStore(picvox::kPicvoxProgId, picvox::IID_IPicvoxer,
                                       reinterpret_cast<void**>(&control));
        if (failed(hr) || !control)
            return std::nullopt;
        picvox::IHostedControl* hosted = nullptr;
        hr = control->QueryInterface(picvox::IID_IHostedControl, reinterpret_cast<void**>(&hosted));
        if (failed(hr) || !hosted) {
            control->Release();
            return std::nullopt;
        }
        return ControlHandle(control, hosted);
    };
    HRESULT hr = S_OK;
    if (auto made = tryCreate(hr))
        return made;
    // Not registered, or registered to a module that is gone: register ours and try again.
    const std::string module = moduleBesideProgram();
    if (module.empty()) {
        if (error)
            *error = std::string(picvox::kPicvoxProgId) +
                     " is not registered and no libpicvox.so is installed beside the program";
        return std::nullopt;
    }
    std::string why;
    if (!callRegistrationEntry(module, false, &why)) {
        if (error)
            *error = why;
        return std::nullopt;
    }
    notes << "picvox-host: registered " << picvox::kPicvoxProgId << " to " << module
          << " in the per-user store\n";
    if (auto made = tryCreate(hr))
        return made;
    if (error) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        *error = std::string("cannot create ") + picvox::kPicvoxProgId + " (" + code + ")";
    }
    return std::nullopt;
}

ControlHandle::ControlHandle(ControlHandle&& other) noexcept
    : control_(std::exchange(other.control_, nullptr)),
      hosted_(std::exchange(other.hosted_, nullptr)) {}

ControlHandle::~ControlHandle() {
    if (hosted_)
        hosted_->Release();
    if (control_)
        control_->Release();
}

std::optional<DISPID> ControlHandle::dispId(const std::string& name) {
    std::u16string wide = utf8ToUtf16(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    if (failed(control_->GetIDsOfNames(IID_NULL, names, 1, 0, &id)))
        return std::nullopt;
    return id;
}

std::optional<PropertyValue> ControlHandle::property(const std::string& name) {
    const auto id = dispId(name);
    if (!id)
        return std::nullopt;
    DISPPARAMS none;
    Variant result;
    // Methods answer a property get with DISP_E_MEMBERNOTFOUND: they are not properties.
    if (failed(control_->Invoke(*id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                nullptr)))
        return std::nullopt;
    if (result.vt == VT_I4)
        return PropertyValue(result.lVal);
    if (result.vt == VT_BSTR)
        return PropertyValue(utf8FromBstr(result.bstrVal));
    return std::nullopt;
}

std::string ControlHandle::textProperty(const std::string& name) {
    const auto v = property(name);
    return v && std::holds_alternative<std::string>(*v) ? std::get<std::string>(*v) : std::string();
}

std::int32_t ControlHandle::intProperty(const std::string& name) {
    const auto v = property(name);
    return v && std::holds_alternative<std::int32_t>(*v) ? std::get<std::int32_t>(*v) : 0;
}

ControlHandle::SetResult ControlHandle::setProperty(const std::string& name,
                                                    const std::string& text) {
    const auto id = dispId(name);
    if (!id)
        return SetResult::NotAProperty;
    const auto current = property(name);
    if (!current)
        return SetResult::NotAProperty;
    const bool isNumber = std::holds_alternative<std::int32_t>(*current);
    std::optional<std::int32_t> number;
    if (isNumber && !(number = parseInt32(text)))
        return SetResult::NotANumber;
    Variant arg = isNumber ? Variant(*number) : Variant::text(text);
    if (!isNumber && !arg.bstrVal && !text.empty())
        return SetResult::Refused;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params;
    params.rgvarg = &arg;
    params.rgdispidNamedArgs = &named;
    params.cArgs = 1;
    params.cNamedArgs = 1;
    const HRESULT hr = control_->Invoke(*id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr,
                                        nullptr, nullptr);
    return failed(hr) ? SetResult::Refused : SetResult::Done;
}

void ControlHandle::invokeMethod(DISPID id) {
    DISPPARAMS none;
    control_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

void ControlHandle::start() {
    if (const auto id = dispId("Start"))
        invokeMethod(*id);
}

void ControlHandle::stop() {
    if (const auto id = dispId("Stop"))
        invokeMethod(*id);
}

std::optional<std::int32_t> parseInt32(const std::string& text) {
    if (text.empty() || text.front() == ' ' || text.front() == '+')
        return std::nullopt;
    const bool negative = text.front() == '-';
    const std::string digits = negative ? text.substr(1) : text;
    const bool hex =
        digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (digits.empty() || (hex && negative))
        return std::nullopt;
    for (std::size_t i = hex ? 2 : 0; i < digits.size(); ++i) {
        const char c = digits[i];
        if (!(c >= '0' && c <= '9') && !(hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))))
            return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || !end || *end != '\0')
        return std::nullopt;
    if (hex) {
        if (value > 0xFFFFFFFFLL)
            return std::nullopt;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace picvoxhost
