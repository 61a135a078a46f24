#include "server/module_context.h"

#include "server/module.h"

ModuleContext::ModuleContext() : handle_(INVALID_HANDLE_VALUE)
{
    ACTCTXW context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = g_module.instance;
    context.lpResourceName = MAKEINTRESOURCEW(2);
    handle_ = CreateActCtxW(&context);
}

ModuleContext::~ModuleContext()
{
    if (valid())
        ReleaseActCtx(handle_);
}

HANDLE ModuleContext::release()
{
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
}

ContextActivation::ContextActivation(const ModuleContext& context) : cookie_(0), active_(false)
{
    if (context.valid())
        active_ = ActivateActCtx(context.handle(), &cookie_) != FALSE;
}

ContextActivation::~ContextActivation()
{
    if (active_) {
        // The last error of the call made under the context survives.
        const DWORD error = GetLastError();
        DeactivateActCtx(0, cookie_);
        SetLastError(error);
    }
}
