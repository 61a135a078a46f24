// Diagnostics log: an append-only UTF-8 file in the user's Pictures folder.
#pragma once

#include <windows.h>

#include "server/module.h"

// Opens the log for appending; INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE open_log_file();

// Appends one line "pid:tid:message\r\n". The format is narrow and follows
// the wide printf conventions: %hs for narrow strings, %ls for wide ones.
// Returns false when the log is closed.
bool debug_log(const char* format, ...);

// "serial:QueryInterface:{IID}:name"; a null name means the interface is
// not supported. Callers test log_trace() first.
void trace_query_interface(ULONG serial, REFIID iid, const char* name);

// "serial:label" at trace level.
inline void trace_object(ULONG serial, const char* label)
{
    if (log_trace())
        debug_log("%04lu:%hs", serial, label);
}

// A checked step: evaluates an HRESULT expression once; on failure logs it
// and returns the same status from the enclosing function. Owned resources
// must live in RAII holders so that the early return releases them.
#define ENSURE(expression)                                   \
    do {                                                     \
        const HRESULT ensure_hr_ = (expression);             \
        if (FAILED(ensure_hr_)) {                            \
            if (log_errors())                                \
                debug_log("ENSURE failed:%hs:%d:0x%08x", __FILE_NAME__, \
                          __LINE__, static_cast<unsigned>(ensure_hr_)); \
            return ensure_hr_;                               \
        }                                                    \
    } while (0)

// A check that fails with status when condition is false, logged like a
// failed step.
#define ENSURE_THAT(condition, status) ENSURE((condition) ? S_OK : (status))

// Passes on the failure of a call whose own failed step has been logged
// already, so that one failure writes one line.
#define RETURN_IF_FAILED(expression)                         \
    do {                                                     \
        const HRESULT passed_hr_ = (expression);             \
        if (FAILED(passed_hr_))                              \
            return passed_hr_;                               \
    } while (0)
