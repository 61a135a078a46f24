// Builds MOBI files in memory for tests: the PalmDB header, the record list,
// record 0 (PalmDOC header, MOBI header, EXTH block, title) and any records
// after it. Every field can be set to a wrong value, and MobiFile::put*
// patches bytes after building for the corruptions the fields do not cover.
//
//   MobiBuilder b;
//   b.title = "Title";
//   b.exth(100, "An Author");
//   b.exth_u32(201, 0);                      // cover: first image record
//   b.add_text(4096);
//   b.add_image(image_bytes(JPEG_JFIF, 500)); // first image sets image_record_base
//   MobiFile f = b.build();
//   f.put4(MobiFile::entry(1), 0);           // corrupt record 1's start
//
// Books with real text: add_book_text() cuts markup into text records,
// compresses them (none, PalmDOC, or HUFF/CDIC with its HUFF and CDIC
// records) and appends the trailing entries the extra-data flags announce.
//
// Portable C++17, header-only; no platform headers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <queue>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace mobi_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes be4(std::uint32_t value)
{
    return {std::uint8_t(value >> 24), std::uint8_t(value >> 16), std::uint8_t(value >> 8),
            std::uint8_t(value)};
}

// First bytes of image records.
constexpr std::uint8_t JPEG_JFIF[4] = {0xFF, 0xD8, 0xFF, 0xE0};
constexpr std::uint8_t JPEG_EXIF[4] = {0xFF, 0xD8, 0xFF, 0xE1};
constexpr std::uint8_t PNG[4] = {0x89, 0x50, 0x4E, 0x47};
constexpr std::uint8_t GIF[4] = {0x47, 0x49, 0x46, 0x38};

// size bytes (at least 4) starting with signature, then a recognisable filler.
inline Bytes image_bytes(const std::uint8_t (&signature)[4], std::size_t size)
{
    Bytes bytes(size < 4 ? 4 : size);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = i < 4 ? signature[i] : std::uint8_t(0xA0 + i % 7);
    return bytes;
}

// size bytes (at least 4) starting with the ZIP local-file signature.
inline Bytes zip_bytes(std::size_t size)
{
    Bytes bytes(size < 4 ? 4 : size, 0x5A);
    bytes[0] = 0x50, bytes[1] = 0x4B, bytes[2] = 0x03, bytes[3] = 0x04;
    return bytes;
}

// PalmDOC LZ77 compression, greedy, over a hash chain of 3-byte prefixes.
inline Bytes palmdoc_compress(const Bytes& in)
{
    Bytes out;
    const std::size_t n = in.size();
    std::vector<std::int64_t> head(1 << 12, -1), prev(n, -1);
    auto hash = [&](std::size_t i) { return ((in[i] << 8) ^ (in[i + 1] << 4) ^ in[i + 2]) & 0xFFF; };
    auto remember = [&](std::size_t i) {
        if (i + 2 < n) {
            prev[i] = head[hash(i)];
            head[hash(i)] = std::int64_t(i);
        }
    };
    for (std::size_t i = 0; i < n;) {
        std::size_t best = 0, distance = 0;
        if (i + 2 < n) {
            int chain = 32;
            for (std::int64_t j = head[hash(i)]; j >= 0 && i - std::size_t(j) <= 2047 && chain--; j = prev[j]) {
                std::size_t len = 0;
                while (len < 10 && i + len < n && in[std::size_t(j) + len] == in[i + len])
                    ++len;
                if (len > best)
                    best = len, distance = i - std::size_t(j);
            }
        }
        if (best >= 3) {
            out.push_back(std::uint8_t(0x80 | distance >> 5));
            out.push_back(std::uint8_t((distance << 3 & 0xFF) | (best - 3)));
            for (std::size_t k = 0; k < best; ++k)
                remember(i + k);
            i += best;
        } else if (in[i] == ' ' && i + 1 < n && in[i + 1] >= 0x40 && in[i + 1] <= 0x7F) {
            out.push_back(std::uint8_t(in[i + 1] ^ 0x80));
            remember(i), remember(i + 1);
            i += 2;
        } else if (in[i] == 0 || (in[i] >= 0x09 && in[i] <= 0x7F)) {
            out.push_back(in[i]);
            remember(i++);
        } else {
            std::size_t run = 0;
            while (run < 8 && i + run < n && in[i + run] != 0 && (in[i + run] < 0x09 || in[i + run] >= 0x80))
                ++run;
            out.push_back(std::uint8_t(run));
            for (std::size_t k = 0; k < run; ++k, ++i) {
                out.push_back(in[i]);
                remember(i);
            }
        }
    }
    return out;
}

// A HUFF/CDIC dictionary and its code, as writers lay them out: entries are
// literal bytes or the codes of other entries; the code is canonical
// Huffman over the entries' use counts, with shorter codes numerically
// higher, and the CDIC order is the code length order. The caller numbers
// entries in the order it adds them; finish() assigns codes.
//   HuffCdicWriter w;
//   auto a = w.literal(bytes_of("a")), ab = w.compressed({a, w.literal(bytes_of("b"))});
//   w.count(ab, 10);
//   w.finish();
//   Bytes record = w.encode({ab, a});
class HuffCdicWriter {
public:
    std::size_t literal(const Bytes& bytes) { return add({bytes, true, {}}); }
    std::size_t compressed(const std::vector<std::size_t>& parts) { return add({{}, false, parts}); }
    void count(std::size_t entry, std::size_t uses = 1) { entries_.at(entry).uses += uses; }

    // bits: entries per CDIC record are 2^bits.
    void finish(unsigned bits = 10)
    {
        bits_ = bits;
        // At least 256 entries (unused empty ones), so that the longest code
        // has at least 8 bits and a byte's zero padding never completes one.
        while (entries_.size() < 256)
            literal({});
        lengths();
        std::vector<std::size_t> order(entries_.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return entries_[a].length < entries_[b].length; });
        std::uint64_t top = std::uint64_t(1) << 32;  // left-aligned, exclusive
        std::size_t next = 0;
        for (unsigned l = 1; l <= 32; ++l) {
            const std::size_t first = next;
            while (next < order.size() && entries_[order[next]].length == l)
                ++next;
            const std::uint64_t count = next - first;
            const std::uint64_t high = (top >> (32 - l)) - 1;  // highest free code of length l
            count_[l] = std::uint32_t(count);
            high_[l] = std::uint32_t(high);
            if (count == 0) {
                min_[l] = std::uint32_t(top >> (32 - l));
                max_[l] = 0;
                continue;
            }
            min_[l] = std::uint32_t(high + 1 - count);
            max_[l] = std::uint32_t(high + first);  // index = max - code
            for (std::size_t k = 0; k < count; ++k) {
                Entry& e = entries_[order[first + k]];
                e.index = first + k;
                e.code = std::uint32_t(high - k);
            }
            top = std::uint64_t(min_[l]) << (32 - l);
        }
        order_ = order;
        shortest_ = entries_[order.front()].length;
    }

    // The codes of entries, most significant bit first, zero padded to a byte.
    Bytes encode(const std::vector<std::size_t>& entries) const
    {
        Bytes out;
        std::uint64_t acc = 0;
        unsigned held = 0;
        for (std::size_t id : entries) {
            const Entry& e = entries_.at(id);
            acc = acc << e.length | e.code;
            held += e.length;
            while (held >= 8) {
                out.push_back(std::uint8_t(acc >> (held - 8)));
                held -= 8;
            }
        }
        if (held)
            out.push_back(std::uint8_t(acc << (8 - held)));
        return out;
    }

    // The tables big-endian, then again little-endian (2,584 bytes).
    Bytes huff_record() const
    {
        Bytes r = bytes_of("HUFF");
        auto put = [&r](std::uint32_t v, bool little) {
            for (int k = 0; k < 4; ++k)
                r.push_back(std::uint8_t(v >> (little ? 8 * k : 24 - 8 * k)));
        };
        for (std::uint32_t v : {24u, 24u, 1048u, 1304u, 2328u})
            put(v, false);
        for (bool little : {false, true}) {
            for (unsigned b = 0; b < 256; ++b) {
                std::uint32_t t1 = std::max(9u, shortest_);  // the length is found from the ranges
                for (unsigned l = 1; l <= 8; ++l)
                    if (count_[l] != 0 && (b >> (8 - l)) >= min_[l] && (b >> (8 - l)) <= high_[l])
                        t1 = (max_[l] << 8) | 0x80 | l;
                put(t1, little);
            }
            for (unsigned l = 1; l <= 32; ++l)
                put(min_[l], little), put(max_[l], little);
        }
        return r;
    }

    std::vector<Bytes> cdic_records() const
    {
        std::vector<Bytes> records;
        const std::size_t per = std::size_t(1) << bits_;
        for (std::size_t start = 0; start < order_.size(); start += per) {
            const std::size_t count = std::min(per, order_.size() - start);
            Bytes r = bytes_of("CDIC");
            for (std::uint32_t v : {16u, std::uint32_t(order_.size()), std::uint32_t(bits_)})
                for (int k = 0; k < 4; ++k)
                    r.push_back(std::uint8_t(v >> (24 - 8 * k)));
            Bytes data;
            for (std::size_t k = 0; k < count; ++k) {
                const Entry& e = entries_[order_[start + k]];
                const std::size_t at = 2 * count + data.size();
                if (at > 0xFFFF)
                    throw std::length_error("CDIC record too large");
                r.push_back(std::uint8_t(at >> 8)), r.push_back(std::uint8_t(at));
                const Bytes bytes = e.is_literal ? e.bytes : encode(e.parts);
                const std::size_t field = bytes.size() | (e.is_literal ? 0x8000 : 0);
                data.push_back(std::uint8_t(field >> 8)), data.push_back(std::uint8_t(field));
                data.insert(data.end(), bytes.begin(), bytes.end());
            }
            r.insert(r.end(), data.begin(), data.end());
            records.push_back(r);
        }
        return records;
    }

private:
    struct Entry {
        Bytes bytes;
        bool is_literal;
        std::vector<std::size_t> parts;
        std::size_t uses = 0;
        unsigned length = 0;
        std::size_t index = 0;
        std::uint32_t code = 0;
    };

    std::size_t add(Entry e)
    {
        entries_.push_back(std::move(e));
        return entries_.size() - 1;
    }

    // Huffman code lengths over the use counts (plus one, so that unused
    // entries stay shallow).
    void lengths()
    {
        using Node = std::pair<std::uint64_t, std::size_t>;
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
        std::vector<std::size_t> parent(entries_.size(), 0);
        for (std::size_t i = 0; i < entries_.size(); ++i)
            queue.push({entries_[i].uses + 1, i});
        while (queue.size() > 1) {
            const Node a = queue.top();
            queue.pop();
            const Node b = queue.top();
            queue.pop();
            parent.push_back(0);
            parent[a.second] = parent[b.second] = parent.size() - 1;
            queue.push({a.first + b.first, parent.size() - 1});
        }
        const std::size_t root = parent.size() - 1;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            unsigned depth = 0;
            for (std::size_t n = i; n != root; n = parent[n])
                ++depth;
            if (depth > 32)
                throw std::length_error("Huffman code longer than 32 bits");
            entries_[i].length = depth;
        }
    }

    std::vector<Entry> entries_;
    std::vector<std::size_t> order_;
    unsigned bits_ = 10;
    unsigned shortest_ = 1;
    std::uint32_t count_[33] = {};  // codes of each length
    std::uint32_t high_[33] = {};   // the highest code of each length
    std::uint32_t min_[33] = {};    // the ranges as written: lowest code,
    std::uint32_t max_[33] = {};    // highest code plus the first index
};

// How add_book_text() lays the text out.
struct TextLayout {
    std::size_t chunk = 4096;   // text bytes per record (cuts fall anywhere: in tags,
                                // references and UTF-8 sequences)
    bool multibyte = false;     // extra-data bit 0: a UTF-8 sequence cut at a record's
                                // end is carried as its overlap
    unsigned indexing = 0;      // size-prefixed trailing entries (bits 1 to this); the
                                // second is 200 bytes, for a two-byte size
    unsigned cdic_bits = 10;    // HUFF/CDIC: 2^bits entries per CDIC record
};

// The records' texts as HUFF/CDIC: entries for the words (runs of up to 12
// letters, digits and non-ASCII bytes) and single other bytes, plus
// compressed entries for the most frequent pairs of them, and for the most
// frequent pairs of those. Appends the HUFF
// and CDIC records to tables and returns the compressed records.
inline std::vector<Bytes> huffcdic_compress(const std::vector<Bytes>& texts, unsigned bits,
                                            std::vector<Bytes>& tables)
{
    auto is_word = [](std::uint8_t c) {
        return c >= 0x80 || (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
    };
    HuffCdicWriter w;
    std::map<Bytes, std::size_t> words;
    std::vector<std::vector<std::size_t>> tokens(texts.size());
    for (std::size_t t = 0; t < texts.size(); ++t) {
        const Bytes& text = texts[t];
        for (std::size_t i = 0; i < text.size();) {
            std::size_t n = 1;
            while (is_word(text[i]) && n < 12 && i + n < text.size() && is_word(text[i + n]))
                ++n;
            const Bytes word(text.begin() + std::ptrdiff_t(i), text.begin() + std::ptrdiff_t(i + n));
            auto found = words.find(word);
            if (found == words.end())
                found = words.emplace(word, w.literal(word)).first;
            tokens[t].push_back(found->second);
            i += n;
        }
    }
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> pair_uses;
    for (const auto& list : tokens)
        for (std::size_t i = 0; i + 1 < list.size(); ++i)
            ++pair_uses[{list[i], list[i + 1]}];
    std::vector<std::pair<std::size_t, std::pair<std::size_t, std::size_t>>> ranked;
    for (const auto& p : pair_uses)
        if (p.second >= 2)
            ranked.push_back({p.second, p.first});
    std::sort(ranked.rbegin(), ranked.rend());
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> pairs;
    for (std::size_t i = 0; i < ranked.size() && i < 200; ++i)
        pairs[ranked[i].second] = w.compressed({ranked[i].second.first, ranked[i].second.second});
    // Greedy, twice: pairs of words, then the most frequent pairs of those
    // pairs, as compressed entries of two compressed entries (real
    // dictionaries nest phrases the same way).
    auto combine = [&w](std::vector<std::vector<std::size_t>>& lists, std::size_t most,
                        std::map<std::pair<std::size_t, std::size_t>, std::size_t>* given) {
        std::map<std::pair<std::size_t, std::size_t>, std::size_t> uses, made;
        if (given) {
            made = *given;
        } else {
            for (const auto& list : lists)
                for (std::size_t i = 0; i + 1 < list.size(); ++i)
                    ++uses[{list[i], list[i + 1]}];
            std::vector<std::pair<std::size_t, std::pair<std::size_t, std::size_t>>> ranked;
            for (const auto& p : uses)
                if (p.second >= 2)
                    ranked.push_back({p.second, p.first});
            std::sort(ranked.rbegin(), ranked.rend());
            for (std::size_t i = 0; i < ranked.size() && i < most; ++i)
                made[ranked[i].second] = w.compressed({ranked[i].second.first, ranked[i].second.second});
        }
        for (auto& list : lists) {
            std::vector<std::size_t> out;
            for (std::size_t i = 0; i < list.size(); ++i) {
                const auto pair = i + 1 < list.size() ? made.find({list[i], list[i + 1]}) : made.end();
                out.push_back(pair != made.end() ? pair->second : list[i]);
                i += pair != made.end();
            }
            list = out;
        }
    };
    std::vector<std::vector<std::size_t>> codes = tokens;
    combine(codes, 0, &pairs);
    combine(codes, 100, nullptr);
    for (const auto& list : codes)
        for (std::size_t id : list)
            w.count(id);
    w.finish(bits);
    tables.push_back(w.huff_record());
    for (const Bytes& r : w.cdic_records())
        tables.push_back(r);
    std::vector<Bytes> out;
    for (const auto& list : codes)
        out.push_back(w.encode(list));
    return out;
}

struct MobiFile {
    Bytes bytes;
    std::vector<std::uint32_t> offsets;  // start of each record, then the file size

    // Position of record i's entry in the record list.
    static constexpr std::size_t entry(std::size_t i) { return 78 + 8 * i; }
    // Position of byte offset of record 0 in the file.
    std::size_t r0(std::size_t offset) const { return offsets.at(0) + offset; }
    std::uint32_t record_size(std::size_t i) const { return offsets.at(i + 1) - offsets.at(i); }

    void put(std::size_t at, const Bytes& value)
    {
        if (bytes.size() < at + value.size())
            bytes.resize(at + value.size());
        for (std::size_t i = 0; i < value.size(); ++i)
            bytes[at + i] = value[i];
    }
    void put(std::size_t at, const std::string& value) { put(at, bytes_of(value)); }
    void put2(std::size_t at, std::uint16_t value) { put(at, Bytes{std::uint8_t(value >> 8), std::uint8_t(value)}); }
    void put4(std::size_t at, std::uint32_t value) { put(at, be4(value)); }
};

class MobiBuilder {
public:
    // PalmDB header.
    std::string name = "Test_Book";          // at most 31 bytes are written
    std::uint32_t creation_time = 0x7B0A1C2D;
    std::string type_creator = "BOOKMOBI";   // first 8 bytes are written
    std::optional<std::uint16_t> record_count;  // default: the records built

    // Record 0: PalmDOC header.
    std::uint16_t compression = 1;
    std::uint16_t reserved = 0;              // offset 2, must be 0
    std::optional<std::uint32_t> text_length;   // default: the text add_book_text() was given
    std::optional<std::uint16_t> text_records;  // default: the leading text records
    std::uint16_t text_record_size = 4096;
    std::uint16_t encryption = 0;
    // MOBI header.
    std::string mobi_magic = "MOBI";
    std::uint32_t mobi_header_length = 232;
    std::uint32_t text_encoding = 65001;
    std::uint32_t version = 6;
    std::uint32_t huff_record = 0;           // HUFF record index and count with the CDIC records
    std::uint32_t huff_count = 0;
    std::uint32_t fdst_record = 0xFFFFFFFF;  // written for version 8 and up
    std::uint16_t extra_flags = 0;           // written when the header reaches offset 242
    std::optional<std::uint32_t> first_non_book_record;  // default: 1 + leading text records
    std::uint32_t locale = 9;
    std::optional<std::uint32_t> image_record_base;      // default: first image, else record count
    std::string title = "Test Book";
    std::optional<std::uint32_t> title_off;  // default: right after the EXTH block, where
                                             // the title is written (not written when set)
    std::optional<std::uint32_t> title_len;  // default: title.size()
    std::optional<std::uint32_t> record0_size;  // pad with zeros (or cut) to this size

    // EXTH block, at 16 + mobi_header_length in record 0.
    bool exth_block = true;
    std::string exth_magic = "EXTH";
    std::optional<std::uint32_t> exth_length;  // header length field; default: the real one
    std::optional<std::uint32_t> exth_count;   // record count field; default: the real one

    // An EXTH record; length is the record's length field (default 8 + value size).
    MobiBuilder& exth(std::uint32_t type, const Bytes& value, std::optional<std::uint32_t> length = {})
    {
        exth_records_.push_back({type, value, length});
        return *this;
    }
    MobiBuilder& exth(std::uint32_t type, const std::string& value, std::optional<std::uint32_t> length = {})
    {
        return exth(type, bytes_of(value), length);
    }
    MobiBuilder& exth_u32(std::uint32_t type, std::uint32_t value) { return exth(type, be4(value)); }

    // Records after record 0; each returns the new record's index.
    std::size_t add_record(const Bytes& bytes)
    {
        records_.push_back(bytes);
        return records_.size();
    }
    std::size_t add_text(std::size_t size)
    {
        if (records_.size() == leading_text_)
            ++leading_text_;
        return add_record(Bytes(size, 'T'));
    }
    std::size_t add_image(const Bytes& bytes)
    {
        const std::size_t index = add_record(bytes);
        if (!first_image_)
            first_image_ = static_cast<std::uint32_t>(index);
        return index;
    }
    // The book's text: markup cut into text records as layout says, each
    // compressed as compression says (HUFF and CDIC records follow the
    // text), with the trailing entries the layout asks for; sets the text
    // length, the extra-data flags and, for HUFF/CDIC, the tables' place.
    // Call before adding other records.
    void add_book_text(const Bytes& markup, const TextLayout& layout = {})
    {
        std::vector<Bytes> texts;
        for (std::size_t i = 0; i < markup.size(); i += layout.chunk)
            texts.emplace_back(markup.begin() + std::ptrdiff_t(i),
                               markup.begin() + std::ptrdiff_t(std::min(markup.size(), i + layout.chunk)));
        std::vector<Bytes> tables;
        std::vector<Bytes> stored = texts;
        if (compression == 2)
            for (Bytes& r : stored)
                r = palmdoc_compress(r);
        if (compression == 17480)
            stored = huffcdic_compress(texts, layout.cdic_bits, tables);
        extra_flags = std::uint16_t((layout.multibyte ? 1 : 0) | ((1u << (layout.indexing + 1)) - 2));
        for (std::size_t t = 0; t < stored.size(); ++t) {
            Bytes r = stored[t];
            if (layout.multibyte) {
                std::size_t n = 0;  // continuation bytes the next record starts with
                while (t + 1 < texts.size() && n < 3 && n < texts[t + 1].size() && (texts[t + 1][n] & 0xC0) == 0x80)
                    ++n;
                r.insert(r.end(), texts[t + 1 < texts.size() ? t + 1 : t].begin(),
                         texts[t + 1 < texts.size() ? t + 1 : t].begin() + std::ptrdiff_t(n));
                r.push_back(std::uint8_t(n));
            }
            for (unsigned bit = 1; bit <= layout.indexing; ++bit) {
                const std::size_t data = bit == 2 ? 200 : bit;
                r.insert(r.end(), data, std::uint8_t(0xA0 + bit));
                const std::size_t value = data + (data + 1 < 128 ? 1 : 2);
                if (value < 128) {
                    r.push_back(std::uint8_t(0x80 | value));
                } else {
                    r.push_back(std::uint8_t(0x80 | value >> 7));
                    r.push_back(std::uint8_t(value & 0x7F));
                }
            }
            records_.push_back(r);
            ++leading_text_;
        }
        text_length_ = std::uint32_t(markup.size());
        if (!tables.empty()) {
            huff_record = std::uint32_t(records_.size() + 1);
            huff_count = std::uint32_t(tables.size());
            for (const Bytes& r : tables)
                records_.push_back(r);
        }
    }
    // "SRCS", 12 header bytes, then the archive.
    std::size_t add_srcs(const Bytes& archive)
    {
        // Filled in place: a vector insert here trips a false -Warray-bounds
        // of GCC 12 once inlined.
        static const std::uint8_t header[16] = {'S', 'R', 'C', 'S', 0, 0, 0, 0x10,
                                                0,   0,   0,   0x2F, 0, 0, 0, 1};
        Bytes bytes(16 + archive.size(), 0);
        std::copy(header, header + 16, bytes.begin());
        std::copy(archive.begin(), archive.end(), bytes.begin() + 16);
        return add_record(bytes);
    }

    MobiFile build() const
    {
        const std::uint32_t count = static_cast<std::uint32_t>(records_.size() + 1);
        Bytes r0 = record0(count);

        MobiFile f;
        Bytes header(78, 0);
        for (std::size_t i = 0; i < name.size() && i < 31; ++i)
            header[i] = std::uint8_t(name[i]);
        f.bytes = header;
        f.put4(36, creation_time);
        f.put4(40, creation_time);
        f.put(60, type_creator.substr(0, 8));
        f.put2(76, record_count ? *record_count : std::uint16_t(count));

        std::uint32_t at = 78 + 8 * count + 2;  // list, then two bytes of padding
        f.offsets.push_back(at);
        at += static_cast<std::uint32_t>(r0.size());
        for (const Bytes& r : records_) {
            f.offsets.push_back(at);
            at += static_cast<std::uint32_t>(r.size());
        }
        f.offsets.push_back(at);
        for (std::uint32_t i = 0; i < count; ++i) {
            f.put4(MobiFile::entry(i), f.offsets[i]);
            f.put4(MobiFile::entry(i) + 4, 2 * i);
        }
        f.put2(78 + 8 * count, 0);
        f.put(f.offsets[0], r0);
        for (std::size_t i = 0; i < records_.size(); ++i)
            f.put(f.offsets[i + 1], records_[i]);
        f.bytes.resize(at);
        return f;
    }

private:
    struct ExthRecord {
        std::uint32_t type;
        Bytes value;
        std::optional<std::uint32_t> length;
    };

    Bytes record0(std::uint32_t count) const
    {
        MobiFile r;  // used for its put helpers only
        r.bytes.assign(16 + 112, 0);
        r.put2(0, compression);
        r.put2(2, reserved);
        r.put4(4, text_length ? *text_length : text_length_);
        r.put2(8, text_records ? *text_records : std::uint16_t(leading_text_));
        r.put2(10, text_record_size);
        r.put2(12, encryption);
        r.put(16, mobi_magic);
        r.put4(20, mobi_header_length);
        r.put4(24, 2);  // MOBI type: book
        r.put4(28, text_encoding);
        r.put4(36, version);
        r.put4(112, huff_record);
        r.put4(116, huff_count);
        r.put4(80, first_non_book_record ? *first_non_book_record : std::uint32_t(1 + leading_text_));
        r.put4(92, locale);
        r.put4(108, image_record_base ? *image_record_base : first_image_ ? *first_image_ : count);
        if (mobi_header_length >= 116)
            r.put4(128, exth_block ? 0x50 : 0x10);  // EXTH flags; not read by readers of the magic
        if (mobi_header_length >= 192 + 4 - 16 && version >= 8)
            r.put4(192, fdst_record);
        if (mobi_header_length >= 242 + 2 - 16) {
            if (r.bytes.size() < 244)
                r.bytes.resize(244);
            r.put2(242, extra_flags);
        }

        // A huge header length puts the block (and the default title) at 64 KiB.
        std::size_t at = std::size_t(std::min<std::uint64_t>(16 + std::uint64_t(mobi_header_length), 0x10000));
        if (r.bytes.size() < at)
            r.bytes.resize(at);
        if (exth_block) {
            Bytes block;
            for (const ExthRecord& e : exth_records_) {
                const Bytes type = be4(e.type);
                const Bytes field = be4(e.length ? *e.length : std::uint32_t(8 + e.value.size()));
                block.insert(block.end(), type.begin(), type.end());
                block.insert(block.end(), field.begin(), field.end());
                block.insert(block.end(), e.value.begin(), e.value.end());
            }
            const std::uint32_t length = std::uint32_t(12 + block.size());
            while (block.size() % 4)
                block.push_back(0);
            r.put(at, exth_magic.substr(0, 4));
            r.put4(at + 4, exth_length ? *exth_length : length);
            r.put4(at + 8, exth_count ? *exth_count : std::uint32_t(exth_records_.size()));
            r.put(at + 12, block);
            at += 12 + block.size();
        }
        const std::size_t off = title_off ? *title_off : at;
        r.put4(84, std::uint32_t(off));
        r.put4(88, title_len ? *title_len : std::uint32_t(title.size()));
        if (!title_off)
            r.put(off, title);
        r.bytes.resize(std::max<std::size_t>(r.bytes.size() + 2, 256));  // padding
        if (record0_size)
            r.bytes.resize(*record0_size);
        return r.bytes;
    }

    std::vector<ExthRecord> exth_records_;
    std::vector<Bytes> records_;  // records 1..n
    std::size_t leading_text_ = 0;
    std::uint32_t text_length_ = 0;
    std::optional<std::uint32_t> first_image_;
};

// A HUFF record whose codes all have `bits` bits (at most 24): the code c
// (its bits, left-aligned) names entry 2^bits - 1 - c.
inline Bytes fixed_length_huff(unsigned bits)
{
    Bytes huff(16 + 256 * 4 + 32 * 8, 0);
    std::memcpy(huff.data(), "HUFF", 4);
    huff[7] = 24, huff[11] = 16, huff[14] = 0x04, huff[15] = 0x10;  // tables at 16 and 1,040
    for (int i = 0; i < 256; ++i)
        huff[16 + 4 * std::size_t(i) + 3] = std::uint8_t(bits);     // the length, found from the ranges
    const std::size_t high = 16 + 1024 + 8 * (bits - 1) + 4;         // highest code of that length
    const std::uint32_t highest = (1u << bits) - 1;
    huff[high + 1] = std::uint8_t(highest >> 16), huff[high + 2] = std::uint8_t(highest >> 8);
    huff[high + 3] = std::uint8_t(highest);
    return huff;
}

// Codes of `bits` bits each, naming the entries, zero padded to a byte: the
// code of entry e is highest - e (by default, all ones less e).
inline Bytes fixed_length_codes(unsigned bits, const std::vector<std::uint32_t>& entries,
                                std::uint32_t highest = 0)
{
    if (highest == 0)
        highest = (1u << bits) - 1;
    Bytes out((entries.size() * bits + 7) / 8, 0);
    std::size_t at = 0;
    for (const std::uint32_t entry : entries) {
        const std::uint32_t code = highest - entry;
        for (unsigned k = 0; k < bits; ++k, ++at)
            if (code >> (bits - 1 - k) & 1)
                out[at / 8] |= std::uint8_t(0x80 >> (at % 8));
    }
    return out;
}

// A HUFF/CDIC book's tables after its text records: the HUFF record, then
// the CDIC records.
inline void add_huffcdic_tables(MobiBuilder& b, const Bytes& huff, const std::vector<Bytes>& cdic)
{
    b.huff_record = std::uint32_t(b.add_record(huff));
    b.huff_count = std::uint32_t(1 + cdic.size());
    for (const Bytes& r : cdic)
        b.add_record(r);
}

// Entry NEVER_KEPT of never_kept_dictionary(): past the entries whose
// expansion is kept.
constexpr std::uint32_t NEVER_KEPT = 32u << 14;

// A dictionary of much work: 32 CDIC records of 16,384 entries that all
// name one empty literal, then entry NEVER_KEPT, compressed: `codes` (at
// most 32,767 bytes), which should name entry 0, the literal.
inline std::vector<Bytes> never_kept_dictionary(const Bytes& codes)
{
    constexpr unsigned BITS = 14;
    constexpr std::uint32_t PER_RECORD = 1u << BITS;
    auto cdic = [](std::size_t size) {
        Bytes r(size, 0);
        std::memcpy(r.data(), "CDIC", 4);
        r[7] = 16;
        const Bytes phrases = be4(NEVER_KEPT + 1);
        std::copy(phrases.begin(), phrases.end(), r.begin() + 8);
        r[15] = BITS;
        return r;
    };
    Bytes full = cdic(16 + 2 * PER_RECORD + 2);
    for (std::uint32_t k = 0; k < PER_RECORD; ++k)
        full[16 + 2 * k] = 0x80;                   // offset 2 * PER_RECORD: the literal
    full[16 + 2 * PER_RECORD] = 0x80;              // literal, no bytes
    std::vector<Bytes> records(NEVER_KEPT / PER_RECORD, full);
    Bytes last = cdic(16 + 2 + 2);
    last[17] = 2, last[18] = 0x7F, last[19] = 0xFF;  // offset 2; compressed, 32,767 bytes
    last.insert(last.end(), codes.begin(), codes.end());
    last.resize(16 + 4 + 0x7FFF, 0);
    records.push_back(last);
    return records;
}

// A small book of much work: never_kept_dictionary() of 32,767 bytes of
// 20-bit codes of the empty literal; and `records` text records of 98
// bytes, each 39 uses of entry NEVER_KEPT (half a million decoder steps per
// record, no text).
inline Bytes repeated_entry_book(std::size_t records)
{
    constexpr unsigned CODE = 20;
    MobiBuilder b;
    b.compression = 17480;
    b.text_length = 100000000;
    b.text_record_size = 65535;
    b.text_records = std::uint16_t(records);
    for (std::size_t r = 0; r < records; ++r)
        b.add_record(fixed_length_codes(CODE, std::vector<std::uint32_t>(39, NEVER_KEPT)));
    add_huffcdic_tables(b, fixed_length_huff(CODE),
                        never_kept_dictionary(fixed_length_codes(CODE, std::vector<std::uint32_t>(0x7FFF * 8 / CODE, 0))));
    return b.build().bytes;
}

}  // namespace mobi_test
