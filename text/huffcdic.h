// HUFF/CDIC decompression: a Huffman code (the HUFF record's tables) over a
// dictionary of entries (the CDIC records). An entry is either literal bytes
// or itself HUFF/CDIC-compressed, referring to other entries.
//
// Bounded in work as well as in output: each compressed entry is expanded
// once per book while the expansions kept fit their budget (past it, each
// use expands it again), an entry that refers back to one being expanded
// is refused, nesting is limited to MAX_DEPTH, and the decoding steps of
// one record are charged to the book's work budget. Bounded in memory: the dictionary
// is held as its records' bytes (at most the caller's max_bytes), with no
// bookkeeping per entry; the expansions kept have a fixed budget
// (MAX_CACHE), and only the first MAX_KEPT_INDEX entries are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "work_budget.h"

class HuffCdic {
public:
    static constexpr int MAX_DEPTH = 20;

    // The HUFF record's bytes. False if they are not a HUFF record we read.
    bool load_huff(const std::uint8_t* data, std::size_t size);
    // Appends the entries of the next CDIC record. False if the bytes are
    // not a CDIC record, disagree with the first one, or the dictionary
    // would pass max_bytes.
    bool add_cdic(const std::uint8_t* data, std::size_t size, std::size_t max_bytes);
    std::size_t entry_count() const { return entry_count_; }

    // Bytes past limit that out must have room for (entries are copied 16
    // bytes at a time).
    static constexpr std::size_t COPY_SLACK = 16;

    // Writes the decompressed bytes of in[0, size) to out[0, limit),
    // produced their count. Each code read, at any depth, is one step and
    // charges work one unit, one more per code length tried beyond its
    // table entry, and one per byte it copies. Returns false when the data
    // breaks the format (an unknown code, an entry out of range or past its
    // record, a cycle, nesting past MAX_DEPTH), the output would pass
    // limit, or the work budget is spent.
    bool decompress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t limit,
                    WorkBudget& work, std::size_t& produced);
    // Steps taken by every decompress() so far.
    std::uint64_t steps() const { return total_steps_; }

    // Bytes of expansions kept at most (with four bytes each for its size),
    // and the entries whose expansion may be kept (a four-byte index each;
    // real dictionaries have far fewer entries).
    static constexpr std::size_t MAX_CACHE = std::size_t(6) << 20;
    static constexpr std::size_t MAX_KEPT_INDEX = std::size_t(1) << 19;

private:
    // An entry's bytes in its CDIC record, literal or compressed.
    struct Entry {
        const std::uint8_t* bytes = nullptr;
        std::uint32_t size = 0;
        bool literal = false;
    };
    // Entry index (below entry_count_) as its record gives it; false if its
    // offset or length runs past the record.
    bool entry(std::uint32_t index, Entry& e) const;
    // Keeps an expansion if the budget allows.
    void keep(std::uint32_t index, const std::uint8_t* bytes, std::size_t size);

    // The length and entry index of a code read from the tables, or false
    // for a code they give no valid length.
    bool resolve(std::uint32_t code, std::uint32_t& length, std::uint32_t& index) const;
    // Appends to out[produced, limit_).
    bool decode(const std::uint8_t* in, std::size_t size, int depth, std::uint8_t* out, std::size_t& produced);

    // Codes of at most FAST_BITS bits by their first FAST_BITS bits: the
    // length (0: resolve the code from the tables) and the entry index.
    static constexpr int FAST_BITS = 10;
    struct Fast {
        std::uint32_t length = 0;
        std::uint32_t index = 0;
    };
    Fast fast_[1 << FAST_BITS];
    std::uint32_t table1_[256] = {};
    std::uint32_t mincode_[33] = {};
    std::uint32_t maxcode_[33] = {};
    std::uint32_t code_bits_ = 0;     // entries per CDIC record: 2^code_bits_
    std::uint32_t phrases_ = 0;       // entries the first CDIC record announces

    // Each CDIC record's bytes after its header (those that hold entries);
    // record k holds entries k * 2^code_bits_ on.
    std::vector<std::vector<std::uint8_t>> records_;
    std::size_t dictionary_bytes_ = 0;
    std::uint32_t entry_count_ = 0;
    // Expansions kept, each its size (four bytes, native order) then its
    // bytes, cache_used_ bytes of it; sized once, never reallocated.
    std::vector<std::uint8_t> cache_;
    std::size_t cache_used_ = 0;
    // By entry index: 1 + where the entry's expansion is in cache_, or 0.
    std::vector<std::uint32_t> kept_;
    std::uint32_t expanding_[MAX_DEPTH + 1] = {};     // the entries being expanded, by depth
    std::vector<std::vector<std::uint8_t>> scratch_;  // one expansion buffer per depth

    std::size_t limit_ = 0;
    std::uint64_t units_left_ = 0;  // of the work budget, while decompressing
    std::uint64_t total_steps_ = 0;
};
