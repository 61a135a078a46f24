// Read-only property sets: the property system's adapter over the handler's
// in-memory store. Every kind of write is refused before anything is built.
#include "handler/book_handler.h"

#include "server/com_boundary.h"
#include "server/log.h"
#include "server/propsys_binding.h"

STDMETHODIMP BookHandler::Create(REFFMTID, const CLSID*, DWORD, DWORD, IPropertyStorage** storage)
{
    trace_object(serial(), "Create");
    if (!storage)
        return E_POINTER;
    *storage = nullptr;
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP BookHandler::Open(REFFMTID format_id, DWORD mode, IPropertyStorage** storage)
{
    if (!storage)
        return E_POINTER;
    *storage = nullptr;
    if (mode & (STGM_WRITE | STGM_READWRITE))
        return STG_E_ACCESSDENIED;
    return guard_boundary(E_UNEXPECTED, [&] {
        ENSURE_THAT(property_book() != nullptr, E_FAIL);
        RETURN_IF_FAILED(ensure_property_store(true));
        const HRESULT hr = property_set_storage->Open(format_id, mode, storage);
        if (SUCCEEDED(hr))
            pin_property_system();
        return hr;
    });
}

STDMETHODIMP BookHandler::Delete(REFFMTID)
{
    trace_object(serial(), "Delete");
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP BookHandler::Enum(IEnumSTATPROPSETSTG** enumerator)
{
    trace_object(serial(), "Enum");
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    return guard_boundary(E_UNEXPECTED, [&] {
        ENSURE_THAT(property_book() != nullptr, E_FAIL);
        RETURN_IF_FAILED(ensure_property_store(true));
        const HRESULT hr = property_set_storage->Enum(enumerator);
        if (SUCCEEDED(hr))
            pin_property_system();
        return hr;
    });
}
