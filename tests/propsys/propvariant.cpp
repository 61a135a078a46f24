// The PROPVARIANT helpers of the library: InitPropVariantFromStringVector,
// which the handler uses, and PropVariantChangeType and PropVariantCompareEx,
// which Wine's windowscodecs.dll imports from propsys.dll (so the imaging
// component loads only where a propsys.dll with them can be found).
#include "stand_in.h"

#include <oleauto.h>
#include <propvarutil.h>

#include <cstdint>
#include <cstring>

namespace {

PWSTR duplicate(PCWSTR text)
{
    const std::size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    const auto copy = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
    if (copy)
        std::memcpy(copy, text, bytes);
    return copy;
}

// Types that VARIANT and PROPVARIANT lay out alike, so oleaut32's
// VariantChangeType can convert between them.
bool is_variant_type(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2:
    case VT_I4: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_BOOL:
    case VT_ERROR: case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}

static_assert(sizeof(VARIANT) == sizeof(PROPVARIANT), "VARIANT and PROPVARIANT differ in size");

HRESULT change_variant(PROPVARIANT* dest, const PROPVARIANT& source, VARTYPE vt)
{
    VARIANT in;  // borrows the source's data
    std::memcpy(&in, &source, sizeof(in));
    VARIANT out;
    VariantInit(&out);
    HRESULT hr = VariantChangeType(&out, &in, 0, vt);
    if (hr == DISP_E_OVERFLOW)
        hr = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    if (SUCCEEDED(hr))
        std::memcpy(dest, &out, sizeof(out));
    return hr;
}

HRESULT change_type(PROPVARIANT* result, const PROPVARIANT& source, VARTYPE vt)
{
    if (source.vt == vt)
        return PropVariantCopy(result, &source);
    if (source.vt == VT_LPWSTR) {
        PCWSTR text = source.pwszVal ? source.pwszVal : L"";
        if (vt == VT_CLSID) {
            const auto id = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
            if (!id)
                return E_OUTOFMEMORY;
            const HRESULT hr = CLSIDFromString(text, id);
            if (FAILED(hr)) {
                CoTaskMemFree(id);
                return hr;
            }
            result->vt = VT_CLSID;
            result->puuid = id;
            return S_OK;
        }
        if (!is_variant_type(vt))
            return TYPE_E_TYPEMISMATCH;
        PROPVARIANT bstr;
        PropVariantInit(&bstr);
        bstr.vt = VT_BSTR;
        bstr.bstrVal = SysAllocString(text);
        if (!bstr.bstrVal)
            return E_OUTOFMEMORY;
        const HRESULT hr = change_variant(result, bstr, vt);
        SysFreeString(bstr.bstrVal);
        return hr;
    }
    if (vt == VT_LPWSTR) {
        if (source.vt == VT_CLSID) {
            if (!source.puuid)
                return E_INVALIDARG;
            const HRESULT hr = StringFromCLSID(*source.puuid, &result->pwszVal);
            if (SUCCEEDED(hr))
                result->vt = VT_LPWSTR;
            return hr;
        }
        if (!is_variant_type(source.vt))
            return TYPE_E_TYPEMISMATCH;
        PROPVARIANT bstr;
        PropVariantInit(&bstr);
        HRESULT hr = change_variant(&bstr, source, VT_BSTR);
        if (FAILED(hr))
            return hr;
        result->pwszVal = duplicate(bstr.bstrVal ? bstr.bstrVal : L"");
        PropVariantClear(&bstr);
        if (!result->pwszVal)
            return E_OUTOFMEMORY;
        result->vt = VT_LPWSTR;
        return S_OK;
    }
    if (is_variant_type(source.vt) && is_variant_type(vt))
        return change_variant(result, source, vt);
    return TYPE_E_TYPEMISMATCH;
}

template <class T>
int order(T left, T right)
{
    return left < right ? -1 : (right < left ? 1 : 0);
}

int compare_text(PCWSTR left, PCWSTR right, PROPVAR_COMPARE_FLAGS flags)
{
    const BOOL ignore_case = (flags & (PVCF_USESTRCMPI | PVCF_USESTRCMPIC)) != 0;
    const int result = CompareStringOrdinal(left ? left : L"", -1, right ? right : L"", -1,
                                            ignore_case);
    return result == 0 ? 1 : result - CSTR_EQUAL;
}

// Two values of the same type; values that cannot be ordered are unequal.
int compare_same_type(const PROPVARIANT& left, const PROPVARIANT& right,
                      PROPVAR_COMPARE_FLAGS flags)
{
    switch (left.vt) {
    case VT_I1: return order(left.cVal, right.cVal);
    case VT_UI1: return order(left.bVal, right.bVal);
    case VT_I2: return order(left.iVal, right.iVal);
    case VT_UI2: return order(left.uiVal, right.uiVal);
    case VT_I4: case VT_INT: return order(left.lVal, right.lVal);
    case VT_UI4: case VT_UINT: return order(left.ulVal, right.ulVal);
    case VT_I8: return order(left.hVal.QuadPart, right.hVal.QuadPart);
    case VT_UI8: return order(left.uhVal.QuadPart, right.uhVal.QuadPart);
    case VT_BOOL: return order(left.boolVal != VARIANT_FALSE, right.boolVal != VARIANT_FALSE);
    case VT_ERROR: return order(left.scode, right.scode);
    case VT_R4: return order(left.fltVal, right.fltVal);
    case VT_R8: case VT_DATE: return order(left.dblVal, right.dblVal);
    case VT_FILETIME: return CompareFileTime(&left.filetime, &right.filetime);
    case VT_LPWSTR: return compare_text(left.pwszVal, right.pwszVal, flags);
    case VT_BSTR: return compare_text(left.bstrVal, right.bstrVal, flags);
    case VT_CLSID:
        if (!left.puuid || !right.puuid)
            return order(left.puuid != nullptr, right.puuid != nullptr);
        return order(std::memcmp(left.puuid, right.puuid, sizeof(CLSID)), 0);
    case VT_BLOB:
        if (left.blob.cbSize != right.blob.cbSize)
            return order(left.blob.cbSize, right.blob.cbSize);
        if (left.blob.cbSize == 0)
            return 0;
        return order(std::memcmp(left.blob.pBlobData, right.blob.pBlobData, left.blob.cbSize), 0);
    default:
        return 1;
    }
}

}  // namespace

extern "C" HRESULT WINAPI InitPropVariantFromStringVector(PCWSTR* strings, ULONG count,
                                                         PROPVARIANT* value)
{
    if (!value)
        return E_POINTER;
    PropVariantInit(value);
    if (injected_failure("InitPropVariantFromStringVector"))
        return STAND_IN_FAILURE;
    if (count == 0) {
        value->vt = VT_VECTOR | VT_LPWSTR;
        return S_OK;
    }
    if (!strings)
        return E_INVALIDARG;
    // Counted in 64 bits: the product cannot wrap there, only exceed a
    // 32-bit size_t.
    const std::uint64_t bytes = std::uint64_t(count) * sizeof(PWSTR);
    if (bytes > SIZE_MAX)
        return E_OUTOFMEMORY;
    const auto elements = static_cast<PWSTR*>(CoTaskMemAlloc(std::size_t(bytes)));
    if (!elements)
        return E_OUTOFMEMORY;
    for (ULONG i = 0; i < count; ++i) {
        elements[i] = strings[i] ? duplicate(strings[i]) : nullptr;
        if (!elements[i]) {
            for (ULONG j = 0; j < i; ++j)
                CoTaskMemFree(elements[j]);
            CoTaskMemFree(elements);
            return strings[i] ? E_OUTOFMEMORY : E_INVALIDARG;
        }
    }
    value->vt = VT_VECTOR | VT_LPWSTR;
    value->calpwstr.cElems = count;
    value->calpwstr.pElems = elements;
    return S_OK;
}

HRESULT WINAPI PropVariantChangeType(PROPVARIANT* dest, REFPROPVARIANT source,
                                     PROPVAR_CHANGE_FLAGS, VARTYPE vt)
{
    if (!dest)
        return E_POINTER;
    PROPVARIANT result;
    PropVariantInit(&result);
    const HRESULT hr = change_type(&result, source, vt);
    if (FAILED(hr)) {
        if (dest != &source)
            PropVariantInit(dest);
        return hr;
    }
    *dest = result;
    return S_OK;
}

INT WINAPI PropVariantCompareEx(REFPROPVARIANT left, REFPROPVARIANT right, PROPVAR_COMPARE_UNIT,
                                PROPVAR_COMPARE_FLAGS flags)
{
    const bool left_empty = left.vt == VT_EMPTY || left.vt == VT_NULL;
    const bool right_empty = right.vt == VT_EMPTY || right.vt == VT_NULL;
    if (left_empty || right_empty) {
        if (left_empty && right_empty)
            return 0;
        const int result = left_empty ? -1 : 1;
        return (flags & PVCF_TREATEMPTYASGREATERTHAN) ? -result : result;
    }
    if (left.vt == right.vt)
        return compare_same_type(left, right, flags);
    PROPVARIANT converted;
    PropVariantInit(&converted);
    if (FAILED(change_type(&converted, right, left.vt)))
        return order(left.vt, right.vt);
    const int result = compare_same_type(left, converted, flags);
    PropVariantClear(&converted);
    return result;
}
