// The activation context of the module's own manifest (resource 2, common
// controls version 6), under which the module loads the property-system
// library and makes its page and the Save As dialog.
#pragma once

#include <windows.h>

#include "server/unique_handle.h"

struct ActivationContextTraits {
    using Type = HANDLE;
    static Type empty() { return INVALID_HANDLE_VALUE; }
    static void close(Type context) { ReleaseActCtx(context); }
};

class ModuleContext {
public:
    // Creates the context; valid() is false when the module has no manifest
    // or the context cannot be made, and the page then works without it.
    ModuleContext();

    bool valid() const { return bool(handle_); }
    HANDLE handle() const { return handle_.get(); }
    // Hands the context's reference to a new owner, which releases it with
    // ReleaseActCtx.
    HANDLE release() { return handle_.release(); }

private:
    UniqueHandle<ActivationContextTraits> handle_;
};

// Activates a context for the life of the object; an invalid context or a
// failed activation leaves the thread's context as it is.
class ContextActivation {
public:
    explicit ContextActivation(const ModuleContext& context);
    ~ContextActivation();
    ContextActivation(const ContextActivation&) = delete;
    ContextActivation& operator=(const ContextActivation&) = delete;

    bool active() const { return active_; }

private:
    ULONG_PTR cookie_;
    bool active_;
};
