#include "control/shell/PicvoxSite.h"

#include <new>

namespace picvox {

using namespace platform::com;

NullPicvoxSite* NullPicvoxSite::create() {
    return new (std::nothrow) NullPicvoxSite();
}

HRESULT NullPicvoxSite::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPicvoxSite) {
        *ppv = static_cast<IPicvoxSite*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG NullPicvoxSite::AddRef() {
    return ++refs_;
}

ULONG NullPicvoxSite::Release() {
    ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT NullPicvoxSite::GetWindow(std::uint64_t* window) {
    if (!window)
        return E_POINTER;
    *window = 0;
    return S_FALSE;
}

HRESULT NullPicvoxSite::InvalidateControl() {
    ++invalidations_;
    return S_OK;
}

HRESULT NullPicvoxSite::ReplaceElementByInput(LPCOLESTR, LPCOLESTR) {
    return S_FALSE;
}

}  // namespace picvox
