// Turning a failed Windows call's last error into an HRESULT. A call can
// fail and leave the last error at 0, which HRESULT_FROM_WIN32 would turn
// into S_OK: a failure reported as success. The fallback names the failure
// then (E_OUTOFMEMORY where the call allocates, E_FAIL otherwise).
#pragma once

#include <windows.h>

inline HRESULT hresult_from_error(DWORD error, HRESULT fallback)
{
    const HRESULT hr = HRESULT_FROM_WIN32(error);
    return FAILED(hr) ? hr : fallback;
}

// Call straight after the failed call, before anything else can change the
// thread's last error.
inline HRESULT last_error_or(HRESULT fallback)
{
    return hresult_from_error(GetLastError(), fallback);
}
