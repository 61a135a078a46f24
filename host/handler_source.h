// Creating the handler as the shell does: through COM from the registered
// class, or from a module file given on the command line through its own
// DllGetClassObject. A module loaded here stays loaded until the process
// ends, so that no object outlives its code.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

#include "host/exit_codes.h"

// Creates the class asking for riid. module empty: the registered class.
// On failure prints why and returns EXIT_NO_MODULE.
ExitCode create_handler(const std::wstring& module, REFIID riid, void** object);

// Creates class clsid from the module file through its own
// DllGetClassObject. On failure prints why and returns EXIT_NO_MODULE.
ExitCode create_from_module(const std::wstring& module, REFCLSID clsid, REFIID riid,
                            void** object);

// Initialises handler (which must offer IInitializeWithStream) with a
// read-only stream on path, as the thumbnail cache and the property system
// do. On failure prints why and returns EXIT_FAILED.
ExitCode initialize_with_file_stream(IUnknown* handler, const std::wstring& path);
