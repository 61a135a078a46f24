// Conversions of a book's metadata bytes to text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

extern const wchar_t creator_separator[];  // "; "

std::wstring decode_text(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t code_page);
std::wstring language_name(std::uint32_t locale);
std::wstring format_creation_date(std::uint32_t seconds);
std::wstring parse_exth_date(const std::uint8_t* bytes, std::uint32_t count);
std::wstring join_creators(const std::vector<std::wstring>& authors,
                           const std::vector<std::wstring>& contributors);
