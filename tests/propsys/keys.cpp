// PSStringFromPropertyKey and PSGetNameFromPropertyKey: the text form of a
// property key and the canonical names of the keys the tests meet.
#include "stand_in.h"

#include <cstring>

namespace {

// {F29F85E0-4FF9-1068-AB91-08002B27B3D9}: summary information.
constexpr FMTID FMTID_SUMMARY = {
    0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
// {D5CDD502-2E9C-101B-9397-08002B2CF9AE}: document summary information.
constexpr FMTID FMTID_DOCUMENT_SUMMARY = {
    0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};

struct KnownKey {
    const FMTID* fmtid;
    PROPID pid;
    const wchar_t* name;
};

constexpr KnownKey KNOWN_KEYS[] = {
    {&FMTID_SUMMARY, 2, L"System.Title"},
    {&FMTID_SUMMARY, 4, L"System.Author"},
    {&FMTID_DOCUMENT_SUMMARY, 28, L"System.Language"},
};

// Braced GUID (38 characters), a blank and at most 10 digits.
constexpr UINT MAX_KEY_TEXT = 38 + 1 + 10;

}  // namespace

PSSTDAPI PSStringFromPropertyKey(REFPROPERTYKEY key, LPWSTR text, UINT chars)
{
    if (!text)
        return E_POINTER;
    wchar_t buffer[MAX_KEY_TEXT + 1];
    if (StringFromGUID2(key.fmtid, buffer, 39) != 39)
        return E_FAIL;
    UINT length = 38;
    buffer[length++] = L' ';
    wchar_t digits[10];
    UINT count = 0;
    DWORD pid = key.pid;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + pid % 10);
        pid /= 10;
    } while (pid != 0);
    while (count > 0)
        buffer[length++] = digits[--count];
    buffer[length] = L'\0';
    if (chars <= length) {
        if (chars > 0)
            text[0] = L'\0';
        return E_NOT_SUFFICIENT_BUFFER;
    }
    std::memcpy(text, buffer, (length + 1) * sizeof(wchar_t));
    return S_OK;
}

PSSTDAPI PSGetNameFromPropertyKey(REFPROPERTYKEY key, PWSTR* name)
{
    if (!name)
        return E_POINTER;
    *name = nullptr;
    for (const KnownKey& known : KNOWN_KEYS) {
        if (known.pid != key.pid || *known.fmtid != key.fmtid)
            continue;
        const std::size_t bytes = (wcslen(known.name) + 1) * sizeof(wchar_t);
        *name = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
        if (!*name)
            return E_OUTOFMEMORY;
        std::memcpy(*name, known.name, bytes);
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}
