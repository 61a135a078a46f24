// No exception crosses a COM boundary: an operation runs inside
// guard_boundary, which turns an allocation failure into E_OUTOFMEMORY and
// any other exception into the status the operation names for it.
#pragma once

#include <windows.h>

#include <new>

template <class Operation>
HRESULT guard_boundary(HRESULT other_failure, Operation&& operation) noexcept
{
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return other_failure;
    }
}
