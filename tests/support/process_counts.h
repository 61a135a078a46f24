// Counts of this process's GDI objects and kernel handles, for tests that
// prove nothing is left behind. Both work under Wine, whose own counters
// (GetGuiResources, GetProcessHandleCount) answer 0.
#pragma once

#include <windows.h>

DWORD gdi_objects();
DWORD handles();
