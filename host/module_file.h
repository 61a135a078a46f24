// What a module file says of itself: its machine's name and its version
// (its machine: pe_machine, registration/registration.h).
#pragma once

#include <windows.h>

#include <string>

// "x64", "x86", "ARM64", or the number.
std::wstring machine_name(WORD machine);

// The file version of the module's version resource ("major.minor.build.0");
// empty when it has none.
std::wstring file_version(const std::wstring& path);
