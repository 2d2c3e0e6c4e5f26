#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "control/shell/CPicvoxer.h"
#include "control/shell/PicvoxModule.h"
#include "control/shell/PicvoxSite.h"
#include "platform/com/Automation.h"
#include "tests/picvox_com/PicvoxTestSupport.h"

namespace picvox {
namespace {

using namespace platform::com;

// A property bag over a map, as a host keeps the page's PARAM values.
class MapBag final : public IPropertyBag {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Read(LPCOLESTR name, VARIANT* v, IErrorLog*) override {
        auto it = values.find(name);
        if (it == values.end())
            return E_INVALIDARG;
        return VariantCopy(v, &it->second);
    }
    HRESULT Write(LPCOLESTR name, VARIANT* v) override { return VariantCopy(&values[name], v); }
    ~MapBag() {
        for (auto& [name, v] : values)
            VariantClear(&v);
    }
    std::map<std::u16string, VARIANT> values;
};

class ControlObjectTest : public test::IsolatedUserTest {
protected:
    void SetUp() override {
        IsolatedUserTest::SetUp();
        control_ = CPicvoxer::create();
    }
    void TearDown() override {
        control_->Release();
        EXPECT_EQ(moduleLockCount(), 0);
        IsolatedUserTest::TearDown();
    }
    CPicvoxer* control_ = nullptr;
};

TEST_F(ControlObjectTest, AnswersItsInterfacesWithOneIdentity) {
    IUnknown* identity = nullptr;
    ASSERT_EQ(control_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    for (const GUID& iid : {IID_IPicvoxer, IID_IDispatch, IID_IHostedControl,
                            IID_IPersistPropertyBag, IID_IPersist, IID_IObjectSafety}) {
        IUnknown* p = nullptr;
        ASSERT_EQ(control_->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK)
            << guidToString(iid);
        IUnknown* again = nullptr;
        ASSERT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
        EXPECT_EQ(again, identity);
        again->Release();
        p->Release();
    }
    identity->Release();
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(control_->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_F(ControlObjectTest, SafetyOptionsForUntrustedCallersAndData) {
    IObjectSafety* safety = control_;
    DWORD supported = 9, enabled = 9;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 0u);

    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 1), S_OK);
    safety->GetInterfaceSafetyOptions(IID_IPicvoxer, &supported, &enabled);
    EXPECT_EQ(enabled, 1u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 2, 2), S_OK);  // within the mask
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    EXPECT_EQ(enabled, 3u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 7, 0), E_FAIL);
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    EXPECT_EQ(enabled, 3u);

    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IClassFactory, &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IClassFactory, 1, 1), E_NOINTERFACE);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
}

TEST_F(ControlObjectTest, PersistsOnlyTheExtent) {
    IPersistPropertyBag* persist = control_;
    MapBag bag;
    control_->put_model(BStr::fromUtf8("ABC").get());
    EXPECT_EQ(persist->Save(&bag, 1, 1), S_OK);
    ASSERT_EQ(bag.values.size(), 2u);
    EXPECT_EQ(bag.values[u"_cx"].vt, VT_UI4);
    EXPECT_EQ(bag.values[u"_cx"].ulVal, CPicvoxer::kDefaultExtent);

    bag.values[u"_cx"].ulVal = 0xFFFFFFF0u;  // unsigned: kept whole
    bag.values[u"_cy"].vt = VT_BSTR;
    bag.values[u"_cy"].bstrVal = bstrFromUtf8("tall");  // not a number: ignored
    EXPECT_EQ(persist->Load(&bag, nullptr), S_OK);
    std::uint32_t cx = 0, cy = 0;
    control_->GetExtent(&cx, &cy);
    EXPECT_EQ(cx, 0xFFFFFFF0u);
    EXPECT_EQ(cy, CPicvoxer::kDefaultExtent);

    MapBag empty;
    EXPECT_EQ(persist->Load(&empty, nullptr), S_OK);
    control_->GetExtent(&cx, &cy);
    EXPECT_EQ(cx, 0xFFFFFFF0u);
    CLSID clsid;
    EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Picvoxer);
}

TEST_F(ControlObjectTest, RepaintsGoToTheSiteWhileOneIsSet) {
    NullPicvoxSite* site = NullPicvoxSite::create();
    EXPECT_EQ(control_->SetClientSite(site), S_OK);
    FrameQueue queue(10, control_, control_->controlLock());
    queue.Push(platform::GlobalBlock::allocate(16), 1, 100);
    EXPECT_TRUE(queue.ShowAt(0));
    EXPECT_EQ(site->invalidations(), 1);

    IUnknown* current = nullptr;
    EXPECT_EQ(control_->GetClientSite(&current), S_OK);
    EXPECT_EQ(current, static_cast<IUnknown*>(site));
    current->Release();

    EXPECT_EQ(control_->SetClientSite(nullptr), S_OK);
    queue.Push(platform::GlobalBlock::allocate(16), 2, 200);
    EXPECT_TRUE(queue.ShowAt(200));
    EXPECT_EQ(site->invalidations(), 1);
    EXPECT_EQ(site->Release(), 0u);  // the control gave back every reference it took
}

TEST_F(ControlObjectTest, ClassFactoryCreatesControlsAndHoldsTheModule) {
    IClassFactory& factory = picvoxClassFactory();
    void* p = nullptr;
    EXPECT_EQ(factory.CreateInstance(static_cast<IPicvoxer*>(control_), IID_IPicvoxer, &p),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory.CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(moduleLockCount(), 1);  // only the fixture's control
    IPicvoxer* second = nullptr;
    ASSERT_EQ(factory.CreateInstance(nullptr, IID_IPicvoxer, reinterpret_cast<void**>(&second)),
              S_OK);
    EXPECT_EQ(moduleLockCount(), 2);
    EXPECT_EQ(second->Release(), 0u);
    factory.LockServer(1);
    EXPECT_EQ(moduleLockCount(), 2);
    factory.LockServer(0);
    EXPECT_EQ(moduleLockCount(), 1);
}

TEST_F(ControlObjectTest, StartDecidesLoggingAndWritesItsFirstLine) {
    control_->Start();
    EXPECT_FALSE(LogEnabled());
    EXPECT_TRUE(std::filesystem::is_empty(documents_.path()));

    std::ofstream(documents_.path() / "Picvox.ini").close();
    control_->Start();
    EXPECT_TRUE(LogEnabled());
    std::ifstream log(documents_.path() / "Picvox_log.log");
    std::string first;
    ASSERT_TRUE(std::getline(log, first));
    ASSERT_GE(first.size(), 20u);
    EXPECT_EQ(first.substr(20), "CPicvoxer   Startメソッド開始");
}

}  // namespace
}  // namespace picvox
