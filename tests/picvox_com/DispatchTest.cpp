#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <variant>

#include "control/shell/CPicvoxer.h"
#include "control/shell/PicvoxModule.h"
#include "control/shell/PicvoxSite.h"
#include "platform/com/Automation.h"
#include "tests/picvox_com/PicvoxTestSupport.h"

namespace picvox {
namespace {

using namespace platform::com;

enum class Kind { Text, Number, Method };

struct MemberCase {
    DISPID id;
    const char* name;
    Kind kind;
    std::variant<const char*, std::int32_t> initial;
};

// The whole dispatch interface as the page sees it, with each property's initial value.
const MemberCase kMembers[] = {
    {1, "WaveFileURL", Kind::Text, ""},
    {2, "ImageFileURL", Kind::Text, ""},
    {3, "CacheTime", Kind::Number, 0},
    {4, "Start", Kind::Method, 0},
    {5, "Stop", Kind::Method, 0},
    {6, "AbsoluteTime", Kind::Text, ""},
    {7, "Location", Kind::Text, ""},
    {8, "mask_height", Kind::Number, 0},
    {9, "mask_color", Kind::Number, 0},
    {10, "wave_request_interval", Kind::Number, 2000},
    {11, "InitWaveFileURL", Kind::Text, ""},
    {12, "hdd_save", Kind::Number, 0},
    {13, "jpeg2000_interval", Kind::Number, 0},
    {14, "save_time", Kind::Number, 30},
    {15, "hdd_full_msg", Kind::Text, "The disk is full."},
    {16, "complete_msg", Kind::Text, "Preservation of a sound and images was completed."},
    {17, "error_msg", Kind::Text, "The error occurred during preservation. "},
    {18, "SaveComplete", Kind::Number, 0},
    {19, "TimestampOrder", Kind::Number, 0},
    {20, "delimiter", Kind::Text, "-"},
    {21, "inputname", Kind::Text, "save_folder"},
    {22, "destination", Kind::Text, "C:\\"},
    {23, "destinationSW", Kind::Number, 0},
    {24, "model", Kind::Text, "TRM"},
    {25, "counterSW", Kind::Number, 0},
    {26, "counter", Kind::Text, "save_timer_counter"},
    {27, "DL_InfFileURL", Kind::Text, ""},
};

std::string upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

class DispatchTest : public test::IsolatedUserTest {
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

    HRESULT invoke(DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result,
                   UINT* argErr = nullptr) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params;
        params.rgvarg = args;
        params.cArgs = count;
        if (flags & DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &named;
            params.cNamedArgs = 1;
        }
        return control_->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, argErr);
    }
    HRESULT put(DISPID id, VARIANT& value) {
        return invoke(id, DISPATCH_PROPERTYPUT, &value, 1, nullptr);
    }
    HRESULT putText(DISPID id, const std::string& text) {
        Variant v = Variant::text(text);
        return put(id, v);
    }
    HRESULT putNumber(DISPID id, std::int32_t n) {
        Variant v(n);
        return put(id, v);
    }
    std::string getText(DISPID id) {
        Variant r;
        EXPECT_EQ(invoke(id, DISPATCH_PROPERTYGET, nullptr, 0, &r), S_OK);
        EXPECT_EQ(r.vt, VT_BSTR);
        return r.vt == VT_BSTR ? utf8FromBstr(r.bstrVal) : "<not text>";
    }
    std::int32_t getNumber(DISPID id) {
        Variant r;
        EXPECT_EQ(invoke(id, DISPATCH_PROPERTYGET, nullptr, 0, &r), S_OK);
        EXPECT_EQ(r.vt, VT_I4);
        return r.lVal;
    }

    CPicvoxer* control_ = nullptr;
};

TEST_F(DispatchTest, NamesResolveToTheirIdsWithoutRegardToCase) {
    for (const auto& m : kMembers) {
        for (std::string spelling : {std::string(m.name), upper(m.name)}) {
            std::u16string wide = utf8ToUtf16(spelling);
            LPOLESTR names[] = {wide.data()};
            DISPID id = 0;
            EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << spelling;
            EXPECT_EQ(id, m.id) << spelling;
        }
    }
    std::u16string unknown = u"Play", arg = u"x", start = u"Start";
    LPOLESTR names[] = {unknown.data()};
    DISPID ids[2] = {7, 7};
    EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, names, 1, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    LPOLESTR withArg[] = {start.data(), arg.data()};
    EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, withArg, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_Start);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST_F(DispatchTest, EveryPropertyStartsWithItsInitialValue) {
    for (const auto& m : kMembers) {
        SCOPED_TRACE(m.name);
        if (m.kind == Kind::Text) {
            EXPECT_EQ(getText(m.id), std::get<const char*>(m.initial));
        } else if (m.kind == Kind::Number) {
            EXPECT_EQ(getNumber(m.id), std::get<std::int32_t>(m.initial));
        }
    }
}

// What a put of an ordinary value leaves, by id; the rules of the exceptions are tested below.
TEST_F(DispatchTest, EveryPropertyTakesAPutAndReturnsIt) {
    for (const auto& m : kMembers) {
        SCOPED_TRACE(m.name);
        if (m.kind == Kind::Text) {
            EXPECT_EQ(putText(m.id, "ﾌﾟﾛﾊﾟﾃｨ/x"), S_OK);
            std::string expected = "ﾌﾟﾛﾊﾟﾃｨ/x";
            if (m.id == DISPID_AbsoluteTime)
                expected = "00:00:00";  // ignored; the Stop above ended a run
            if (m.id == DISPID_delimiter)
                expected = "-";  // not a delimiter: refused
            EXPECT_EQ(getText(m.id), expected);
        } else if (m.kind == Kind::Number) {
            EXPECT_EQ(putNumber(m.id, 12345), S_OK);
            EXPECT_EQ(getNumber(m.id), 12345);
        } else {
            Variant r;
            EXPECT_EQ(invoke(m.id, DISPATCH_METHOD, nullptr, 0, &r), S_OK);
            EXPECT_EQ(r.vt, VT_EMPTY);
        }
    }
}

TEST_F(DispatchTest, RefusedPutsKeepTheOldValueAndSucceed) {
    struct TextRule {
        const char* value;
        const char* after;
    };
    const TextRule delimiters[] = {{"/", "/"},  {"//", "/"}, {"", "/"}, {":", "/"},
                                   {"-.", "/"}, {".", "."},  {"-", "-"}};
    for (const auto& r : delimiters) {
        EXPECT_EQ(putText(DISPID_delimiter, r.value), S_OK);
        EXPECT_EQ(getText(DISPID_delimiter), r.after) << r.value;
    }
    for (DISPID id : {DISPID_mask_height, DISPID_wave_request_interval}) {
        EXPECT_EQ(putNumber(id, 5), S_OK);
        EXPECT_EQ(putNumber(id, -1), S_OK);
        EXPECT_EQ(getNumber(id), 5);
        EXPECT_EQ(putNumber(id, 0), S_OK);
        EXPECT_EQ(getNumber(id), 0);
    }
    EXPECT_EQ(putNumber(DISPID_mask_color, -1), S_OK);  // no rule for the colour
    EXPECT_EQ(getNumber(DISPID_mask_color), -1);
}

TEST_F(DispatchTest, LocationBaseIsCutAfterTheLastSeparator) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://dvr.example/a/page.html", "http://dvr.example/a/"},
        {"HTTP://dvr/index.html", "HTTP://dvr/"},
        {"file://C:\\pages\\dvr\\page.html", "file://C:\\pages\\dvr\\"},
        {"FILE:///home/u/page.html", "FILE:///home/u/page.html"},  // no "\": whole
        {"page.html", "page.html"},
        {"", ""},
    };
    for (const auto& [location, base] : cases) {
        EXPECT_EQ(putText(DISPID_Location, location), S_OK);
        EXPECT_EQ(getText(DISPID_Location), location);
        EXPECT_EQ(control_->locationBase(), base) << location;
    }
}

TEST_F(DispatchTest, ArgumentsAreConvertedToThePropertyType) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = bstrFromUtf8(" 42 ");
    EXPECT_EQ(put(DISPID_CacheTime, v), S_OK);
    EXPECT_EQ(getNumber(DISPID_CacheTime), 42);
    VariantClear(&v);

    v.vt = VT_R8;
    v.dblVal = 2500.5;  // script numbers arrive as reals; ties round to even
    EXPECT_EQ(put(DISPID_CacheTime, v), S_OK);
    EXPECT_EQ(getNumber(DISPID_CacheTime), 2500);

    v.vt = VT_I4;
    v.lVal = 7;
    EXPECT_EQ(put(DISPID_model, v), S_OK);
    EXPECT_EQ(getText(DISPID_model), "7");

    UINT argErr = 99;
    v.vt = VT_NULL;
    EXPECT_EQ(invoke(DISPID_save_time, DISPATCH_PROPERTYPUT, &v, 1, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    v.vt = VT_BSTR;
    v.bstrVal = bstrFromUtf8("30 seconds");
    EXPECT_EQ(put(DISPID_save_time, v), DISP_E_TYPEMISMATCH);
    VariantClear(&v);
    v.vt = VT_R8;
    v.dblVal = 1e12;
    EXPECT_EQ(put(DISPID_save_time, v), DISP_E_OVERFLOW);
    EXPECT_EQ(getNumber(DISPID_save_time), 30);
}

TEST_F(DispatchTest, MalformedCallsAreRefused) {
    Variant r, arg(1);
    EXPECT_EQ(invoke(0, DISPATCH_PROPERTYGET, nullptr, 0, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(28, DISPATCH_PROPERTYGET, nullptr, 0, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(DISPID_Start, DISPATCH_METHOD, &arg, 1, &r), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(DISPID_Start, DISPATCH_PROPERTYGET, nullptr, 0, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(DISPID_CacheTime, DISPATCH_METHOD, nullptr, 0, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(DISPID_CacheTime, DISPATCH_PROPERTYGET, nullptr, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(invoke(DISPID_CacheTime, DISPATCH_PROPERTYGET, &arg, 1, &r), DISP_E_BADPARAMCOUNT);
    VARIANT two[2];
    EXPECT_EQ(invoke(DISPID_CacheTime, DISPATCH_PROPERTYPUT, two, 2, nullptr),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(DISPID_CacheTime, DISPATCH_PROPERTYPUT, nullptr, 0, nullptr), E_INVALIDARG);
    DISPPARAMS unnamed{&arg, nullptr, 1, 0};
    EXPECT_EQ(control_->Invoke(DISPID_CacheTime, IID_NULL, 0, DISPATCH_PROPERTYPUT, &unnamed,
                               nullptr, nullptr, nullptr),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(control_->Invoke(DISPID_CacheTime, IID_IDispatch, 0, DISPATCH_PROPERTYGET, nullptr,
                               &r, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    // Script engines ask for a property with both flags.
    EXPECT_EQ(invoke(DISPID_save_time, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, 0, &r),
              S_OK);
    EXPECT_EQ(r.lVal, 30);
}

TEST_F(DispatchTest, StartClearsSaveCompleteAndTheCaptureTime) {
    EXPECT_EQ(putNumber(DISPID_SaveComplete, 1), S_OK);
    // A valid Live run: it reports nothing, so SaveComplete stays as Start left it.
    EXPECT_EQ(putNumber(DISPID_CacheTime, 2000), S_OK);
    Variant r;
    EXPECT_EQ(invoke(DISPID_Start, DISPATCH_METHOD, nullptr, 0, &r), S_OK);
    EXPECT_EQ(getNumber(DISPID_SaveComplete), 0);
    EXPECT_EQ(getText(DISPID_AbsoluteTime), "");
    EXPECT_EQ(invoke(DISPID_Stop, DISPATCH_METHOD, nullptr, 0, &r), S_OK);
}

TEST_F(DispatchTest, VtableEntriesAreTheDispatchedOnes) {
    IPicvoxer* p = control_;
    BSTR text = nullptr;
    EXPECT_EQ(p->put_counter(BStr::fromUtf8("timer").get()), S_OK);
    EXPECT_EQ(p->get_counter(&text), S_OK);
    EXPECT_EQ(utf8FromBstr(text), "timer");
    SysFreeString(text);
    EXPECT_EQ(p->put_TimestampOrder(2), S_OK);
    EXPECT_EQ(getNumber(DISPID_TimestampOrder), 2);
    EXPECT_EQ(p->get_hdd_save(nullptr), E_POINTER);
    UINT count = 9;
    EXPECT_EQ(p->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace picvox

namespace picvox {
namespace {

// Hosts call the interface through its vtable, so the order of its entries is the contract:
// after IUnknown's 3 and IDispatch's 4 slots, each property's get then put, in id order, with
// Start and Stop at ids 4 and 5. Under the Itanium C++ ABI a pointer to a virtual member holds
// 1 + the slot's byte offset.
template <class Pmf>
std::ptrdiff_t slotOf(Pmf pmf) {
    std::ptrdiff_t raw[2];
    static_assert(sizeof(pmf) == sizeof(raw));
    std::memcpy(raw, &pmf, sizeof raw);
    return (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(IPicvoxerLayoutTest, EntriesFollowTheDispatchIdsGetBeforePut) {
    const std::ptrdiff_t slots[] = {
        slotOf(&IPicvoxer::get_WaveFileURL),
        slotOf(&IPicvoxer::put_WaveFileURL),
        slotOf(&IPicvoxer::get_ImageFileURL),
        slotOf(&IPicvoxer::put_ImageFileURL),
        slotOf(&IPicvoxer::get_CacheTime),
        slotOf(&IPicvoxer::put_CacheTime),
        slotOf(&IPicvoxer::Start),
        slotOf(&IPicvoxer::Stop),
        slotOf(&IPicvoxer::get_AbsoluteTime),
        slotOf(&IPicvoxer::put_AbsoluteTime),
        slotOf(&IPicvoxer::get_Location),
        slotOf(&IPicvoxer::put_Location),
        slotOf(&IPicvoxer::get_mask_height),
        slotOf(&IPicvoxer::put_mask_height),
        slotOf(&IPicvoxer::get_mask_color),
        slotOf(&IPicvoxer::put_mask_color),
        slotOf(&IPicvoxer::get_wave_request_interval),
        slotOf(&IPicvoxer::put_wave_request_interval),
        slotOf(&IPicvoxer::get_InitWaveFileURL),
        slotOf(&IPicvoxer::put_InitWaveFileURL),
        slotOf(&IPicvoxer::get_hdd_save),
        slotOf(&IPicvoxer::put_hdd_save),
        slotOf(&IPicvoxer::get_jpeg2000_interval),
        slotOf(&IPicvoxer::put_jpeg2000_interval),
        slotOf(&IPicvoxer::get_save_time),
        slotOf(&IPicvoxer::put_save_time),
        slotOf(&IPicvoxer::get_hdd_full_msg),
        slotOf(&IPicvoxer::put_hdd_full_msg),
        slotOf(&IPicvoxer::get_complete_msg),
        slotOf(&IPicvoxer::put_complete_msg),
        slotOf(&IPicvoxer::get_error_msg),
        slotOf(&IPicvoxer::put_error_msg),
        slotOf(&IPicvoxer::get_SaveComplete),
        slotOf(&IPicvoxer::put_SaveComplete),
        slotOf(&IPicvoxer::get_TimestampOrder),
        slotOf(&IPicvoxer::put_TimestampOrder),
        slotOf(&IPicvoxer::get_delimiter),
        slotOf(&IPicvoxer::put_delimiter),
        slotOf(&IPicvoxer::get_inputname),
        slotOf(&IPicvoxer::put_inputname),
        slotOf(&IPicvoxer::get_destination),
        slotOf(&IPicvoxer::put_destination),
        slotOf(&IPicvoxer::get_destinationSW),
        slotOf(&IPicvoxer::put_destinationSW),
        slotOf(&IPicvoxer::get_model),
        slotOf(&IPicvoxer::put_model),
        slotOf(&IPicvoxer::get_counterSW),
        slotOf(&IPicvoxer::put_counterSW),
        slotOf(&IPicvoxer::get_counter),
        slotOf(&IPicvoxer::put_counter),
        slotOf(&IPicvoxer::get_DL_InfFileURL),
        slotOf(&IPicvoxer::put_DL_InfFileURL),
    };
    ASSERT_EQ(std::size(slots), 52u);  // 25 properties x 2 + 2 methods
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(7 + i)) << "entry " << i;
    }
    EXPECT_EQ(slotOf(&platform::com::IDispatch::Invoke), 6);
}

}  // namespace
}  // namespace picvox
