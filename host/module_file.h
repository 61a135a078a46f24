// What a module file says of itself: its machine and its version.
#pragma once

#include <windows.h>

#include <string>

// The machine of the modules the shell's native (64-bit) processes load:
// IMAGE_FILE_MACHINE_AMD64, or _ARM64 on Windows on ARM (whose x64
// programs read the same registry view); 0 on 32-bit Windows.
WORD native_64bit_module_machine();

// The machine field of a PE file's header; 0 when the file is not one.
WORD pe_machine(const std::wstring& path);

// "x64", "x86", "ARM64", or the number.
std::wstring machine_name(WORD machine);

// The file version of the module's version resource ("1.1.1271.0"); empty
// when it has none.
std::wstring file_version(const std::wstring& path);
