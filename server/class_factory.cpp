#include "server/class_factory.h"

CClassFactoryBase::CClassFactoryBase()
{
    trace_object(serial(), "CClassFactoryBase");
}

CClassFactoryBase::~CClassFactoryBase()
{
    trace_object(serial(), "~CClassFactoryBase");
}

STDMETHODIMP CClassFactoryBase::QueryInterface(REFIID riid, void** ppv)
{
    static const InterfaceEntry interfaces[] = {
        {&IID_IClassFactory, INTERFACE_OFFSET(CClassFactoryBase, IClassFactory), "IClassFactory",
         nullptr},
    };
    return query_table(interfaces, ARRAYSIZE(interfaces), riid, ppv);
}

STDMETHODIMP CClassFactoryBase::LockServer(BOOL lock)
{
    if (lock)
        InterlockedIncrement(&g_module_lock_count);
    else
        InterlockedDecrement(&g_module_lock_count);
    return S_OK;
}
