#pragma once

// Wide strings and values of the automation interface: BSTR allocation, VARIANT handling and
// the UTF-8 / UTF-16 conversions between a component's texts and the interface's.

#include <string>
#include <string_view>

#include "platform/com/ComBase.h"

namespace platform::com {

// Longest BSTR we allocate, in characters; longer requests fail like an allocation failure.
inline constexpr UINT kMaxBstrChars = 0x3FFFFFF0u;

// A BSTR is length-prefixed (byte count in the 4 bytes before the first character) and
// zero-terminated; a null BSTR is the empty text. Whoever receives one frees it.
BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(LPCOLESTR text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

// Ill-formed input (a lone surrogate, a bad UTF-8 sequence) becomes U+FFFD; never throws
// except std::bad_alloc.
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);
// Appends one code point as UTF-8; a surrogate or a value past U+10FFFF becomes U+FFFD.
void appendUtf8(std::string& out, char32_t codePoint);

// A new BSTR holding `utf8`, or null when it cannot be allocated.
BSTR bstrFromUtf8(std::string_view utf8);
// The text of a BSTR (null gives the empty text).
std::string utf8FromBstr(BSTR text);
std::u16string_view bstrView(BSTR text);

void VariantInit(VARIANT* v);
// Frees what the value owns (BSTR, interface reference) and leaves VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts `src` to `vt` into `dest` (which is cleared first; dest may equal src). Supports the
// conversions the components need: to VT_I4, VT_BOOL and VT_BSTR from the numeric, boolean and
// text types, looking through VT_BYREF. DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW otherwise.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD flags, VARTYPE vt);

// Owns one BSTR.
class BStr {
public:
    BStr() = default;
    explicit BStr(BSTR adopt) : text_(adopt) {}
    static BStr fromUtf8(std::string_view utf8) { return BStr(bstrFromUtf8(utf8)); }
    BStr(BStr&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }
    BStr& operator=(BStr&& other) noexcept {
        if (this != &other) {
            SysFreeString(text_);
            text_ = other.text_;
            other.text_ = nullptr;
        }
        return *this;
    }
    BStr(const BStr&) = delete;
    BStr& operator=(const BStr&) = delete;
    ~BStr() { SysFreeString(text_); }

    BSTR get() const { return text_; }
    BSTR* out() {
        SysFreeString(text_);
        text_ = nullptr;
        return &text_;
    }
    BSTR detach() {
        BSTR t = text_;
        text_ = nullptr;
        return t;
    }
    std::string utf8() const { return utf8FromBstr(text_); }

private:
    BSTR text_ = nullptr;
};

// Owns one VARIANT's contents.
class Variant : public VARIANT {
public:
    Variant() = default;
    explicit Variant(std::int32_t value) {
        vt = VT_I4;
        lVal = value;
    }
    static Variant text(std::string_view utf8) {
        Variant v;
        v.vt = VT_BSTR;
        v.bstrVal = bstrFromUtf8(utf8);
        return v;
    }
    Variant(Variant&& other) noexcept : VARIANT(other) { VariantInit(&other); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant& operator=(Variant&&) = delete;
    ~Variant() { VariantClear(this); }
};

}  // namespace platform::com
