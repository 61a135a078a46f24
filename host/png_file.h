// Writing a GDI bitmap as a PNG file through the imaging component.
#pragma once

#include <windows.h>

#include <string>

// Writes bitmap to path as 24-bit PNG and gives its size; a file left
// half-written is deleted.
HRESULT write_png(HBITMAP bitmap, const std::wstring& path, UINT* width, UINT* height);
