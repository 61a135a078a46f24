#include "server/module.h"

#include "server/log.h"
#include "server/propsys_binding.h"
#include "server/settings.h"

ModuleState g_module = {
    0,                     // debug
    0,                     // use_mobi_thumbnail
    INVALID_HANDLE_VALUE,  // log_file
    nullptr,               // propsys
    nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,               // instance
    {},                    // lock
    false,                 // initialized
};

void module_attach(HINSTANCE instance)
{
    InitializeCriticalSection(&g_module.lock);
    g_module.instance = instance;
}

void module_detach()
{
    DeleteCriticalSection(&g_module.lock);
}

void initialize_module()
{
    read_settings();

    g_module.log_file = INVALID_HANDLE_VALUE;
    if (g_module.debug != 0) {
        const HANDLE log = open_log_file();
        if (log == INVALID_HANDLE_VALUE) {
            g_module.debug = 0;
        } else {
            g_module.log_file = log;
            debug_log("Quirebinder %hs", QUIREBINDER_VERSION);
        }
    }

    bind_property_system();
    g_module.initialized = true;
}

void finalize_module()
{
    if (log_trace())
        debug_log("Finalizing module");
    g_module.initialized = false;
    unbind_property_system();
    if (g_module.log_file != INVALID_HANDLE_VALUE) {
        CloseHandle(g_module.log_file);
        g_module.log_file = INVALID_HANDLE_VALUE;
    }
    g_module.debug = 0;
}
