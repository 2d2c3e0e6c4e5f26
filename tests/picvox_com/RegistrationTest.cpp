#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>

#include "control/shell/IPicvoxer.h"
#include "control/shell/PicvoxModule.h"
#include "platform/UserStore.h"
#include "platform/com/Automation.h"
#include "platform/com/ComHost.h"
#include "tests/picvox_com/PicvoxTestSupport.h"

namespace picvox {
namespace {

using namespace platform::com;
using platform::UserStore;

const std::string kClsid = "{E8EE9E9D-A8BA-4B7E-B860-5C226993E156}";
const std::string kClsidKey = "Software\\Classes\\CLSID\\" + kClsid;

TEST(RegistrationKeysTest, WritesTheClassKeysAndRemovesThemAgain) {
    UserStore store;
    store.setValue("Software\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000001}", "",
                   "another class");
    store.setValue(kClsidKey + "\\Stale", "", "left by an older version");
    ASSERT_TRUE(registerPicvox(store, "/opt/picvox/libpicvox.so"));

    struct Expect {
        std::string key, name, value;
    };
    const Expect expected[] = {
        {"Software\\Classes\\Picvox.Picvoxer.1", "", "Picvoxer Class"},
        {"Software\\Classes\\Picvox.Picvoxer.1\\CLSID", "", kClsid},
        {"Software\\Classes\\Picvox.Picvoxer", "", "Picvoxer Class"},
        {"Software\\Classes\\Picvox.Picvoxer\\CLSID", "", kClsid},
        {"Software\\Classes\\Picvox.Picvoxer\\CurVer", "", "Picvox.Picvoxer.1"},
        {kClsidKey, "", "Picvoxer Class"},
        {kClsidKey + "\\ProgID", "", "Picvox.Picvoxer.1"},
        {kClsidKey + "\\VersionIndependentProgID", "", "Picvox.Picvoxer"},
        {kClsidKey + "\\InprocServer32", "", "/opt/picvox/libpicvox.so"},
        {kClsidKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {kClsidKey + "\\ToolboxBitmap32", "", "/opt/picvox/libpicvox.so, 102"},
        {kClsidKey + "\\MiscStatus", "", "0"},
        {kClsidKey + "\\MiscStatus\\1", "", "131473"},
        {kClsidKey + "\\TypeLib", "", "{72C5841C-8162-4E97-878D-4F1A4C121C04}"},
        {kClsidKey + "\\Version", "", "1.0"},
        {"Software\\Classes\\TypeLib\\{72C5841C-8162-4E97-878D-4F1A4C121C04}\\1.0", "",
         "Picvox 1.0 ﾀｲﾌﾟ ﾗｲﾌﾞﾗﾘ"},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(store.value(e.key, e.name).value_or("<missing>"), e.value) << e.key;
    }
    for (const char* flagKey : {"Programmable", "Control", "Insertable"}) {
        EXPECT_TRUE(store.keyExists(kClsidKey + "\\" + flagKey)) << flagKey;
    }
    EXPECT_FALSE(store.keyExists(kClsidKey + "\\Stale"));

    unregisterPicvox(store);
    EXPECT_FALSE(store.keyExists("Software\\Classes\\Picvox.Picvoxer.1"));
    EXPECT_FALSE(store.keyExists("Software\\Classes\\Picvox.Picvoxer"));
    EXPECT_FALSE(store.keyExists(kClsidKey));
    EXPECT_FALSE(
        store.keyExists("Software\\Classes\\TypeLib\\{72C5841C-8162-4E97-878D-4F1A4C121C04}"));
    EXPECT_FALSE(
        store.keyExists("Software\\Classes\\Interface\\{C267EF43-3513-4304-8D83-F7A9938B8A74}"));
    EXPECT_TRUE(store.keyExists("Software\\Classes\\CLSID"));
    EXPECT_TRUE(
        store.keyExists("Software\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000001}"));
}

// The module as a host meets it: loaded by path, registered, found again by ProgID.
class ModuleTest : public test::IsolatedUserTest {
protected:
    void SetUp() override {
        IsolatedUserTest::SetUp();
        const char* module = std::getenv("PICVOX_MODULE");
        ASSERT_NE(module, nullptr) << "PICVOX_MODULE names the built libpicvox.so";
        char resolved[PATH_MAX];
        ASSERT_NE(::realpath(module, resolved), nullptr);
        modulePath_ = resolved;
        handle_ = ::dlopen(modulePath_.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        registerServer_ =
            reinterpret_cast<DllRegisterServerFn>(::dlsym(handle_, "DllRegisterServer"));
        unregisterServer_ =
            reinterpret_cast<DllUnregisterServerFn>(::dlsym(handle_, "DllUnregisterServer"));
        canUnloadNow_ = reinterpret_cast<DllCanUnloadNowFn>(::dlsym(handle_, "DllCanUnloadNow"));
        ASSERT_TRUE(registerServer_ && unregisterServer_ && canUnloadNow_);
        ASSERT_NE(::dlsym(handle_, "DllGetClassObject"), nullptr);
    }
    void TearDown() override {
        if (handle_)
            ::dlclose(handle_);
        IsolatedUserTest::TearDown();
    }
    std::string storeFile() const { return config_.str() + "/korvex/registry.ini"; }

    std::string modulePath_;
    void* handle_ = nullptr;
    DllRegisterServerFn registerServer_ = nullptr;
    DllUnregisterServerFn unregisterServer_ = nullptr;
    DllCanUnloadNowFn canUnloadNow_ = nullptr;
};

TEST_F(ModuleTest, RegistrationRoundTripAndCreationByProgId) {
    EXPECT_EQ(CoCreateInstanceFromStore("Picvox.Picvoxer.1", IID_IPicvoxer, nullptr), E_POINTER);
    void* none = nullptr;
    EXPECT_TRUE(failed(CoCreateInstanceFromStore("Picvox.Picvoxer.1", IID_IPicvoxer, &none)));

    ASSERT_EQ(registerServer_(), S_OK);
    UserStore store;
    ASSERT_TRUE(store.load(storeFile()));
    EXPECT_EQ(store.value(kClsidKey + "\\InprocServer32").value_or(""), modulePath_);

    for (const char* name : {"Picvox.Picvoxer.1", "Picvox.Picvoxer", kClsid.c_str()}) {
        IPicvoxer* control = nullptr;
        ASSERT_EQ(
            CoCreateInstanceFromStore(name, IID_IPicvoxer, reinterpret_cast<void**>(&control)),
            S_OK)
            << name;
        EXPECT_EQ(canUnloadNow_(), S_FALSE);
        BStr text;
        EXPECT_EQ(control->put_model(BStr::fromUtf8("DVR").get()), S_OK);
        EXPECT_EQ(control->get_model(text.out()), S_OK);
        EXPECT_EQ(text.utf8(), "DVR");
        std::int32_t saveTime = 0;
        EXPECT_EQ(control->get_save_time(&saveTime), S_OK);
        EXPECT_EQ(saveTime, 30);
        EXPECT_EQ(control->Release(), 0u);
        EXPECT_EQ(canUnloadNow_(), S_OK);
    }

    ASSERT_EQ(unregisterServer_(), S_OK);
    ASSERT_TRUE(store.load(storeFile()));
    EXPECT_FALSE(store.keyExists(kClsidKey));
    EXPECT_TRUE(store.keyExists("Software\\Classes\\CLSID"));
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstanceFromStore("Picvox.Picvoxer.1", IID_IPicvoxer, &p), CO_E_CLASSSTRING);
    EXPECT_EQ(p, nullptr);
}

TEST_F(ModuleTest, CreationFailsCleanlyForBadRegistrations) {
    ASSERT_EQ(registerServer_(), S_OK);
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstanceFromStore("Picvox\\Picvoxer", IID_IPicvoxer, &p), CO_E_CLASSSTRING);
    EXPECT_EQ(CoCreateInstanceFromStore("{not-a-guid}", IID_IPicvoxer, &p), CO_E_CLASSSTRING);
    EXPECT_EQ(
        CoCreateInstanceFromStore("{00000000-0000-0000-0000-000000000001}", IID_IPicvoxer, &p),
        REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstanceFromStore("Picvox.Picvoxer.1", IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(canUnloadNow_(), S_OK);

    auto point = [&](const std::string& module) {
        ASSERT_TRUE(UserStore::update(storeFile(), [&](UserStore& s) {
            return s.setValue(kClsidKey + "\\InprocServer32", "", module);
        }));
    };
    point("libpicvox.so");  // not absolute: never searched for
    EXPECT_EQ(CoCreateInstanceFromStore("Picvox.Picvoxer.1", IID_IPicvoxer, &p), CO_E_DLLNOTFOUND);
    point(config_.str() + "/missing.so");
    EXPECT_EQ(CoCreateInstanceFromStore("Picvox.Picvoxer.1", IID_IPicvoxer, &p), CO_E_DLLNOTFOUND);
    EXPECT_EQ(p, nullptr);
}

TEST_F(ModuleTest, RegistrationNeverOverwritesABrokenStore) {
    std::filesystem::create_directories(config_.path() / "korvex");
    {
        std::ofstream big(storeFile(), std::ios::binary);
        std::string line(1024, 'x');
        for (std::size_t i = 0; i <= UserStore::kMaxFileBytes / line.size(); ++i)
            big << line;
    }
    auto size = std::filesystem::file_size(storeFile());
    EXPECT_EQ(registerServer_(), SELFREG_E_CLASS);
    EXPECT_EQ(unregisterServer_(), SELFREG_E_CLASS);
    EXPECT_EQ(std::filesystem::file_size(storeFile()), size);
}

}  // namespace
}  // namespace picvox
