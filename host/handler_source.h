// Creating the handler as the shell does: through COM from the registered
// class, or from a module file given on the command line through its own
// DllGetClassObject. A module loaded here stays loaded until the process
// ends, so that no object outlives its code.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <unknwn.h>

#include <string>

#include "host/exit_codes.h"

#include "server/module.h"

// Creates the class asking for riid. module empty: the registered class.
// On failure prints why and returns EXIT_NO_MODULE.
ExitCode create_handler(const std::wstring& module, REFIID riid, void** object,
                        REFCLSID clsid = CLSID_Quirebinder);

// A read-only stream on path that leaves the file open to others, as the
// shell gives a file to its handlers.
HRESULT open_read_only_stream(const std::wstring& path, IStream** stream);

// Initialises handler (which must offer IInitializeWithStream) with a
// read-only stream on path, as the thumbnail cache and the property system
// do. On failure prints why and returns EXIT_FAILED.
ExitCode initialize_with_file_stream(IUnknown* handler, const std::wstring& path);
