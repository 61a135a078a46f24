// Class factory for the module's COM class.
#pragma once

#include <windows.h>
#include <unknwn.h>


#include "server/com_boundary.h"
#include "server/log.h"
#include "server/unknown.h"

// Creates a T, asks it for riid and gives up the creator's reference, so a
// failed request destroys the new object at once.
template <class T>
HRESULT create_and_query(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return guard_boundary(E_UNEXPECTED, [&] {
        T* object = new T();
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    });
}

class CClassFactoryBase : public CUnknown, public IClassFactory {
public:
    CClassFactoryBase();
    ~CClassFactoryBase() override;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    FORWARD_IUNKNOWN_TO_CUNKNOWN()

    STDMETHODIMP LockServer(BOOL lock) override;
};

template <class T>
class CClassFactory : public CClassFactoryBase {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        trace_object(serial(), "CreateInstance");
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return create_and_query<T>(riid, ppv);
    }
};
