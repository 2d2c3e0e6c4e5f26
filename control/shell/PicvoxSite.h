#pragma once

#include <atomic>

#include "control/shell/IPicvoxer.h"

namespace picvox {

// A site without a page: no window, repaints go nowhere, no page element exists, timers never
// fire, message boxes go to the standard error stream and the folder chooser always cancels.
// Hosts without a display (tests, a headless player) use it; it counts what it was asked to do.
class NullPicvoxSite final : public IPicvoxSite {
public:
    // A new site with one reference, owned by the caller.
    static NullPicvoxSite* create();

    HRESULT QueryInterface(platform::com::REFIID riid, void** ppv) override;
    platform::com::ULONG AddRef() override;
    platform::com::ULONG Release() override;

    HRESULT GetWindow(std::uint64_t* window) override;
    HRESULT InvalidateControl() override;
    HRESULT ReplaceElementByInput(platform::com::LPCOLESTR name,
                                  platform::com::LPCOLESTR outerHtml) override;
    HRESULT InvalidateRect(std::int32_t x, std::int32_t y, std::int32_t width,
                           std::int32_t height) override;
    HRESULT SetTimer(std::uint32_t id, std::uint32_t periodMs) override;
    HRESULT KillTimer(std::uint32_t id) override;
    HRESULT ShowMessageBox(platform::com::LPCOLESTR caption, platform::com::LPCOLESTR text,
                           std::uint32_t style) override;
    HRESULT ChooseFolder(platform::com::LPCOLESTR startFolder, BSTR* folder) override;

    // Whole and partial repaints asked for.
    int invalidations() const { return invalidations_.load(); }
    int messages() const { return messages_.load(); }

private:
    NullPicvoxSite() = default;
    ~NullPicvoxSite() = default;

    std::atomic<platform::com::ULONG> refs_{1};
    std::atomic<int> invalidations_{0};
    std::atomic<int> messages_{0};
};

}  // namespace picvox
