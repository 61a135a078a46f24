#include "server/module_context.h"

#include "server/module.h"

ModuleContext::ModuleContext()
{
    ACTCTXW context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = g_module.instance;
    context.lpResourceName = MAKEINTRESOURCEW(2);
    handle_.reset(CreateActCtxW(&context));
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
