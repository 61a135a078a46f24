// Replacing a function a module imports, for injecting failures of Windows
// calls: the module's import slot for the function is pointed elsewhere.
#pragma once

#include <windows.h>

// Points every import slot of module (by name, any DLL) for function at
// replacement. False when module does not import it.
bool patch_import(HMODULE module, const char* function, void* replacement);

// The function as the named system DLL exports it, for restoring a slot or
// calling through.
template <class Function>
Function system_function(const wchar_t* dll, const char* function)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(dll), function)));
}
