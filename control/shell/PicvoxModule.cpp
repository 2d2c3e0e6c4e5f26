#include "control/shell/PicvoxModule.h"

#include <atomic>

#include "control/shell/CPicvoxer.h"
#include "platform/com/ComHost.h"

namespace picvox {

using namespace platform::com;

namespace {

std::atomic<long> gModuleLocks{0};

class PicvoxerFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The object is static; its references only keep the module loaded.
    ULONG AddRef() override {
        moduleLock();
        return ++refs_;
    }
    ULONG Release() override {
        ULONG left = --refs_;
        moduleUnlock();
        return left;
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        CPicvoxer* control = CPicvoxer::create();
        if (!control)
            return E_OUTOFMEMORY;
        HRESULT hr = control->QueryInterface(riid, ppv);
        control->Release();  // the caller's reference, if any, is what remains
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) {
            moduleLock();
        } else {
            moduleUnlock();
        }
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{0};
};

PicvoxerFactory gFactory;

std::string classes(const std::string& sub) {
    return std::string(kClassesRoot) + "\\" + sub;
}

}  // namespace

void moduleLock() {
    ++gModuleLocks;
}
void moduleUnlock() {
    --gModuleLocks;
}
long moduleLockCount() {
    return gModuleLocks.load();
}

IClassFactory& picvoxClassFactory() {
    return gFactory;
}

bool registerPicvox(UserStore& store, const std::string& modulePath) {
    const std::string clsid = guidToString(CLSID_Picvoxer);
    const std::string libid = guidToString(LIBID_PicvoxLib);
    const std::string iid = guidToString(IID_IPicvoxer);
    const std::string progId = kPicvoxProgId;
    const std::string indepProgId = kPicvoxVersionIndependentProgId;
    const std::string className = "Picvoxer Class";
    const std::string clsidKey = classes("CLSID\\" + clsid);
    std::string moduleFolder = modulePath.substr(0, modulePath.rfind('/') + 1);

    // The class key is removed and written anew, so no stale subkey survives a re-registration.
    store.deleteTree(clsidKey);
    bool ok = true;
    auto set = [&](const std::string& key, const std::string& name, const std::string& value) {
        ok = store.setValue(key, name, value) && ok;
    };
    auto create = [&](const std::string& key) { ok = store.createKey(key) && ok; };

    set(classes(progId), "", className);
    set(classes(progId + "\\CLSID"), "", clsid);
    set(classes(indepProgId), "", className);
    set(classes(indepProgId + "\\CLSID"), "", clsid);
    set(classes(indepProgId + "\\CurVer"), "", progId);

    set(clsidKey, "", className);
    set(clsidKey + "\\ProgID", "", progId);
    set(clsidKey + "\\VersionIndependentProgID", "", indepProgId);
    create(clsidKey + "\\Programmable");
    set(clsidKey + "\\InprocServer32", "", modulePath);
    set(clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment");
    create(clsidKey + "\\Control");
    create(clsidKey + "\\Insertable");
    set(clsidKey + "\\ToolboxBitmap32", "", modulePath + ", 102");
    set(clsidKey + "\\MiscStatus", "", "0");
    set(clsidKey + "\\MiscStatus\\1", "", "131473");
    set(clsidKey + "\\TypeLib", "", libid);
    set(clsidKey + "\\Version", "", "1.0");

    // The type library: carried by the module itself; "0\linux64" names it for locale 0.
    const std::string libKey = classes("TypeLib\\" + libid + "\\1.0");
    store.deleteTree(classes("TypeLib\\" + libid));
    set(libKey, "", "Picvox 1.0 ﾀｲﾌﾟ ﾗｲﾌﾞﾗﾘ");
    set(libKey + "\\0\\linux64", "", modulePath);
    set(libKey + "\\FLAGS", "", "0");
    set(libKey + "\\HELPDIR", "", moduleFolder);
    const std::string ifKey = classes("Interface\\" + iid);
    store.deleteTree(ifKey);
    set(ifKey, "", "IPicvoxer");
    set(ifKey + "\\ProxyStubClsid32", "", guidToString(CLSID_PSOAInterface));
    set(ifKey + "\\TypeLib", "", libid);
    set(ifKey + "\\TypeLib", "Version", "1.0");
    return ok;
}

void unregisterPicvox(UserStore& store) {
    store.deleteTree(classes(kPicvoxProgId));
    store.deleteTree(classes(kPicvoxVersionIndependentProgId));
    store.deleteTree(classes("CLSID\\" + guidToString(CLSID_Picvoxer)));
    store.deleteTree(classes("TypeLib\\" + guidToString(LIBID_PicvoxLib)));
    store.deleteTree(classes("Interface\\" + guidToString(IID_IPicvoxer)));
}

}  // namespace picvox
