#include "platform/com/ComHost.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <optional>

#include "platform/UserStore.h"

namespace platform::com {

namespace {

// The modules this process has loaded for components, by path. Process-wide by nature (a module
// is loaded once per process); this record is its only owner.
struct ModuleTable {
    std::mutex lock;
    std::map<std::string, void*> handles;
};

ModuleTable& moduleTable() {
    static ModuleTable table;
    return table;
}

std::string classesKey(std::string_view sub) {
    std::string k(kClassesRoot);
    k += '\\';
    k.append(sub);
    return k;
}

std::optional<std::string> defaultValue(const UserStore& store, const std::string& key) {
    return store.value(key, "");
}

// Loads `path` once; null when it cannot be loaded.
void* loadModule(const std::string& path) {
    ModuleTable& table = moduleTable();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.handles.find(path);
    if (it != table.handles.end())
        return it->second;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    table.handles.emplace(path, handle);
    return handle;
}

}  // namespace

HRESULT CLSIDFromProgIDInStore(const std::string& storePath, std::string_view progIdOrClsid,
                               CLSID& out) {
    if (progIdOrClsid.empty())
        return CO_E_CLASSSTRING;
    if (progIdOrClsid.front() == '{') {
        return guidFromString(progIdOrClsid, out) ? S_OK : CO_E_CLASSSTRING;
    }
    // A ProgID is one key name; a "\" would reach elsewhere in the store.
    if (progIdOrClsid.find('\\') != std::string_view::npos)
        return CO_E_CLASSSTRING;
    UserStore store;
    if (!store.load(storePath))
        return REGDB_E_CLASSNOTREG;
    std::string progId(progIdOrClsid);
    auto clsidText = defaultValue(store, classesKey(progId + "\\CLSID"));
    if (!clsidText) {
        // A version-independent ProgID names its current version.
        auto current = defaultValue(store, classesKey(progId + "\\CurVer"));
        if (!current || current->empty() || current->find('\\') != std::string::npos) {
            return CO_E_CLASSSTRING;
        }
        clsidText = defaultValue(store, classesKey(*current + "\\CLSID"));
        if (!clsidText)
            return CO_E_CLASSSTRING;
    }
    return guidFromString(*clsidText, out) ? S_OK : REGDB_E_CLASSNOTREG;
}

HRESULT CoCreateInstanceFromStore(std::string_view progIdOrClsid, REFIID riid, void** ppv,
                                  const std::string& storePath) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    std::string path = storePath.empty() ? UserStore::defaultPath() : storePath;
    CLSID clsid;
    HRESULT hr = CLSIDFromProgIDInStore(path, progIdOrClsid, clsid);
    if (failed(hr))
        return hr;

    UserStore store;
    if (!store.load(path))
        return REGDB_E_CLASSNOTREG;
    auto module =
        defaultValue(store, classesKey("CLSID\\" + guidToString(clsid) + "\\InprocServer32"));
    if (!module || module->empty())
        return REGDB_E_CLASSNOTREG;
    // Only absolute paths: a bare name would be searched for along the library path.
    if (module->front() != '/')
        return CO_E_DLLNOTFOUND;

    void* handle = loadModule(*module);
    if (!handle)
        return CO_E_DLLNOTFOUND;
    auto getClassObject =
        reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
    if (!getClassObject)
        return CO_E_ERRORINDLL;

    IClassFactory* factory = nullptr;
    hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (failed(hr))
        return hr;
    if (!factory)
        return CO_E_ERRORINDLL;
    hr = factory->CreateInstance(nullptr, riid, ppv);
    factory->Release();
    if (failed(hr))
        *ppv = nullptr;
    return hr;
}

int CoFreeUnusedLibraries() {
    ModuleTable& table = moduleTable();
    std::lock_guard<std::mutex> guard(table.lock);
    int unloaded = 0;
    for (auto it = table.handles.begin(); it != table.handles.end();) {
        auto canUnload =
            reinterpret_cast<DllCanUnloadNowFn>(::dlsym(it->second, "DllCanUnloadNow"));
        if (canUnload && canUnload() == S_OK) {
            ::dlclose(it->second);
            it = table.handles.erase(it);
            ++unloaded;
        } else {
            ++it;
        }
    }
    return unloaded;
}

}  // namespace platform::com
