// A book's description: the value of its EXTH 103 record, which the
// container analysis does not keep, as plain text. Platform-independent.
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

// The plain text of the description's markup (tags dropped, references
// resolved, white space collapsed, block tags made '\n') in the book's
// code page, 1252 or 65001; false for another code page.
bool description_text(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t code_page,
                      std::u16string& text);
