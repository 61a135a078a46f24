#include "server/propsys_binding.h"

#include <type_traits>

#include "server/log.h"
#include "server/module.h"
#include "server/module_context.h"

// Not declared by every SDK's headers; this is the library's own signature.
extern "C" HRESULT STDAPICALLTYPE InitPropVariantFromStringVector(PCWSTR* strings, ULONG count,
                                                                  PROPVARIANT* value);

// Each pointer must have exactly the type of the function it is bound to:
// on 32-bit Windows the calling convention is part of the type.
static_assert(std::is_same_v<PFN_PSCreateMemoryPropertyStore,
                             decltype(&PSCreateMemoryPropertyStore)>);
static_assert(std::is_same_v<PFN_PSCreateAdapterFromPropertyStore,
                             decltype(&PSCreateAdapterFromPropertyStore)>);
static_assert(std::is_same_v<PFN_PSStringFromPropertyKey, decltype(&PSStringFromPropertyKey)>);
static_assert(std::is_same_v<PFN_PSGetNameFromPropertyKey, decltype(&PSGetNameFromPropertyKey)>);
static_assert(std::is_same_v<PFN_InitPropVariantFromStringVector,
                             decltype(&InitPropVariantFromStringVector)>);

namespace {

constexpr char PROPSYS_DLL[] = "propsys.dll";

// Loads the library by name while the context of the module's manifest
// (resource 2) is active; a context that cannot be activated counts as a
// missing library.
HMODULE load_under_module_context()
{
    const ModuleContext context;
    const ContextActivation activation(context);
    return activation.active() ? LoadLibraryA(PROPSYS_DLL) : nullptr;
}

template <class Function>
bool look_up(HMODULE library, const char* name, Function& target)
{
    target = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    if (target)
        return true;
    if (log_errors())
        debug_log("%hs:%hs:%hs", "Missing Function", PROPSYS_DLL, name);
    return false;
}

}  // namespace

void bind_property_system()
{
    g_module.propsys = load_under_module_context();
    if (!g_module.propsys) {
        if (log_errors())
            debug_log("%hs:%hs", "Missing DLL", PROPSYS_DLL);
        return;
    }
    const HMODULE library = g_module.propsys;
    // Every function is looked up, so each missing one gets its own line.
    bool complete = look_up(library, "PSCreateMemoryPropertyStore",
                            g_module.pfnPSCreateMemoryPropertyStore);
    complete &= look_up(library, "PSCreateAdapterFromPropertyStore",
                        g_module.pfnPSCreateAdapterFromPropertyStore);
    complete &= look_up(library, "PSStringFromPropertyKey", g_module.pfnPSStringFromPropertyKey);
    complete &= look_up(library, "PSGetNameFromPropertyKey", g_module.pfnPSGetNameFromPropertyKey);
    complete &= look_up(library, "InitPropVariantFromStringVector",
                        g_module.pfnInitPropVariantFromStringVector);
    if (!complete)
        unbind_property_system();
}

void unbind_property_system()
{
    g_module.pfnPSCreateMemoryPropertyStore = nullptr;
    g_module.pfnPSCreateAdapterFromPropertyStore = nullptr;
    g_module.pfnPSStringFromPropertyKey = nullptr;
    g_module.pfnPSGetNameFromPropertyKey = nullptr;
    g_module.pfnInitPropVariantFromStringVector = nullptr;
    if (g_module.propsys) {
        FreeLibrary(g_module.propsys);
        g_module.propsys = nullptr;
    }
}

void pin_property_system()
{
    HMODULE pinned = nullptr;
    if (g_module.propsys)
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(g_module.propsys), &pinned);
}
