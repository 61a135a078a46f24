// The DLL entry point and the four exported functions.
#include <windows.h>
#include <olectl.h>
#include <unknwn.h>

#include <string>

#include "filter/text_filter.h"
#include "handler/book_handler.h"
#include "preview/preview_handler.h"
#include "registration/registration.h"
#include "server/class_factory.h"
#include "server/com_boundary.h"
#include "server/module.h"

namespace {

// The classes the module serves, each with the factory that makes it. A new
// factory is made on every request.
struct ClassObject {
    const CLSID* clsid;
    HRESULT (*create_factory)(REFIID riid, void** ppv);
};

const ClassObject CLASS_OBJECTS[] = {
    {&CLSID_Quirebinder, create_and_query<CClassFactory<BookHandler>>},
    {&CLSID_QuirebinderFilter, create_and_query<CClassFactory<TextFilter>>},
    {&CLSID_QuirebinderPreview, create_and_query<CClassFactory<PreviewHandler>>},
};

// The registry view the module's own machine reads: a 64-bit module (x64 or
// ARM64, whose views are one) the 64-bit view, a 32-bit one the 32-bit view.
constexpr View OWN_VIEW = sizeof(void*) == 8 ? View::Bits64 : View::Bits32;

// The module's full path; false when the system cannot tell it.
bool module_path(std::wstring* path)
{
    // Long paths ("\\?\") reach 32,767 characters; nothing is longer.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        path->assign(size, L'\0');
        const DWORD length = GetModuleFileNameW(g_module.instance, path->data(), size);
        if (length == 0)
            return false;
        if (length < size) {
            path->resize(length);
            return true;
        }
    }
    return false;
}

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

// regsvr32: the same registration as "quirebinder register" writes for this
// module, per machine and in the module's own view. A file type another
// program handles keeps its handler. The first write that fails ends it,
// and its status is the answer. A module that the view's Explorer cannot
// load (the x64 module on Windows on ARM) writes nothing and answers
// ERROR_EXE_MACHINE_TYPE_MISMATCH.
STDAPI DllRegisterServer()
{
    return guard_boundary(SELFREG_E_CLASS, [] {
        std::wstring path;
        if (!module_path(&path))
            return SELFREG_E_CLASS;
        if (!module_fits_view(path, OWN_VIEW))
            return HRESULT_FROM_WIN32(ERROR_EXE_MACHINE_TYPE_MISMATCH);
        const HRESULT hr = register_module(Scope::Machine, OWN_VIEW, path, nullptr);
        if (SUCCEEDED(hr))
            notify_association_change();
        return hr;
    });
}

// regsvr32 /u: removes what DllRegisterServer wrote; another program's
// handlers, and what the views share while the other view's module is still
// registered, stay. Where the classes name another module file (an
// installed copy), nothing is removed and the answer is SELFREG_E_CLASS,
// which regsvr32 reports as a failure.
STDAPI DllUnregisterServer()
{
    return guard_boundary(SELFREG_E_CLASS, [] {
        std::wstring path;
        if (!module_path(&path))
            return SELFREG_E_CLASS;
        const HRESULT hr = unregister_module_file(Scope::Machine, OWN_VIEW, path, nullptr);
        if (SUCCEEDED(hr))
            notify_association_change();
        return hr;
    });
}
