// PalmDOC (LZ77) decompression of one text record.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes past limit that out must have room for (a back reference is copied
// 16 bytes at a time).
constexpr std::size_t PALMDOC_SLACK = 16;

// Writes the decompressed bytes of in[0, size) to out[0, limit), produced
// their count. Returns false when the data breaks the format (a literal run
// or a back reference past what there is) or its output would pass limit;
// produced then counts the bytes decompressed so far. Each step reads at
// least one byte of in and writes at least one byte of out.
bool palmdoc_decompress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t limit,
                        std::size_t& produced);
