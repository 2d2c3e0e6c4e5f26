#include "control/shell/PicvoxSite.h"

#include <cstdio>
#include <new>

#include "platform/com/Automation.h"

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

HRESULT NullPicvoxSite::InvalidateRect(std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
    ++invalidations_;
    return S_OK;
}

HRESULT NullPicvoxSite::SetTimer(std::uint32_t, std::uint32_t) {
    return S_FALSE;
}

HRESULT NullPicvoxSite::KillTimer(std::uint32_t) {
    return S_FALSE;
}

// Nobody can answer: the text goes where a headless run's operator sees it, and the call
// returns at once so that no thread waits on a box that is never shown.
HRESULT NullPicvoxSite::ShowMessageBox(LPCOLESTR caption, LPCOLESTR text, std::uint32_t) {
    ++messages_;
    try {
        std::string title = caption ? utf16ToUtf8(caption) : std::string();
        std::string body = text ? utf16ToUtf8(text) : std::string();
        std::fprintf(stderr, "%s%s%s\n", title.c_str(), title.empty() ? "" : ": ", body.c_str());
    } catch (const std::bad_alloc&) {
    }
    return S_OK;
}

HRESULT NullPicvoxSite::ChooseFolder(LPCOLESTR, BSTR* folder) {
    if (!folder)
        return E_POINTER;
    *folder = nullptr;
    return S_FALSE;
}

}  // namespace picvox
