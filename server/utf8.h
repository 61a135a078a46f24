// Conversions between UTF-8 and the wide (UTF-16) text of the Windows API.
#pragma once

#include <string>

std::wstring utf16(const std::string& text);
std::string utf8(const std::wstring& text);
