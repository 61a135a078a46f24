// HUFF/CDIC decompression: a Huffman code (the HUFF record's tables) over a
// dictionary of entries (the CDIC records). An entry is either literal bytes
// or itself HUFF/CDIC-compressed, referring to other entries.
//
// Bounded in work as well as in output: each compressed entry is expanded
// at most once per book (its expansion is kept), an entry that refers back
// to one being expanded is refused, nesting is limited to MAX_DEPTH, and
// the decoding steps of one record are limited by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class HuffCdic {
public:
    static constexpr int MAX_DEPTH = 20;

    // The HUFF record's bytes. False if they are not a HUFF record we read.
    bool load_huff(const std::uint8_t* data, std::size_t size);
    // Appends the entries of the next CDIC record. False if the bytes are
    // not a CDIC record, disagree with the first one, or the dictionary
    // would pass max_bytes.
    bool add_cdic(const std::uint8_t* data, std::size_t size, std::size_t max_bytes);
    std::size_t entry_count() const { return entries_.size(); }

    // Replaces out with the decompressed bytes of in[0, size). Each code
    // read, at any depth, is one step; a record may take max_steps. Returns
    // false when the data breaks the format (an unknown code, an entry out
    // of range or past its record, a cycle, nesting past MAX_DEPTH), the
    // output would pass limit, or the steps run out.
    bool decompress(const std::uint8_t* in, std::size_t size, std::size_t limit,
                    std::uint64_t max_steps, std::vector<std::uint8_t>& out);
    // Steps taken by every decompress() so far.
    std::uint64_t steps() const { return total_steps_; }

private:
    // Of a compressed entry (literal entries are never expanded).
    enum class Expansion : std::uint8_t { unexpanded, expanding, expanded };
    struct Entry {
        std::uint32_t at = 0;         // its length field in dictionary_
        std::uint32_t record_end = 0; // end of its CDIC record's bytes in dictionary_
        std::uint32_t cached = 0;     // its expansion in cache_, once expanded
        std::uint32_t cached_size = 0;
    };

    bool decode(const std::uint8_t* in, std::size_t size, int depth, std::vector<std::uint8_t>& out);
    bool entry_bytes(std::size_t index, const std::uint8_t*& bytes, std::uint32_t& size, bool& literal) const;

    std::uint32_t table1_[256] = {};
    std::uint32_t mincode_[33] = {};
    std::uint32_t maxcode_[33] = {};
    std::uint32_t code_bits_ = 0;     // entries per CDIC record: 2^code_bits_
    std::uint32_t phrases_ = 0;       // entries the first CDIC record announces

    std::vector<std::uint8_t> dictionary_;   // the CDIC records' bytes after their headers
    std::vector<Entry> entries_;
    std::vector<Expansion> state_;
    std::vector<std::uint8_t> cache_;        // expansions of compressed entries
    std::vector<std::vector<std::uint8_t>> scratch_;  // one expansion buffer per depth

    std::size_t limit_ = 0;
    std::uint64_t steps_left_ = 0;
    std::uint64_t total_steps_ = 0;
};
