#pragma once

#include <atomic>

#include "control/shell/IPicvoxer.h"

namespace picvox {

// A site without a page: no window, repaints go nowhere, no page element exists. Hosts without a
// display (tests, a headless player) use it; it also counts what it was asked to do.
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

    int invalidations() const { return invalidations_.load(); }

private:
    NullPicvoxSite() = default;
    ~NullPicvoxSite() = default;

    std::atomic<platform::com::ULONG> refs_{1};
    std::atomic<int> invalidations_{0};
};

}  // namespace picvox
