// The four entry points of libpicvox.so; the only symbols the module exports.

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "control/shell/IPicvoxer.h"
#include "control/shell/PicvoxModule.h"
#include "platform/com/UserStore.h"

using namespace platform::com;

#define PICVOX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The module's own full path, as the registration's "%MODULE%".
std::string modulePath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&modulePath), &info) == 0 || !info.dli_fname)
        return {};
    char resolved[PATH_MAX];
    if (!::realpath(info.dli_fname, resolved))
        return {};
    return resolved;
}

}  // namespace

PICVOX_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!(rclsid == picvox::CLSID_Picvoxer))
        return CLASS_E_CLASSNOTAVAILABLE;
    return picvox::picvoxClassFactory().QueryInterface(riid, ppv);
}

PICVOX_EXPORT HRESULT DllCanUnloadNow() {
    return picvox::moduleLockCount() == 0 ? S_OK : S_FALSE;
}

PICVOX_EXPORT HRESULT DllRegisterServer() {
    std::string path = modulePath();
    if (path.empty())
        return SELFREG_E_CLASS;
    bool ok = UserStore::update(UserStore::defaultPath(), [&](UserStore& store) {
        return picvox::registerPicvox(store, path);
    });
    return ok ? S_OK : SELFREG_E_CLASS;
}

PICVOX_EXPORT HRESULT DllUnregisterServer() {
    bool ok = UserStore::update(UserStore::defaultPath(), [](UserStore& store) {
        picvox::unregisterPicvox(store);
        return true;
    });
    return ok ? S_OK : SELFREG_E_CLASS;
}
