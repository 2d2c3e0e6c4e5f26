#include "control/shell/CPicvoxer.h"

#include <string.h>

#include <new>
#include <string>
#include <utility>

#include "control/buffers/PicvoxLog.h"
#include "control/run/DibPicture.h"
#include "control/run/SaveFolderChoice.h"
#include "control/run/WaitAnimation.h"
#include "control/shell/PicvoxModule.h"
#include "platform/UserFolders.h"
#include "platform/com/Automation.h"
#include "platform/com/UserStore.h"

namespace picvox {

using namespace platform::com;

namespace {

constexpr DWORD kSafetySupported =
    INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

HRESULT getText(const SharedText& text, BSTR* out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    try {
        BSTR b = bstrFromUtf8(text.get());
        if (!b)
            return E_OUTOFMEMORY;
        *out = b;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// A put that cannot convert for lack of memory keeps the old value, and still succeeds.
HRESULT putText(SharedText& text, BSTR in) {
    try {
        text.set(utf8FromBstr(in));
    } catch (const std::bad_alloc&) {
    }
    return S_OK;
}

HRESULT getNumber(std::int32_t value, std::int32_t* out) {
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i])
            return false;
    }
    return true;
}

// ---- The dispatch table: ids 1-27 in their order, bound to the vtable entries ----

enum class MemberKind { Text, Number, Method };

struct DispatchMember {
    DISPID id;
    const char* name;
    MemberKind kind;
    HRESULT (IPicvoxer::*getText)(BSTR*) = nullptr;
    HRESULT (IPicvoxer::*putText)(BSTR) = nullptr;
    HRESULT (IPicvoxer::*getNumber)(std::int32_t*) = nullptr;
    HRESULT (IPicvoxer::*putNumber)(std::int32_t) = nullptr;
    HRESULT (IPicvoxer::*call)() = nullptr;
};

#define PICVOX_TEXT(name)                                                                      \
    DispatchMember {                                                                           \
        DISPID_##name, #name, MemberKind::Text, &IPicvoxer::get_##name, &IPicvoxer::put_##name \
    }
#define PICVOX_NUMBER(name)                                                                 \
    DispatchMember {                                                                        \
        DISPID_##name, #name, MemberKind::Number, nullptr, nullptr, &IPicvoxer::get_##name, \
            &IPicvoxer::put_##name                                                          \
    }
#define PICVOX_METHOD(name)                                                           \
    DispatchMember {                                                                  \
        DISPID_##name, #name, MemberKind::Method, nullptr, nullptr, nullptr, nullptr, \
            &IPicvoxer::name                                                          \
    }

const DispatchMember kMembers[] = {
    PICVOX_TEXT(WaveFileURL),
    PICVOX_TEXT(ImageFileURL),
    PICVOX_NUMBER(CacheTime),
    PICVOX_METHOD(Start),
    PICVOX_METHOD(Stop),
    PICVOX_TEXT(AbsoluteTime),
    PICVOX_TEXT(Location),
    PICVOX_NUMBER(mask_height),
    PICVOX_NUMBER(mask_color),
    PICVOX_NUMBER(wave_request_interval),
    PICVOX_TEXT(InitWaveFileURL),
    PICVOX_NUMBER(hdd_save),
    PICVOX_NUMBER(jpeg2000_interval),
    PICVOX_NUMBER(save_time),
    PICVOX_TEXT(hdd_full_msg),
    PICVOX_TEXT(complete_msg),
    PICVOX_TEXT(error_msg),
    PICVOX_NUMBER(SaveComplete),
    PICVOX_NUMBER(TimestampOrder),
    PICVOX_TEXT(delimiter),
    PICVOX_TEXT(inputname),
    PICVOX_TEXT(destination),
    PICVOX_NUMBER(destinationSW),
    PICVOX_TEXT(model),
    PICVOX_NUMBER(counterSW),
    PICVOX_TEXT(counter),
    PICVOX_TEXT(DL_InfFileURL),
};

#undef PICVOX_TEXT
#undef PICVOX_NUMBER
#undef PICVOX_METHOD

const DispatchMember* findMember(DISPID id) {
    if (id < 1 || id > static_cast<DISPID>(std::size(kMembers)))
        return nullptr;
    return &kMembers[id - 1];  // the table is in id order
}

// Member names match without regard to ASCII letter case, as automation names do.
const DispatchMember* findMember(std::u16string_view name) {
    for (const DispatchMember& m : kMembers) {
        std::string_view want(m.name);
        if (want.size() != name.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < want.size() && same; ++i) {
            char16_t c = name[i];
            if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c - u'A' + u'a');
            char w = want[i];
            if (w >= 'A' && w <= 'Z')
                w = static_cast<char>(w - 'A' + 'a');
            same = c == static_cast<char16_t>(w);
        }
        if (same)
            return &m;
    }
    return nullptr;
}

std::u16string_view olestrView(LPCOLESTR s) {
    if (!s)
        return {};
    std::size_t n = 0;
    while (n < 1024 && s[n] != u'\0')
        ++n;  // member names are short; stop at a sane bound
    return std::u16string_view(s, n);
}

}  // namespace

std::string deriveLocationBase(std::string_view location) {
    char separator = startsWithNoCase(location, "file:") ? '\\' : '/';
    std::size_t cut = location.rfind(separator);
    if (cut == std::string_view::npos)
        return std::string(location);
    return std::string(location.substr(0, cut + 1));
}

CPicvoxer* CPicvoxer::create() {
    return new (std::nothrow) CPicvoxer();
}

CPicvoxer::CPicvoxer() {
    moduleLock();
}

CPicvoxer::~CPicvoxer() {
    Stop();
    // A timer left set would fire into a control that is gone.
    run::KillPageCounter(pageCounter_, *this);
    {
        std::lock_guard<std::mutex> guard(siteLock_);
        if (site_)
            site_->Release();
        if (clientSite_)
            clientSite_->Release();
        site_ = nullptr;
        clientSite_ = nullptr;
    }
    moduleUnlock();
}

// ---- IUnknown ----

HRESULT CPicvoxer::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    // In the order of lookup of the control's interface map.
    if (riid == IID_IPicvoxer || riid == IID_IDispatch) {
        *ppv = static_cast<IPicvoxer*>(this);
    } else if (riid == IID_IHostedControl) {
        *ppv = static_cast<IHostedControl*>(this);
    } else if (riid == IID_IPersistPropertyBag || riid == IID_IPersist) {
        *ppv = static_cast<IPersistPropertyBag*>(this);
    } else if (riid == IID_IObjectSafety) {
        *ppv = static_cast<IObjectSafety*>(this);
    } else if (riid == IID_IUnknown) {
        *ppv = static_cast<IPicvoxer*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CPicvoxer::AddRef() {
    return ++refs_;
}

ULONG CPicvoxer::Release() {
    ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

// ---- IDispatch ----

HRESULT CPicvoxer::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT CPicvoxer::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT CPicvoxer::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                 DISPID* rgDispId) {
    if (!(riid == IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0)
        return S_OK;
    if (!rgszNames || !rgDispId)
        return E_POINTER;
    HRESULT hr = S_OK;
    const DispatchMember* member = findMember(olestrView(rgszNames[0]));
    rgDispId[0] = member ? member->id : DISPID_UNKNOWN;
    if (!member)
        hr = DISP_E_UNKNOWNNAME;
    // No member takes named arguments.
    for (UINT i = 1; i < cNames; ++i) {
        rgDispId[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT CPicvoxer::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                          DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO*,
                          UINT* puArgErr) {
    if (!(riid == IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    const DispatchMember* member = findMember(dispIdMember);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none;
    const DISPPARAMS& params = pDispParams ? *pDispParams : none;
    if (params.cArgs > 0 && !params.rgvarg)
        return E_INVALIDARG;
    if (params.cNamedArgs > 0 && !params.rgdispidNamedArgs)
        return E_INVALIDARG;
    if (params.cNamedArgs > params.cArgs)
        return E_INVALIDARG;

    IPicvoxer* self = this;
    if (member->kind == MemberKind::Method) {
        if (!(wFlags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        if (params.cNamedArgs > 0)
            return DISP_E_NONAMEDARGS;
        if (params.cArgs != 0)
            return DISP_E_BADPARAMCOUNT;
        if (pVarResult)
            VariantInit(pVarResult);
        return (self->*(member->call))();
    }

    if (wFlags & (DISPATCH_PROPERTYGET)) {
        if (params.cNamedArgs > 0)
            return DISP_E_NONAMEDARGS;
        if (params.cArgs != 0)
            return DISP_E_BADPARAMCOUNT;
        if (!pVarResult)
            return E_INVALIDARG;
        VariantInit(pVarResult);
        if (member->kind == MemberKind::Text) {
            BSTR value = nullptr;
            HRESULT hr = (self->*(member->getText))(&value);
            if (failed(hr))
                return hr;
            pVarResult->vt = VT_BSTR;
            pVarResult->bstrVal = value;
            return hr;
        }
        std::int32_t value = 0;
        HRESULT hr = (self->*(member->getNumber))(&value);
        if (failed(hr))
            return hr;
        pVarResult->vt = VT_I4;
        pVarResult->lVal = value;
        return hr;
    }

    if (wFlags & DISPATCH_PROPERTYPUT) {
        if (params.cArgs != 1)
            return DISP_E_BADPARAMCOUNT;
        if (params.cNamedArgs != 1 || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
            return DISP_E_PARAMNOTFOUND;
        }
        VARIANT converted;
        HRESULT hr = VariantChangeType(&converted, &params.rgvarg[0], 0,
                                       member->kind == MemberKind::Text ? VT_BSTR : VT_I4);
        if (failed(hr)) {
            if (puArgErr)
                *puArgErr = 0;
            return hr;
        }
        if (member->kind == MemberKind::Text) {
            hr = (self->*(member->putText))(converted.bstrVal);
        } else {
            hr = (self->*(member->putNumber))(converted.lVal);
        }
        VariantClear(&converted);
        return hr;
    }
    return DISP_E_MEMBERNOTFOUND;
}

// ---- Properties ----

HRESULT CPicvoxer::get_WaveFileURL(BSTR* pVal) {
    return getText(waveFileUrl_, pVal);
}
HRESULT CPicvoxer::put_WaveFileURL(BSTR newVal) {
    return putText(waveFileUrl_, newVal);
}
HRESULT CPicvoxer::get_ImageFileURL(BSTR* pVal) {
    return getText(imageFileUrl_, pVal);
}
HRESULT CPicvoxer::put_ImageFileURL(BSTR newVal) {
    return putText(imageFileUrl_, newVal);
}
HRESULT CPicvoxer::get_CacheTime(std::int32_t* pVal) {
    return getNumber(cacheTimeMs_, pVal);
}
HRESULT CPicvoxer::put_CacheTime(std::int32_t newVal) {
    cacheTimeMs_ = newVal;
    return S_OK;
}

HRESULT CPicvoxer::get_AbsoluteTime(BSTR* pVal) {
    return getText(absoluteTime_, pVal);
}
// Only Start, Stop and the download thread write the capture time; the page cannot.
HRESULT CPicvoxer::put_AbsoluteTime(BSTR) {
    return S_OK;
}

HRESULT CPicvoxer::get_Location(BSTR* pVal) {
    return getText(location_, pVal);
}
HRESULT CPicvoxer::put_Location(BSTR newVal) {
    try {
        std::string text = utf8FromBstr(newVal);
        std::string base = deriveLocationBase(text);
        location_.set(std::move(text));
        locationBase_.set(std::move(base));
    } catch (const std::bad_alloc&) {
    }
    return S_OK;
}

HRESULT CPicvoxer::get_mask_height(std::int32_t* pVal) {
    return getNumber(maskHeight_, pVal);
}
HRESULT CPicvoxer::put_mask_height(std::int32_t newVal) {
    if (newVal >= 0)
        maskHeight_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_mask_color(std::int32_t* pVal) {
    return getNumber(maskColor_, pVal);
}
HRESULT CPicvoxer::put_mask_color(std::int32_t newVal) {
    maskColor_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_wave_request_interval(std::int32_t* pVal) {
    return getNumber(waveRequestIntervalMs_, pVal);
}
HRESULT CPicvoxer::put_wave_request_interval(std::int32_t newVal) {
    if (newVal >= 0)
        waveRequestIntervalMs_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_InitWaveFileURL(BSTR* pVal) {
    return getText(initWaveFileUrl_, pVal);
}
HRESULT CPicvoxer::put_InitWaveFileURL(BSTR newVal) {
    return putText(initWaveFileUrl_, newVal);
}
HRESULT CPicvoxer::get_hdd_save(std::int32_t* pVal) {
    return getNumber(hddSave_, pVal);
}
HRESULT CPicvoxer::put_hdd_save(std::int32_t newVal) {
    hddSave_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_jpeg2000_interval(std::int32_t* pVal) {
    return getNumber(pictureInterval_, pVal);
}
HRESULT CPicvoxer::put_jpeg2000_interval(std::int32_t newVal) {
    pictureInterval_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_save_time(std::int32_t* pVal) {
    return getNumber(saveTime_, pVal);
}
HRESULT CPicvoxer::put_save_time(std::int32_t newVal) {
    saveTime_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_hdd_full_msg(BSTR* pVal) {
    return getText(diskFullMsg_, pVal);
}
HRESULT CPicvoxer::put_hdd_full_msg(BSTR newVal) {
    return putText(diskFullMsg_, newVal);
}
HRESULT CPicvoxer::get_complete_msg(BSTR* pVal) {
    return getText(completeMsg_, pVal);
}
HRESULT CPicvoxer::put_complete_msg(BSTR newVal) {
    return putText(completeMsg_, newVal);
}
HRESULT CPicvoxer::get_error_msg(BSTR* pVal) {
    return getText(errorMsg_, pVal);
}
HRESULT CPicvoxer::put_error_msg(BSTR newVal) {
    return putText(errorMsg_, newVal);
}
HRESULT CPicvoxer::get_SaveComplete(std::int32_t* pVal) {
    return getNumber(saveComplete_.load(), pVal);
}
HRESULT CPicvoxer::put_SaveComplete(std::int32_t newVal) {
    saveComplete_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_TimestampOrder(std::int32_t* pVal) {
    return getNumber(timestampOrder_, pVal);
}
HRESULT CPicvoxer::put_TimestampOrder(std::int32_t newVal) {
    timestampOrder_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_delimiter(BSTR* pVal) {
    return getText(delimiter_, pVal);
}
HRESULT CPicvoxer::put_delimiter(BSTR newVal) {
    // Exactly one of the three date delimiters; anything else leaves the old one.
    std::u16string_view text = bstrView(newVal);
    if (text.size() != 1)
        return S_OK;
    char16_t c = text[0];
    if (c == u'-' || c == u'.' || c == u'/') {
        try {
            delimiter_.set(std::string(1, static_cast<char>(c)));
        } catch (const std::bad_alloc&) {
        }
    }
    return S_OK;
}
HRESULT CPicvoxer::get_inputname(BSTR* pVal) {
    return getText(inputName_, pVal);
}
HRESULT CPicvoxer::put_inputname(BSTR newVal) {
    return putText(inputName_, newVal);
}
HRESULT CPicvoxer::get_destination(BSTR* pVal) {
    return getText(destination_, pVal);
}
HRESULT CPicvoxer::put_destination(BSTR newVal) {
    return putText(destination_, newVal);
}
HRESULT CPicvoxer::get_destinationSW(std::int32_t* pVal) {
    return getNumber(destinationSW_, pVal);
}
HRESULT CPicvoxer::put_destinationSW(std::int32_t newVal) {
    destinationSW_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_model(BSTR* pVal) {
    return getText(model_, pVal);
}
HRESULT CPicvoxer::put_model(BSTR newVal) {
    return putText(model_, newVal);
}
HRESULT CPicvoxer::get_counterSW(std::int32_t* pVal) {
    return getNumber(counterSW_, pVal);
}
HRESULT CPicvoxer::put_counterSW(std::int32_t newVal) {
    counterSW_ = newVal;
    return S_OK;
}
HRESULT CPicvoxer::get_counter(BSTR* pVal) {
    return getText(counter_, pVal);
}
HRESULT CPicvoxer::put_counter(BSTR newVal) {
    return putText(counter_, newVal);
}
HRESULT CPicvoxer::get_DL_InfFileURL(BSTR* pVal) {
    return getText(infFileUrl_, pVal);
}
HRESULT CPicvoxer::put_DL_InfFileURL(BSTR newVal) {
    return putText(infFileUrl_, newVal);
}

// ---- Methods ----

HRESULT CPicvoxer::Start() {
    saveComplete_ = 0;
    bool started = false;
    ConfigureLog(platform::documentsFolder());
    WriteLog(LogTag::CPicvoxer, "Startメソッド開始");
    try {
        absoluteTime_.set(std::string());
        // The property itself keeps the shortened text.
        destination_.set(TrimDestination(destination_.get()));
        RunSettings settings;
        settings.cacheTimeMs = cacheTimeMs_;
        settings.waveRequestIntervalMs = waveRequestIntervalMs_;
        settings.maskHeight = maskHeight_;
        settings.pictureInterval = pictureInterval_;
        settings.saveTime = saveTime_;
        settings.timestampOrder = timestampOrder_;
        settings.delimiter = delimiter_.get();
        settings.destinationSW = destinationSW_;
        settings.counterSW = counterSW_;
        settings.hddSave = hddSave_;
        started = run_.start(settings);
    } catch (const std::bad_alloc&) {
    }
    if (hddSave_ == 0 && destinationSW_ != 0) {
        WriteLog(LogTag::CPicvoxer, "Start：フォルダセット機能処理開始");
        ChooseSaveFolder();
    } else if (hddSave_ != 0 && destinationSW_ == 0) {
        WriteLog(LogTag::CPicvoxer, "Start：保存機能処理開始");
    }
    // A run that did not start reports its end at once: no counter is left to tick for it.
    if (started)
        ArmPageCounter();
    WriteLog(LogTag::CPicvoxer, "Startメソッド終了");
    return S_OK;
}

HRESULT CPicvoxer::Stop() {
    WriteLog(LogTag::CPicvoxer, "Stopメソッド開始");
    // Also after a run that ended by itself: whatever counter is left goes with the page's Stop.
    if (window() != 0)
        run::KillPageCounter(pageCounter_, *this);
    run_.stop();
    WriteLog(LogTag::CPicvoxer, "Stopメソッド終了");
    return S_OK;
}

std::string CPicvoxer::text(RunText which) const {
    switch (which) {
        case RunText::WaveFileUrl:
            return waveFileUrl_.get();
        case RunText::InitWaveFileUrl:
            return initWaveFileUrl_.get();
        case RunText::ImageFileUrl:
            return imageFileUrl_.get();
        case RunText::InfFileUrl:
            return infFileUrl_.get();
        case RunText::LocationBase:
            return locationBase_.get();
        case RunText::Destination:
            return destination_.get();
        case RunText::Model:
            return model_.get();
        case RunText::DiskFullMsg:
            return diskFullMsg_.get();
        case RunText::CompleteMsg:
            return completeMsg_.get();
        case RunText::ErrorMsg:
            return errorMsg_.get();
        case RunText::AbsoluteTime:
            return absoluteTime_.get();
    }
    return std::string();
}

// The run writes back only the run folder it made and the time Stop leaves.
void CPicvoxer::setText(RunText which, const std::string& value) {
    try {
        if (which == RunText::Destination)
            destination_.set(value);
        else if (which == RunText::AbsoluteTime)
            absoluteTime_.set(value);
    } catch (const std::bad_alloc&) {
    }
}

// ---- IHostedControl ----

HRESULT CPicvoxer::SetClientSite(IUnknown* site) {
    IPicvoxSite* pageSite = nullptr;
    if (site) {
        if (failed(site->QueryInterface(IID_IPicvoxSite, reinterpret_cast<void**>(&pageSite)))) {
            pageSite = nullptr;
        }
        site->AddRef();
    }
    IUnknown* oldClient = nullptr;
    IPicvoxSite* oldSite = nullptr;
    {
        std::lock_guard<std::mutex> guard(siteLock_);
        oldClient = clientSite_;
        oldSite = site_;
        clientSite_ = site;
        site_ = pageSite;
    }
    // Released outside the lock: a site's destructor may call back into the control.
    if (oldSite)
        oldSite->Release();
    if (oldClient)
        oldClient->Release();
    return S_OK;
}

HRESULT CPicvoxer::GetClientSite(IUnknown** site) {
    if (!site)
        return E_POINTER;
    std::lock_guard<std::mutex> guard(siteLock_);
    *site = clientSite_;
    if (clientSite_)
        clientSite_->AddRef();
    return S_OK;
}

HRESULT CPicvoxer::SetExtent(std::uint32_t cx, std::uint32_t cy) {
    extentCx_ = cx;
    extentCy_ = cy;
    return S_OK;
}

HRESULT CPicvoxer::GetExtent(std::uint32_t* cx, std::uint32_t* cy) {
    if (!cx || !cy)
        return E_POINTER;
    *cx = extentCx_;
    *cy = extentCy_;
    return S_OK;
}

HRESULT CPicvoxer::Draw(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                        std::int32_t strideBytes) {
    if (!pixels)
        return E_POINTER;
    const run::Surface surface{pixels, width, height, strideBytes};
    if (!surface.valid())
        return E_INVALIDARG;
    OnDraw(surface);
    return S_OK;
}

HRESULT CPicvoxer::OnTimer(std::uint32_t id) {
    run::OnPageCounterTimer(pageCounter_, id, counter_.get(), destinationSW_, *this);
    return S_OK;
}

// ---- Painting ----

void CPicvoxer::OnDraw(const run::Surface& surface) {
    paintedWidth_ = surface.width;
    paintedHeight_ = surface.height;
    // The first paint names the window the run's threads wait for. A site that has none yet
    // gets asked again at the next paint.
    if (firstPaint_) {
        std::uint64_t handle = 0;
        if (IPicvoxSite* site = acquireSite()) {
            if (failed(site->GetWindow(&handle)))
                handle = 0;
            site->Release();
        }
        if (handle != 0) {
            window_ = handle;
            firstPaint_ = false;
        }
    }

    bool drawn = false;
    if (std::shared_ptr<FrameQueue> queue = frameQueue()) {
        // Under the control lock, which the queue's own operations also take.
        queue->withCurrentPicture(
            [&](const platform::GlobalBlock& block, std::int32_t, std::int64_t) {
                std::optional<run::DibInfo> info = run::readDibInfo(block.data(), block.size());
                if (!info)
                    return;  // not a picture we can read: shown as none
                WriteLog(LogTag::CPicvoxer, "OnDraw Image(w,h)=(%d,%d)", info->width, info->height);
                drawn = run::drawDibStretched(block.data(), block.size(), surface);
            });
    }
    if (drawn)
        return;
    if (!run::moduleAnimation().draw(surface))
        run::fillRect(surface, run::Rect{0, 0, surface.width, surface.height}, run::kBlack);
}

void CPicvoxer::setFrameQueue(std::shared_ptr<FrameQueue> queue) {
    std::shared_ptr<FrameQueue> old;
    {
        std::lock_guard<std::mutex> guard(frameQueueLock_);
        old = std::exchange(frameQueue_, std::move(queue));
    }
}

std::shared_ptr<FrameQueue> CPicvoxer::frameQueue() const {
    std::lock_guard<std::mutex> guard(frameQueueLock_);
    return frameQueue_;
}

// ---- The run's calls ----

bool CPicvoxer::StartAnimationThread(platform::Worker& worker, int maskHeight) {
    return run::StartAnimationThread(worker, *this, maskHeight);
}

void CPicvoxer::ArmPageCounter() {
    run::ArmPageCounter(
        pageCounter_,
        run::CounterSettings{RunMode::of(hddSave_, pictureInterval_, destinationSW_),
                             destinationSW_, saveTime_},
        *this);
}

std::optional<std::string> CPicvoxer::ChooseSaveFolder() {
    return run::ChooseSaveFolder(*this, inputName_.get(), UserStore::defaultPath());
}

bool CPicvoxer::SetPageInput(std::string_view name, std::string_view value,
                             run::InputTemplate kind) {
    return run::SetPageInput(*this, name, value, kind);
}

// ---- run::PagePort over the site ----

IPicvoxSite* CPicvoxer::acquireSite() const {
    std::lock_guard<std::mutex> guard(siteLock_);
    if (site_)
        site_->AddRef();
    return site_;
}

void CPicvoxer::invalidateWindow() {
    if (IPicvoxSite* site = acquireSite()) {
        site->InvalidateControl();
        site->Release();
    }
}

run::Rect CPicvoxer::clientRect() const {
    return run::Rect{0, 0, paintedWidth_.load(), paintedHeight_.load()};
}

void CPicvoxer::invalidateRect(const run::Rect& rect) {
    if (IPicvoxSite* site = acquireSite()) {
        site->InvalidateRect(rect.x, rect.y, rect.width, rect.height);
        site->Release();
    }
}

void CPicvoxer::setTimer(std::uint32_t id, std::uint32_t periodMs) {
    if (IPicvoxSite* site = acquireSite()) {
        site->SetTimer(id, periodMs);
        site->Release();
    }
}

void CPicvoxer::killTimer(std::uint32_t id) {
    if (IPicvoxSite* site = acquireSite()) {
        site->KillTimer(id);
        site->Release();
    }
}

void CPicvoxer::messageBox(std::string_view caption, std::string_view text, run::MessageIcon icon) {
    IPicvoxSite* site = acquireSite();
    if (!site)
        return;
    try {
        const std::u16string caption16 = utf8ToUtf16(caption);
        const std::u16string text16 = utf8ToUtf16(text);
        site->ShowMessageBox(caption16.empty() ? nullptr : caption16.c_str(), text16.c_str(),
                             icon == run::MessageIcon::Warning       ? kPicvoxMessageWarning
                             : icon == run::MessageIcon::Information ? kPicvoxMessageInformation
                                                                     : kPicvoxMessageNoIcon);
    } catch (const std::bad_alloc&) {
    }
    site->Release();
}

void CPicvoxer::statusText(std::string_view text) {
    IPicvoxSite* site = acquireSite();
    if (!site)
        return;
    IPicvoxStatusSite* status = nullptr;
    if (!failed(site->QueryInterface(IID_IPicvoxStatusSite, reinterpret_cast<void**>(&status))) &&
        status) {
        try {
            const std::u16string text16 = utf8ToUtf16(text);
            status->ShowStatus(text16.c_str());
        } catch (const std::bad_alloc&) {
        }
        status->Release();
    }
    site->Release();
}

namespace {

// The site's access questions, with a reference of the caller's; null when it has none.
IPicvoxAccessSite* accessSiteOf(IPicvoxSite* site) {
    IPicvoxAccessSite* access = nullptr;
    if (!site ||
        failed(site->QueryInterface(IID_IPicvoxAccessSite, reinterpret_cast<void**>(&access))))
        return nullptr;
    return access;
}

// A BSTR's text overwritten before it is freed.
void freeSecret(BSTR text) {
    if (text) {
        const std::size_t length = std::char_traits<char16_t>::length(text);
        ::explicit_bzero(text, length * sizeof(char16_t));
    }
    SysFreeString(text);
}

}  // namespace

std::optional<Login> CPicvoxer::credentials(const std::string& recorder, const std::string& realm,
                                            int attempt) {
    IPicvoxSite* site = acquireSite();
    IPicvoxAccessSite* access = accessSiteOf(site);
    std::optional<Login> login;
    if (access) {
        BSTR user = nullptr;
        BSTR password = nullptr;
        try {
            const std::u16string recorder16 = utf8ToUtf16(recorder);
            const std::u16string realm16 = utf8ToUtf16(realm);
            if (access->GetCredentials(recorder16.c_str(), realm16.c_str(),
                                       static_cast<std::uint32_t>(attempt), &user,
                                       &password) == S_OK &&
                user) {
                std::string secret = password ? utf8FromBstr(password) : std::string();
                login = Login{utf8FromBstr(user), SecretText(secret)};
                ::explicit_bzero(secret.data(), secret.capacity());
            }
        } catch (const std::bad_alloc&) {
            login.reset();
        }
        SysFreeString(user);
        freeSecret(password);
        access->Release();
    }
    if (site)
        site->Release();
    return login;
}

TrustAnswer CPicvoxer::trustCertificate(const std::string& recorder,
                                        const CertificateFacts& facts) {
    IPicvoxSite* site = acquireSite();
    IPicvoxAccessSite* access = accessSiteOf(site);
    TrustAnswer answer = TrustAnswer::Refused;
    if (access) {
        std::uint32_t given = kPicvoxTrustRefused;
        try {
            const std::u16string recorder16 = utf8ToUtf16(recorder);
            const std::u16string sha16 = utf8ToUtf16(facts.sha256);
            const std::u16string subject16 = utf8ToUtf16(facts.subject);
            const std::u16string validity16 = utf8ToUtf16(facts.validity);
            if (access->TrustCertificate(recorder16.c_str(), sha16.c_str(), subject16.c_str(),
                                         validity16.c_str(), &given) != S_OK)
                given = kPicvoxTrustRefused;
        } catch (const std::bad_alloc&) {
            given = kPicvoxTrustRefused;
        }
        answer = given == kPicvoxTrustAlways    ? TrustAnswer::Always
                 : given == kPicvoxTrustThisRun ? TrustAnswer::ThisRun
                                                : TrustAnswer::Refused;
        access->Release();
    }
    if (site)
        site->Release();
    return answer;
}

bool CPicvoxer::replaceElementByInput(std::string_view name, std::string_view outerHtml) {
    IPicvoxSite* site = acquireSite();
    if (!site)
        return false;
    bool replaced = false;
    try {
        const std::u16string name16 = utf8ToUtf16(name);
        const std::u16string html16 = utf8ToUtf16(outerHtml);
        replaced = site->ReplaceElementByInput(name16.c_str(), html16.c_str()) == S_OK;
    } catch (const std::bad_alloc&) {
    }
    site->Release();
    return replaced;
}

std::optional<std::string> CPicvoxer::chooseFolder(const std::string& startFolder) {
    IPicvoxSite* site = acquireSite();
    if (!site)
        return std::nullopt;
    std::optional<std::string> chosen;
    BSTR folder = nullptr;
    try {
        const std::u16string start16 = utf8ToUtf16(startFolder);
        if (site->ChooseFolder(start16.empty() ? nullptr : start16.c_str(), &folder) == S_OK &&
            folder)
            chosen = utf8FromBstr(folder);
    } catch (const std::bad_alloc&) {
        chosen.reset();
    }
    SysFreeString(folder);
    site->Release();
    return chosen;
}

// ---- IPersistPropertyBag ----

HRESULT CPicvoxer::GetClassID(CLSID* pClassID) {
    if (!pClassID)
        return E_POINTER;
    *pClassID = CLSID_Picvoxer;
    return S_OK;
}

HRESULT CPicvoxer::InitNew() {
    return S_OK;
}

HRESULT CPicvoxer::Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) {
    if (!pPropBag)
        return E_POINTER;
    // A value that is missing or not an unsigned 32-bit number leaves the extent as it is.
    auto readExtent = [&](const char16_t* name, std::uint32_t& target) {
        VARIANT v;
        v.vt = VT_UI4;
        if (failed(pPropBag->Read(name, &v, pErrorLog)))
            return;
        if (v.vt == VT_UI4 || v.vt == VT_UINT) {
            target = v.ulVal;
        } else {
            VARIANT n;
            if (succeeded(VariantChangeType(&n, &v, 0, VT_I4)) && n.lVal >= 0) {
                target = static_cast<std::uint32_t>(n.lVal);
            }
        }
        VariantClear(&v);
    };
    readExtent(u"_cx", extentCx_);
    readExtent(u"_cy", extentCy_);
    return S_OK;
}

HRESULT CPicvoxer::Save(IPropertyBag* pPropBag, BOOL, BOOL) {
    if (!pPropBag)
        return E_POINTER;
    VARIANT v;
    v.vt = VT_UI4;
    v.ulVal = extentCx_;
    HRESULT hr = pPropBag->Write(u"_cx", &v);
    if (failed(hr))
        return hr;
    v.ulVal = extentCy_;
    return pPropBag->Write(u"_cy", &v);
}

// ---- IObjectSafety ----

HRESULT CPicvoxer::GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions,
                                             DWORD* pdwEnabledOptions) {
    if (!pdwSupportedOptions || !pdwEnabledOptions)
        return E_POINTER;
    void* probe = nullptr;
    if (failed(QueryInterface(riid, &probe))) {
        *pdwSupportedOptions = 0;
        *pdwEnabledOptions = 0;
        return E_NOINTERFACE;
    }
    Release();
    *pdwSupportedOptions = kSafetySupported;
    *pdwEnabledOptions = safetyEnabled_.load() & kSafetySupported;
    return S_OK;
}

HRESULT CPicvoxer::SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                             DWORD dwEnabledOptions) {
    if (dwOptionSetMask & ~kSafetySupported)
        return E_FAIL;
    void* probe = nullptr;
    if (failed(QueryInterface(riid, &probe)))
        return E_NOINTERFACE;
    Release();
    DWORD current = safetyEnabled_.load();
    safetyEnabled_ = (current & ~dwOptionSetMask) | (dwEnabledOptions & dwOptionSetMask);
    return S_OK;
}

}  // namespace picvox
