// Conversions of a book's metadata bytes to text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

extern const wchar_t creator_separator[];  // "; "

std::wstring decode_text(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t code_page);
std::wstring language_name(std::uint32_t locale);
// True when a book's language is written right to left: its language tag
// (EXTH 524: "ar", "he-IL", "fa"...) where it has one, else its locale.
bool written_right_to_left(std::uint32_t locale, const std::uint8_t* tag, std::uint32_t tag_size);
std::wstring format_creation_date(std::uint32_t seconds);
std::wstring parse_exth_date(const std::uint8_t* bytes, std::uint32_t count);
// As parse_exth_date; false, with formatted the text as it stands, when it
// holds no date Windows formats (a year before 1601, or no date at all).
bool exth_date(const std::uint8_t* bytes, std::uint32_t count, std::wstring& formatted);
std::wstring join_creators(const std::vector<std::wstring>& authors,
                           const std::vector<std::wstring>& contributors);
