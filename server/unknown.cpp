#include "server/unknown.h"

#include "server/log.h"

volatile LONG g_module_lock_count = 0;
volatile LONG g_last_object_serial = 0;

CUnknown::CUnknown()
    : ref_count_(1), serial_(static_cast<ULONG>(InterlockedIncrement(&g_last_object_serial)))
{
    InterlockedIncrement(&g_module_lock_count);
}

CUnknown::~CUnknown()
{
    InterlockedDecrement(&g_module_lock_count);
}

STDMETHODIMP CUnknown::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown)) {
        if (log_trace())
            trace_query_interface(serial_, riid, "IUnknown");
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    if (log_trace())
        trace_query_interface(serial_, riid, nullptr);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CUnknown::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&ref_count_));
}

STDMETHODIMP_(ULONG) CUnknown::Release()
{
    const LONG count = InterlockedDecrement(&ref_count_);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT CUnknown::query_table(const InterfaceEntry* table, std::size_t count, REFIID riid,
                              void** ppv)
{
    if (!ppv)
        return E_POINTER;
    for (std::size_t i = 0; i < count; ++i) {
        const InterfaceEntry& entry = table[i];
        if (!IsEqualIID(riid, *entry.iid) || (entry.available && !entry.available()))
            continue;
        if (log_trace())
            trace_query_interface(serial_, riid, entry.name);
        IUnknown* const found =
            reinterpret_cast<IUnknown*>(reinterpret_cast<BYTE*>(this) + entry.offset);
        *ppv = found;
        found->AddRef();
        return S_OK;
    }
    return CUnknown::QueryInterface(riid, ppv);
}
