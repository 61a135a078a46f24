// A book's description: the value of its EXTH 103 record, which the
// container analysis does not keep, and the plain text of such markup.
// Platform-independent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "container.h"

// The value of the last EXTH record of type in record0, the bytes of a
// record 0 the container analysis accepted. False when there is no EXTH
// block or no such record; a block that breaks its own lengths gives what
// was found before the break.
bool find_exth_value(const std::vector<std::uint8_t>& record0, std::uint32_t type,
                     ByteSpan& value);

// text without its tags, comments and the contents of script and style
// elements; character references replaced (the five XML names, &nbsp; and
// numeric ones); runs of white space made one space; a paragraph, heading,
// list item, div or br tag made one line break ('\n'). No line starts or
// ends with a space and no break is doubled.
std::wstring plain_text_of_markup(const std::wstring& text);
