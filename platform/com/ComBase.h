#pragma once

// A COM-style binary interface: HRESULT codes, GUIDs, reference-counted interfaces with
// QueryInterface, late binding through IDispatch, class factories. In-process components and
// their hosts agree on these layouts and on the codes below; nothing else passes between them.
// Wide strings are UTF-16 (char16_t); components keep UTF-8 inside.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::com {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using WORD = std::uint16_t;
using LCID = std::uint32_t;
using BOOL = std::int32_t;
using DISPID = std::int32_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

inline constexpr bool succeeded(HRESULT hr) {
    return hr >= 0;
}
inline constexpr bool failed(HRESULT hr) {
    return hr < 0;
}

inline constexpr HRESULT makeFailure(std::uint32_t code) {
    return static_cast<HRESULT>(code);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = makeFailure(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = makeFailure(0x80004002u);
inline constexpr HRESULT E_POINTER = makeFailure(0x80004003u);
inline constexpr HRESULT E_FAIL = makeFailure(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = makeFailure(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = makeFailure(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = makeFailure(0x80070057u);
inline constexpr HRESULT E_ACCESSDENIED = makeFailure(0x80070005u);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = makeFailure(0x80020001u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = makeFailure(0x80020003u);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = makeFailure(0x80020004u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = makeFailure(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = makeFailure(0x80020006u);
inline constexpr HRESULT DISP_E_NONAMEDARGS = makeFailure(0x80020007u);
inline constexpr HRESULT DISP_E_BADVARTYPE = makeFailure(0x80020008u);
inline constexpr HRESULT DISP_E_OVERFLOW = makeFailure(0x8002000Au);
inline constexpr HRESULT DISP_E_BADINDEX = makeFailure(0x8002000Bu);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = makeFailure(0x8002000Eu);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = makeFailure(0x8002000Fu);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = makeFailure(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = makeFailure(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = makeFailure(0x80040154u);
inline constexpr HRESULT CO_E_CLASSSTRING = makeFailure(0x800401F3u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = makeFailure(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = makeFailure(0x800401F9u);
inline constexpr HRESULT SELFREG_E_CLASS = makeFailure(0x80040201u);
inline constexpr HRESULT SELFREG_E_TYPELIB = makeFailure(0x80040200u);

struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};

    friend bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i) {
            if (a.Data4[i] != b.Data4[i])
                return false;
        }
        return true;
    }
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as the registry holds it.
std::string guidToString(const GUID& g);
// Accepts that form (either letter case, braces required); false for anything else.
bool guidFromString(std::string_view text, GUID& out);

inline constexpr GUID IID_NULL{};
inline constexpr GUID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IClassFactory{
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IPersist{
    0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IDispatch{
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_ITypeInfo{
    0x00020401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IObjectSafety{
    0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
inline constexpr GUID IID_IPropertyBag{
    0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
inline constexpr GUID IID_IPersistPropertyBag{
    0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
// The standard automation marshaller, named in interface registrations.
inline constexpr GUID CLSID_PSOAInterface{
    0x00020424, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;  // objects die through Release only
};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// Type information is not carried; components answer GetTypeInfoCount with 0.
class ITypeInfo : public IUnknown {
protected:
    ~ITypeInfo() = default;
};

// ---- Automation values ----

using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using BSTR = OLECHAR*;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_INT = 22,
    VT_UINT = 23,
    VT_BYREF = 0x4000,
};

class IDispatch;

struct VARIANT {
    VARTYPE vt = VT_EMPTY;
    std::uint16_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint16_t reserved3 = 0;
    union {
        std::int32_t lVal;
        std::uint32_t ulVal;
        std::int16_t iVal;
        std::uint16_t uiVal;
        std::int8_t cVal;
        std::uint8_t bVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        std::int64_t llVal;
        std::int32_t* plVal;      // VT_BYREF | VT_I4
        BSTR* pbstrVal;           // VT_BYREF | VT_BSTR
        struct VARIANT* pvarVal;  // VT_BYREF | VT_VARIANT
    };
    VARIANT() : llVal(0) {}
};

struct EXCEPINFO {
    WORD wCode = 0;
    WORD wReserved = 0;
    BSTR bstrSource = nullptr;
    BSTR bstrDescription = nullptr;
    BSTR bstrHelpFile = nullptr;
    DWORD dwHelpContext = 0;
    void* pvReserved = nullptr;
    void* pfnDeferredFillIn = nullptr;
    HRESULT scode = 0;
};

// Arguments in reverse order, as the caller pushes them; named ones first.
struct DISPPARAMS {
    VARIANT* rgvarg = nullptr;
    DISPID* rgdispidNamedArgs = nullptr;
    UINT cArgs = 0;
    UINT cNamedArgs = 0;
};

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

class IDispatch : public IUnknown {
public:
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                           UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};

// ---- Safety for scripting ----

inline constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
inline constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

class IObjectSafety : public IUnknown {
public:
    virtual HRESULT GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions,
                                              DWORD* pdwEnabledOptions) = 0;
    virtual HRESULT SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                              DWORD dwEnabledOptions) = 0;

protected:
    ~IObjectSafety() = default;
};

// ---- Persistence through named values ----

// Opaque: components do not report load errors back through it.
class IErrorLog : public IUnknown {
protected:
    ~IErrorLog() = default;
};

class IPropertyBag : public IUnknown {
public:
    // On entry pVar->vt names the wanted type (VT_EMPTY: any); the bag converts or fails.
    virtual HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) = 0;
    virtual HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) = 0;

protected:
    ~IPropertyBag() = default;
};

class IPersist : public IUnknown {
public:
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;

protected:
    ~IPersist() = default;
};

class IPersistPropertyBag : public IPersist {
public:
    virtual HRESULT InitNew() = 0;
    virtual HRESULT Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) = 0;
    virtual HRESULT Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) = 0;

protected:
    ~IPersistPropertyBag() = default;
};

// The four entry points of an in-process component module, exported with C linkage.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

}  // namespace platform::com
