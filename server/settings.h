// The module's two settings, read from HKCR\CLSID\{class}\Options.
#pragma once

#include <windows.h>

// The value as an unsigned number: a REG_DWORD of 4 bytes, or a REG_SZ of at
// most six characters holding a decimal number. Anything else gives 0.
DWORD read_option_value(const wchar_t* value_name, const wchar_t* key_path);

// Reads Debug and UseMobiThumbnail into g_module (both 0 when unreadable).
void read_settings();
