// Read-only shell properties: the first book's title, language and authors
// in an in-memory store of the property system, built once and kept.
#include "handler/book_handler.h"

#include <propkey.h>
#include <propvarutil.h>
#include <shlwapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "book/mobi_book.h"
#include "server/com_boundary.h"
#include "server/log.h"
#include "server/module.h"

using Microsoft::WRL::ComPtr;

namespace {

// A PROPVARIANT cleared on every way out.
class PropVariantHolder {
public:
    PropVariantHolder() { PropVariantInit(&value_); }
    ~PropVariantHolder() { PropVariantClear(&value_); }
    PropVariantHolder(const PropVariantHolder&) = delete;
    PropVariantHolder& operator=(const PropVariantHolder&) = delete;

    PROPVARIANT* get() { return &value_; }

private:
    PROPVARIANT value_;
};

HRESULT set_string(IPropertyStore* store, REFPROPERTYKEY key, const std::wstring& text)
{
    PropVariantHolder value;
    ENSURE(SHStrDupW(text.c_str(), &value.get()->pwszVal));
    value.get()->vt = VT_LPWSTR;
    ENSURE(store->SetValue(key, *value.get()));
    return S_OK;
}

HRESULT set_string_vector(IPropertyStore* store, REFPROPERTYKEY key,
                          const std::vector<std::wstring>& texts)
{
    std::vector<PCWSTR> pointers;
    pointers.reserve(texts.size());
    for (const std::wstring& text : texts)
        pointers.push_back(text.c_str());
    ENSURE_THAT(pointers.size() <= ULONG_MAX, E_OUTOFMEMORY);
    PropVariantHolder value;
    ENSURE(g_module.pfnInitPropVariantFromStringVector(pointers.data(), ULONG(pointers.size()),
                                                       value.get()));
    ENSURE(store->SetValue(key, *value.get()));
    return S_OK;
}

// The key's canonical text and, where the property system knows it, its
// name in parentheses: "{F29F85E0-...} 2 (System.Title)".
void trace_get_value(ULONG serial, REFPROPERTYKEY key)
{
    constexpr std::size_t TEXT_SIZE = 1024;
    constexpr UINT KEY_TEXT_LIMIT = 50;
    static const wchar_t UNKNOWN_KEY[] = L"{???} ?";

    wchar_t text[TEXT_SIZE];
    if (!g_module.propsys || FAILED(g_module.pfnPSStringFromPropertyKey(key, text, KEY_TEXT_LIMIT)))
        wcscpy(text, UNKNOWN_KEY);
    text[TEXT_SIZE - 1] = L'\0';
    if (g_module.propsys) {
        PWSTR name = nullptr;
        if (SUCCEEDED(g_module.pfnPSGetNameFromPropertyKey(key, &name)) && name) {
            std::size_t length = wcslen(text);
            for (const wchar_t* part : {L" (", static_cast<const wchar_t*>(name), L")"}) {
                for (; *part && length + 1 < TEXT_SIZE; ++part)
                    text[length++] = *part;
            }
            text[length] = L'\0';
        }
        CoTaskMemFree(name);
    }
    debug_log("%04lu:%hs:%ls", serial, "GetValue", text);
}

}  // namespace

MobiBook* BookHandler::property_book()
{
    if (!g_module.propsys || books.empty() || !books[0]->is_valid())
        return nullptr;
    return books[0].Get();
}

HRESULT BookHandler::ensure_property_store(bool for_set_storage)
{
    if (!property_book())
        return E_FAIL;
    MobiBook& book = *books[0].Get();

    if (!property_store) {
        ComPtr<IPropertyStore> store;
        ENSURE(g_module.pfnPSCreateMemoryPropertyStore(IID_PPV_ARGS(&store)));
        if (!book.title.empty())
            RETURN_IF_FAILED(set_string(store.Get(), PKEY_Title, book.title));
        if (!book.language.empty())
            RETURN_IF_FAILED(set_string(store.Get(), PKEY_Language, book.language));
        if (for_set_storage) {
            if (!book.creator.empty())
                RETURN_IF_FAILED(set_string(store.Get(), PKEY_Author, book.creator));
        } else {
            if (!book.authors.empty())
                RETURN_IF_FAILED(set_string_vector(store.Get(), PKEY_Author, book.authors));
        }
        property_store = store;
    }
    if (for_set_storage && !property_set_storage) {
        ComPtr<IPropertySetStorage> adapter;
        ENSURE(g_module.pfnPSCreateAdapterFromPropertyStore(property_store.Get(),
                                                            IID_PPV_ARGS(&adapter)));
        property_set_storage = adapter;
    }
    return S_OK;
}

STDMETHODIMP BookHandler::GetCount(DWORD* count)
{
    trace_object(serial(), "GetCount");
    if (!count)
        return E_POINTER;
    *count = 0;
    return guard_boundary(E_UNEXPECTED, [&] {
        const HRESULT hr = ensure_property_store(false);
        return FAILED(hr) ? hr : property_store->GetCount(count);
    });
}

STDMETHODIMP BookHandler::GetAt(DWORD index, PROPERTYKEY* key)
{
    trace_object(serial(), "GetAt");
    if (!key)
        return E_POINTER;
    *key = PROPERTYKEY{};
    return guard_boundary(E_UNEXPECTED, [&] {
        const HRESULT hr = ensure_property_store(false);
        return FAILED(hr) ? hr : property_store->GetAt(index, key);
    });
}

STDMETHODIMP BookHandler::GetValue(REFPROPERTYKEY key, PROPVARIANT* value)
{
    if (log_trace())
        trace_get_value(serial(), key);
    if (!value)
        return E_POINTER;
    PropVariantInit(value);
    return guard_boundary(E_UNEXPECTED, [&] {
        const HRESULT hr = ensure_property_store(false);
        return FAILED(hr) ? hr : property_store->GetValue(key, value);
    });
}

STDMETHODIMP BookHandler::SetValue(REFPROPERTYKEY, REFPROPVARIANT)
{
    trace_object(serial(), "SetValue");
    return STG_E_ACCESSDENIED;
}

// Builds the store if need be, then lets go of the books: the object can be
// initialised again, and keeps the properties it has.
STDMETHODIMP BookHandler::Commit()
{
    trace_object(serial(), "Commit");
    return guard_boundary(E_UNEXPECTED, [&] {
        const HRESULT hr = ensure_property_store(false);
        if (FAILED(hr))
            return hr;
        release_books();
        return property_store->Commit();
    });
}

STDMETHODIMP BookHandler::IsPropertyWritable(REFPROPERTYKEY)
{
    trace_object(serial(), "IsPropertyWritable");
    return S_FALSE;
}
