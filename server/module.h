// Module-wide state of the COM server and its start and stop.
#pragma once

#include <windows.h>
#include <propsys.h>

#include "identity.h"

using PFN_PSCreateMemoryPropertyStore = HRESULT(WINAPI*)(REFIID riid, void** ppv);
using PFN_PSCreateAdapterFromPropertyStore = HRESULT(WINAPI*)(IPropertyStore* store, REFIID riid,
                                                              void** ppv);
using PFN_PSStringFromPropertyKey = HRESULT(WINAPI*)(REFPROPERTYKEY key, LPWSTR text, UINT chars);
using PFN_PSGetNameFromPropertyKey = HRESULT(WINAPI*)(REFPROPERTYKEY key, PWSTR* name);
using PFN_InitPropVariantFromStringVector = HRESULT(WINAPI*)(PCWSTR* strings, ULONG count,
                                                             PROPVARIANT* value);

struct ModuleState {
    DWORD debug;               // log level: 0 off, 1 errors, above 1 trace
    DWORD use_mobi_thumbnail;  // prefer a book's thumbnail image to its cover
    HANDLE log_file;           // append handle, INVALID_HANDLE_VALUE when closed
    HMODULE propsys;           // non-null only while all five functions are bound
    PFN_PSCreateMemoryPropertyStore pfnPSCreateMemoryPropertyStore;
    PFN_PSCreateAdapterFromPropertyStore pfnPSCreateAdapterFromPropertyStore;
    PFN_PSStringFromPropertyKey pfnPSStringFromPropertyKey;
    PFN_PSGetNameFromPropertyKey pfnPSGetNameFromPropertyKey;
    PFN_InitPropVariantFromStringVector pfnInitPropVariantFromStringVector;
    HINSTANCE instance;
    CRITICAL_SECTION lock;
    bool initialized;
};

extern ModuleState g_module;

// Error lines are written at any nonzero level, trace lines above 1.
inline bool log_errors() { return g_module.debug != 0; }
inline bool log_trace() { return g_module.debug > 1; }

// Process attach and detach work of the DLL entry point.
void module_attach(HINSTANCE instance);
void module_detach();

// Called with g_module.lock held: by DllGetClassObject while the module is
// not initialised, and by DllCanUnloadNow once nothing is alive.
void initialize_module();
void finalize_module();
