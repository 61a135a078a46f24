// Books to measure the text reader with: ordinary markup, and books made to
// cost the text reader and the reading start as much as they can, one shape
// per loop, each of about `size` bytes (the cost fuzz target's seeds, small,
// and the benchmarks' family, about 1 MB).
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/mobi_builder.h"

namespace mobi_test {

// Markup of about size bytes: sections of paragraphs of words from a
// vocabulary with accented and CJK words, inline tags and references.
inline Bytes ordinary_markup(std::size_t size)
{
    static const char* const words[] = {
        "the", "of", "and", "a", "to", "in", "was", "he", "that", "it", "his", "her", "with", "as", "had",
        "for", "she", "not", "at", "but", "be", "on", "they", "said", "which", "you", "from", "all", "were",
        "there", "been", "have", "would", "when", "one", "their", "into", "upon", "night", "house", "caf\xC3\xA9",
        "cr\xC3\xA8me", "na\xC3\xAFve", ("Stra\xC3\x9F" "e"), "\xE5\x90\xBE\xE8\xBC\xA9", "\xE7\x8C\xAB",
        "<i>dark</i>", "<b>stormy</b>", "&amp;", "&#8212;", "window", "letter", "morning", "answered"};
    std::string m = "<html><head><title>A Large Book</title><style>p { margin: 0 }</style></head><body>";
    std::uint32_t state = 12345;
    for (int section = 1; m.size() < size; ++section) {
        m += "<h2>Chapter " + std::to_string(section) + "</h2>";
        for (int p = 0; p < 12; ++p) {
            m += "<p>";
            for (int w = 0; w < 60; ++w) {
                state = state * 1103515245 + 12345;
                m += words[(state >> 16) % (sizeof words / sizeof *words)];
                m += w % 11 == 10 ? ", " : " ";
            }
            m += "end.</p>\n";
        }
        m += "<mbp:pagebreak/>";
    }
    m += "</body></html>";
    return Bytes(m.begin(), m.end());
}

struct CraftedBook {
    const char* name;
    Bytes bytes;
};

// markup repeated after head until the markup is about `markup_size` bytes,
// as a PalmDOC book.
inline Bytes repeated_markup_book(const std::string& head, const std::string& unit, std::size_t markup_size,
                                  std::uint16_t compression = 2)
{
    std::string markup = head;
    while (markup.size() < markup_size)
        markup += unit;
    MobiBuilder b;
    b.compression = compression;
    b.add_book_text(bytes_of(markup), {4096});
    return b.build().bytes;
}

// HUFF/CDIC records of one byte, each eight 1-bit codes of a literal of 8 KiB
// of "<&;" (64 KiB of markup per record), inside a style sheet.
inline Bytes one_byte_records_book(std::size_t size)
{
    HuffCdicWriter w;
    std::string unit;
    while (unit.size() < 8190)
        unit += "<&;";
    const std::size_t style = w.literal(bytes_of("<html><head><style>"));
    const std::size_t big = w.literal(bytes_of(unit));
    w.count(big, 1000000);
    w.count(style, 1);
    w.finish();
    const std::size_t records = std::min<std::size_t>(size / 9, 65000);
    MobiBuilder b;
    b.compression = 17480;
    b.text_length = 0xFFFFFFFF;
    b.text_record_size = 65535;
    b.text_records = std::uint16_t(records);
    b.add_record(w.encode({style}));
    for (std::size_t r = 1; r < records; ++r)
        b.add_record(w.encode(std::vector<std::size_t>(8, big)));
    add_huffcdic_tables(b, w.huff_record(), w.cdic_records());
    return b.build().bytes;
}

// Codes of 31 bits that the tables resolve only after trying the lengths 1
// to 30 (every first byte says "length 1, not final", and every shorter
// length's lowest code is above them), naming entry NEVER_KEPT of
// never_kept_dictionary(), whose 32,767 bytes are such codes of the empty
// literal, expanded again at every use.
inline Bytes slow_codes_book(std::size_t size)
{
    constexpr std::uint32_t HIGH = (1u << 30) - 1;  // entry index = HIGH - code
    Bytes huff(16 + 256 * 4 + 32 * 8, 0);
    std::memcpy(huff.data(), "HUFF", 4);
    huff[7] = 24, huff[11] = 16, huff[14] = 0x04, huff[15] = 0x10;  // tables at 16 and 1,040
    for (int i = 0; i < 256; ++i)
        huff[16 + 4 * std::size_t(i) + 3] = 1;
    auto put = [&huff](std::size_t at, std::uint32_t v) {
        for (int k = 0; k < 4; ++k)
            huff[at + std::size_t(k)] = std::uint8_t(v >> (24 - 8 * k));
    };
    for (unsigned l = 1; l <= 30; ++l)
        put(16 + 1024 + 8 * (l - 1), (1u << l) - 1);  // lowest code: all ones
    put(16 + 1024 + 8 * 30 + 4, HIGH);
    auto codes = [](std::uint32_t entry, std::size_t count) {
        return fixed_length_codes(31, std::vector<std::uint32_t>(count, entry), HIGH);
    };
    const std::size_t dictionary = 16 + 32 * (16 + 2 * 16384 + 2) + 0x7FFF;
    const std::size_t records = std::max<std::size_t>(1, size > dictionary ? (size - dictionary) / 4000 : 1);
    MobiBuilder b;
    b.compression = 17480;
    b.text_length = 0xFFFFFFFF;
    b.text_record_size = 65535;
    b.text_records = std::uint16_t(records);
    for (std::size_t r = 0; r < records; ++r)
        b.add_record(codes(NEVER_KEPT, 1000));
    add_huffcdic_tables(b, huff, never_kept_dictionary(codes(0, 0x7FFF * 8 / 31)));
    return b.build().bytes;
}

// Records of one byte each, as many as the record list allows.
inline Bytes tiny_records_book(std::size_t size)
{
    const std::size_t records = std::min<std::size_t>(size / 9, 65000);
    MobiBuilder b;
    b.compression = 1;
    b.text_length = std::uint32_t(records);
    b.text_records = std::uint16_t(records);
    for (std::size_t r = 0; r < records; ++r)
        b.add_record(bytes_of(r % 2 ? " " : "x"));
    return b.build().bytes;
}

// One shape per loop: references, skipped style sheets, tags, the HUFF/CDIC
// decoder's copies and slow codes, the record list, the guide's and the
// landmark's searches and the contents list's.
inline std::vector<CraftedBook> crafted_books(std::size_t size)
{
    const std::size_t markup = size * 5;  // PalmDOC keeps repeated units in a fifth
    const std::string head = "<html><head><title>T</title></head><body><p>";
    return {
        {"references &;", repeated_markup_book(head, "&;", markup)},
        {"a style sheet of <&;", repeated_markup_book("<html><head><style>", "<&;", markup)},
        {"tags <b>", repeated_markup_book(head, "<b>", markup)},
        {"unknown references &zz;", repeated_markup_book(head, "&zzzzzz;", markup)},
        {"unended tags <a", repeated_markup_book(head, "<a ", markup)},
        {"HUFF/CDIC records of a byte, 64 KiB each", one_byte_records_book(size)},
        {"HUFF/CDIC codes of 31 lengths tried", slow_codes_book(size)},
        {"records of a byte", tiny_records_book(size)},
        {"a guide of unended references", repeated_markup_book("<html><head><guide>", "<reference ", markup)},
        {"contents links", repeated_markup_book(head, "<p><a filepos=0000000001>x</a></p>", markup)},
    };
}

}  // namespace mobi_test
