// The fixture books of tests/data/books as their manifest.json describes
// them. The table is generated at build time (manifest_table.py writes
// manifest_table.inc, which must be on the include path); strings are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A record of the book; present is false where the manifest says null.
struct Place {
    bool present = false;
    std::uint32_t offset = 0, size = 0;
    std::uint32_t width = 0, height = 0;  // decoded size of a cover image
    std::string sha256;                   // hash of a source archive's bytes
};

struct FixtureBook {
    std::string file, sha256;  // sha256: of the whole file
    bool valid = false;
    std::uint32_t record_count = 0, creation_time = 0, text_encoding = 0, locale = 0;
    std::uint32_t image_record_base = 0, first_non_book_record = 0;
    std::string title;
    std::vector<std::string> authors, contributors;
    std::string publisher, published_text;
    bool is_sample = false, is_personal = false, is_encrypted = false;
    Place cover, cover_with_use_mobi_thumbnail, source;
};

inline const FixtureBook FIXTURE_BOOKS[] = {
#include "manifest_table.inc"
};
