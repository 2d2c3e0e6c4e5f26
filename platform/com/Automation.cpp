#include "platform/com/Automation.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace platform::com {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Banker's rounding, as automation rounds reals to integers.
bool roundToInt32(double value, std::int32_t& out) {
    if (std::isnan(value))
        return false;
    double r = std::nearbyint(value);  // default rounding mode: to nearest, ties to even
    if (r < -2147483648.0 || r > 2147483647.0)
        return false;
    out = static_cast<std::int32_t>(r);
    return true;
}

// A number in text: optional blanks, sign, digits, fraction, exponent; nothing else.
bool parseNumber(const std::string& text, double& out) {
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t')
        ++begin;
    if (*begin == '\0')
        return false;
    // strtod would also take hexadecimal, "inf" and "nan"; automation text numbers are decimal.
    for (const char* p = begin; *p; ++p) {
        if (std::strchr("0123456789+-.eE \t", *p) == nullptr)
            return false;
    }
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(begin, &end);
    if (end == begin)
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end != '\0' || errno == ERANGE)
        return false;
    out = v;
    return true;
}

HRESULT toI4(const VARIANT* src, std::int32_t& out) {
    VARTYPE vt = src->vt;
    if (vt & VT_BYREF) {
        VARTYPE base = static_cast<VARTYPE>(vt & ~VT_BYREF);
        if (base == VT_VARIANT && src->pvarVal)
            return toI4(src->pvarVal, out);
        if (base == VT_I4 && src->plVal) {
            out = *src->plVal;
            return S_OK;
        }
        if (base == VT_BSTR && src->pbstrVal) {
            VARIANT tmp;
            tmp.vt = VT_BSTR;
            tmp.bstrVal = *src->pbstrVal;
            return toI4(&tmp, out);
        }
        return DISP_E_TYPEMISMATCH;
    }
    switch (vt) {
        case VT_EMPTY:
            out = 0;
            return S_OK;
        case VT_I1:
            out = src->cVal;
            return S_OK;
        case VT_UI1:
            out = src->bVal;
            return S_OK;
        case VT_I2:
            out = src->iVal;
            return S_OK;
        case VT_UI2:
            out = src->uiVal;
            return S_OK;
        case VT_I4:
        case VT_INT:
            out = src->lVal;
            return S_OK;
        case VT_UI4:
        case VT_UINT:
            if (src->ulVal > 0x7FFFFFFFu)
                return DISP_E_OVERFLOW;
            out = static_cast<std::int32_t>(src->ulVal);
            return S_OK;
        case VT_BOOL:
            out = src->boolVal ? -1 : 0;
            return S_OK;
        case VT_R8:
            return roundToInt32(src->dblVal, out) ? S_OK : DISP_E_OVERFLOW;
        case VT_BSTR: {
            double d = 0;
            if (!parseNumber(utf8FromBstr(src->bstrVal), d))
                return DISP_E_TYPEMISMATCH;
            return roundToInt32(d, out) ? S_OK : DISP_E_OVERFLOW;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT toText(const VARIANT* src, std::string& out) {
    VARTYPE vt = src->vt;
    if (vt & VT_BYREF) {
        VARTYPE base = static_cast<VARTYPE>(vt & ~VT_BYREF);
        if (base == VT_VARIANT && src->pvarVal)
            return toText(src->pvarVal, out);
        if (base == VT_BSTR && src->pbstrVal) {
            out = utf8FromBstr(*src->pbstrVal);
            return S_OK;
        }
        if (base == VT_I4 && src->plVal) {
            out = std::to_string(*src->plVal);
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    }
    switch (vt) {
        case VT_EMPTY:
            out.clear();
            return S_OK;
        case VT_BSTR:
            out = utf8FromBstr(src->bstrVal);
            return S_OK;
        case VT_BOOL:
            out = src->boolVal ? "True" : "False";
            return S_OK;
        case VT_R8: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.15g", src->dblVal);
            out = buf;
            return S_OK;
        }
        default: {
            std::int32_t i = 0;
            if (vt == VT_UI4 || vt == VT_UINT) {
                out = std::to_string(src->ulVal);
                return S_OK;
            }
            HRESULT hr = toI4(src, i);
            if (failed(hr))
                return DISP_E_TYPEMISMATCH;
            out = std::to_string(i);
            return S_OK;
        }
    }
}

}  // namespace

BSTR SysAllocStringLen(LPCOLESTR text, UINT length) {
    if (length > kMaxBstrChars)
        return nullptr;
    std::size_t bytes = sizeof(std::uint32_t) + (static_cast<std::size_t>(length) + 1) * 2;
    auto* raw = static_cast<unsigned char*>(std::malloc(bytes));
    if (!raw)
        return nullptr;
    std::uint32_t byteLength = length * 2u;
    std::memcpy(raw, &byteLength, sizeof byteLength);
    auto* chars = reinterpret_cast<OLECHAR*>(raw + sizeof(std::uint32_t));
    if (text && length) {
        std::memcpy(chars, text, static_cast<std::size_t>(length) * 2);
    } else if (length) {
        std::memset(chars, 0, static_cast<std::size_t>(length) * 2);
    }
    chars[length] = u'\0';
    return chars;
}

BSTR SysAllocString(LPCOLESTR text) {
    if (!text)
        return nullptr;
    std::size_t n = 0;
    while (text[n] != u'\0') {
        if (n >= kMaxBstrChars)
            return nullptr;
        ++n;
    }
    return SysAllocStringLen(text, static_cast<UINT>(n));
}

void SysFreeString(BSTR text) {
    if (!text)
        return;
    std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t));
}

UINT SysStringLen(BSTR text) {
    if (!text)
        return 0;
    std::uint32_t byteLength = 0;
    std::memcpy(&byteLength, reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t),
                sizeof byteLength);
    return byteLength / 2;
}

std::u16string_view bstrView(BSTR text) {
    if (!text)
        return {};
    return std::u16string_view(text, SysStringLen(text));
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    while (i < n) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        int extra = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
            minimum = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
            minimum = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
            minimum = 0x10000;
        } else {
            out += static_cast<char16_t>(kReplacement);
            ++i;
            continue;
        }
        std::size_t j = 1;
        bool ok = true;
        for (; j <= static_cast<std::size_t>(extra); ++j) {
            if (i + j >= n || !isContinuation(static_cast<unsigned char>(utf8[i + j]))) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + j]) & 0x3F);
        }
        if (!ok || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += static_cast<char16_t>(kReplacement);
            i += j;  // the lead byte and the continuation bytes read so far
            continue;
        }
        appendUtf16(out, cp);
        i += j;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
                ++i;
            } else {
                c = kReplacement;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = kReplacement;
        }
        appendUtf8(out, c);
    }
    return out;
}

BSTR bstrFromUtf8(std::string_view utf8) {
    try {
        std::u16string wide = utf8ToUtf16(utf8);
        if (wide.size() > kMaxBstrChars)
            return nullptr;
        return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::string utf8FromBstr(BSTR text) {
    return utf16ToUtf8(bstrView(text));
}

void VariantInit(VARIANT* v) {
    if (!v)
        return;
    v->vt = VT_EMPTY;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v)
        return E_INVALIDARG;
    switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_UNKNOWN:
            if (v->punkVal)
                v->punkVal->Release();
            break;
        case VT_DISPATCH:
            if (v->pdispVal)
                v->pdispVal->Release();
            break;
        default:
            break;
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src)
        return E_INVALIDARG;
    if (dest == src)
        return S_OK;
    VARIANT copy = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!copy.bstrVal)
            return E_OUTOFMEMORY;
    } else if (src->vt == VT_UNKNOWN && src->punkVal) {
        src->punkVal->AddRef();
    } else if (src->vt == VT_DISPATCH && src->pdispVal) {
        src->pdispVal->AddRef();
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD /*flags*/, VARTYPE vt) {
    if (!dest || !src)
        return E_INVALIDARG;
    VARIANT result;
    switch (vt) {
        case VT_I4: {
            std::int32_t i = 0;
            HRESULT hr = toI4(src, i);
            if (failed(hr))
                return hr;
            result.vt = VT_I4;
            result.lVal = i;
            break;
        }
        case VT_BOOL: {
            std::int32_t i = 0;
            HRESULT hr = toI4(src, i);
            if (failed(hr))
                return hr;
            result.vt = VT_BOOL;
            result.boolVal = i ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        }
        case VT_BSTR: {
            std::string text;
            try {
                HRESULT hr = toText(src, text);
                if (failed(hr))
                    return hr;
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            result.vt = VT_BSTR;
            result.bstrVal = bstrFromUtf8(text);
            if (!result.bstrVal)
                return E_OUTOFMEMORY;
            break;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
    VariantClear(dest);  // src may be dest: it is no longer read
    *dest = result;
    return S_OK;
}

}  // namespace platform::com
