// The DLL entry point and the four exported functions.
#include <windows.h>
#include <unknwn.h>

#include "filter/text_filter.h"
#include "handler/quirebinder.h"
#include "server/class_factory.h"
#include "server/module.h"

namespace {

// The classes the module serves, each with the factory that makes it. A new
// factory is made on every request.
struct ClassObject {
    const CLSID* clsid;
    HRESULT (*create_factory)(REFIID riid, void** ppv);
};

const ClassObject CLASS_OBJECTS[] = {
    {&CLSID_Quirebinder, create_and_query<CClassFactory<Quirebinder>>},
    {&CLSID_QuirebinderFilter, create_and_query<CClassFactory<TextFilter>>},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        module_attach(instance);
        break;
    case DLL_PROCESS_DETACH:
        module_detach();
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    EnterCriticalSection(&g_module.lock);
    if (!g_module.initialized)
        initialize_module();
    HRESULT hr = CLASS_E_CLASSNOTAVAILABLE;
    for (const ClassObject& entry : CLASS_OBJECTS) {
        if (IsEqualCLSID(rclsid, *entry.clsid)) {
            hr = entry.create_factory(riid, ppv);
            break;
        }
    }
    LeaveCriticalSection(&g_module.lock);
    return hr;
}

STDAPI DllCanUnloadNow()
{
    EnterCriticalSection(&g_module.lock);
    HRESULT hr = S_FALSE;
    if (static_cast<ULONG>(g_module_lock_count) == 0) {
        finalize_module();
        hr = S_OK;
    }
    LeaveCriticalSection(&g_module.lock);
    return hr;
}

STDAPI DllRegisterServer()
{
    return S_OK;
}

STDAPI DllUnregisterServer()
{
    return S_OK;
}
