// PalmDOC (LZ77) decompression of one text record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Replaces out with the decompressed bytes of in[0, size). Returns false
// when the data breaks the format (a literal run or a back reference past
// what there is) or its output would pass limit; out then holds the bytes
// decompressed so far.
bool palmdoc_decompress(const std::uint8_t* in, std::size_t size, std::size_t limit,
                        std::vector<std::uint8_t>& out);
