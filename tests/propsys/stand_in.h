// Shared parts of the test tree's stand-in for the Windows property-system
// library (propsys.dll): the reference-counted base of its COM objects and
// the count of those objects that are alive.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <propsys.h>

#include <new>

// Objects of the library that have not been destroyed yet, of every kind.
extern volatile LONG g_live_objects;

// Failure injection for the tests: while the environment variable
// QB_PROPSYS_FAIL names one of PSCreateMemoryPropertyStore, SetValue (of the
// memory store), InitPropVariantFromStringVector or
// PSCreateAdapterFromPropertyStore, that call fails with STAND_IN_FAILURE.
constexpr HRESULT STAND_IN_FAILURE = HRESULT(0x8007001FL);  // ERROR_GEN_FAILURE
bool injected_failure(const char* function);

// A COM object that offers IUnknown and the one interface I. It starts with
// one reference, owned by its creator, and counts itself in g_live_objects.
template <class I>
class StandInObject : public I {
public:
    StandInObject(const StandInObject&) = delete;
    StandInObject& operator=(const StandInObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(I)) {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

protected:
    StandInObject() { InterlockedIncrement(&g_live_objects); }
    virtual ~StandInObject() { InterlockedDecrement(&g_live_objects); }

private:
    volatile LONG refs_ = 1;
};

// Asks a newly made object (null when the allocation failed) for riid and
// drops the creator's reference, so a refused request destroys it.
template <class T>
HRESULT hand_out(T* object, REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (!object)
        return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

