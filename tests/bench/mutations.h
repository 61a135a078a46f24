// Mutated variants of a book, made deterministically from a run seed and an
// input index, so that any input of a run can be made again on its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct MutatedBook {
    std::string kinds;  // the mutations applied, joined by '+'
    Bytes bytes;
};

// Kinds: bit flips, truncation, record offset, record count, header length
// (MOBI header, EXTH block, title), EXTH count or record length or type,
// image index (image base, cover and thumbnail EXTH values, first non-book
// record), SRCS record, text fields (code page, locale, dates, EXTH texts),
// cover image bytes. A quarter of the inputs get a second mutation.
MutatedBook mutate(const Bytes& seed_book, std::uint64_t run_seed, std::uint64_t index);
