#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "control/buffers/PicvoxLog.h"
#include "control/shell/IPicvoxer.h"
#include "tests/support/TempDir.h"

namespace picvox::test {

// Each test gets its own per-user store and documents folder, and logging off: the control must
// never touch the real user's files, and the log switch is process-wide.
class IsolatedUserTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLog();
        ::setenv("XDG_CONFIG_HOME", config_.str().c_str(), 1);
        ::setenv("XDG_DOCUMENTS_DIR", documents_.str().c_str(), 1);
        // A Start prepares its cache here, not in the user's.
        ::setenv("XDG_CACHE_HOME", cache_.str().c_str(), 1);
    }
    void TearDown() override { ResetLog(); }

    korvex::test::TempDir config_{"picvox-config"};
    korvex::test::TempDir documents_{"picvox-documents"};
    korvex::test::TempDir cache_{"picvox-cache"};
};

// A page that lives on the test's stack: it counts references without deleting itself and
// answers like a page without a window, elements, timers or dialogs. Tests override what they
// watch.
class StackSite : public IPicvoxSite {
public:
    HRESULT QueryInterface(platform::com::REFIID riid, void** ppv) override {
        if (riid == platform::com::IID_IUnknown || riid == IID_IPicvoxSite) {
            *ppv = static_cast<IPicvoxSite*>(this);
            AddRef();
            return platform::com::S_OK;
        }
        *ppv = nullptr;
        return platform::com::E_NOINTERFACE;
    }
    platform::com::ULONG AddRef() override { return ++refs; }
    platform::com::ULONG Release() override { return --refs; }

    HRESULT GetWindow(std::uint64_t* w) override {
        *w = 0;
        return platform::com::S_FALSE;
    }
    HRESULT InvalidateControl() override { return platform::com::S_OK; }
    HRESULT ReplaceElementByInput(platform::com::LPCOLESTR, platform::com::LPCOLESTR) override {
        return platform::com::S_FALSE;
    }
    HRESULT InvalidateRect(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override {
        return platform::com::S_OK;
    }
    HRESULT SetTimer(std::uint32_t, std::uint32_t) override { return platform::com::S_OK; }
    HRESULT KillTimer(std::uint32_t) override { return platform::com::S_FALSE; }
    HRESULT ShowMessageBox(platform::com::LPCOLESTR, platform::com::LPCOLESTR,
                           std::uint32_t) override {
        return platform::com::S_OK;
    }
    HRESULT ChooseFolder(platform::com::LPCOLESTR, BSTR* folder) override {
        *folder = nullptr;
        return platform::com::S_FALSE;
    }

    std::atomic<platform::com::ULONG> refs{0};
};

}  // namespace picvox::test
