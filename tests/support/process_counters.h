// Resources of this process, counted so that they also work under Wine,
// whose GetGuiResources and GetProcessHandleCount answer 0.
#pragma once

#include <windows.h>

// GDI objects of this process.
DWORD gdi_objects();
// Kernel handles of this process.
DWORD handles();
// Private bytes (committed memory of this process alone), in KiB.
SIZE_T private_kb();
