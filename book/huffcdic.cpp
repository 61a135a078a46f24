// HUFF/CDIC decompression; see huffcdic.h.
//
// The HUFF record: "HUFF", then at 8 and 12 the offsets of two big-endian
// tables: 256 four-byte entries indexed by a code's first 8 bits (bits 0-4
// code length, bit 7 "the length is final", bits 8-31 the highest code of
// that length), and 32 pairs (lowest code, highest code) for the lengths 1
// to 32. A CDIC record: "CDIC", header length 16, the number of entries in
// all CDIC records, the bits of an entry's index that select it within its
// record; then 2-byte offsets of its entries (relative to byte 16), and at
// each entry a 2-byte length (bit 15: the bytes are literal) and the bytes.
// Codes are read from the most significant bit on; a code that would need
// bits past the end ends the data.
#include "huffcdic.h"

#include <algorithm>
#include <cstring>

#include "big_endian.h"

namespace {

// 32 bits of in (zeros past its end) from bit position bit on.
std::uint32_t peek32(const std::uint8_t* in, std::size_t size, std::size_t bit)
{
    const std::size_t byte = bit >> 3;
    std::uint64_t window = 0;
    if (size >= 8 && byte <= size - 8) {
        for (int k = 0; k < 8; ++k)
            window = window << 8 | in[byte + k];
    } else {
        for (std::size_t k = 0; k < 8; ++k)
            window = window << 8 | (byte + k < size ? in[byte + k] : 0);
    }
    return std::uint32_t((window << (bit & 7)) >> 32);
}

}  // namespace

bool HuffCdic::load_huff(const std::uint8_t* data, std::size_t size)
{
    if (size < 16 || std::memcmp(data, "HUFF", 4) != 0)
        return false;
    const std::uint64_t codes = get4(data + 8);
    const std::uint64_t ranges = get4(data + 12);
    if (codes + 256 * 4 > size || ranges + 32 * 8 > size)
        return false;
    for (int i = 0; i < 256; ++i)
        table1_[i] = get4(data + codes + 4 * i);
    mincode_[0] = 0;
    maxcode_[0] = 0xFFFFFFFF;
    for (int length = 1; length <= 32; ++length) {
        const std::uint32_t low = get4(data + ranges + 8 * (length - 1));
        const std::uint32_t high = get4(data + ranges + 8 * (length - 1) + 4);
        mincode_[length] = low << (32 - length);
        maxcode_[length] = ((high + 1) << (32 - length)) - 1;  // wraps as the writers' arithmetic does
    }
    scratch_.resize(MAX_DEPTH + 2);
    return true;
}

bool HuffCdic::add_cdic(const std::uint8_t* data, std::size_t size, std::size_t max_bytes)
{
    if (size < 16 || std::memcmp(data, "CDIC", 4) != 0 || get4(data + 4) != 16)
        return false;
    const std::uint32_t phrases = get4(data + 8);
    const std::uint32_t bits = get4(data + 12);
    if (entries_.empty() && dictionary_.empty()) {
        if (phrases == 0 || bits == 0 || bits > 16)
            return false;
        phrases_ = phrases;
        code_bits_ = bits;
    } else if (phrases != phrases_ || bits != code_bits_) {
        return false;
    }
    const std::size_t count = std::min<std::size_t>(std::size_t(1) << code_bits_, phrases_ - entries_.size());
    // dictionary_ never holds more than max_bytes, so the difference cannot wrap.
    if (count > (size - 16) / 2 || dictionary_.size() > max_bytes || size - 16 > max_bytes - dictionary_.size())
        return false;
    const std::uint32_t base = std::uint32_t(dictionary_.size());
    dictionary_.insert(dictionary_.end(), data + 16, data + size);
    const std::uint32_t end = std::uint32_t(dictionary_.size());
    for (std::size_t i = 0; i < count; ++i) {
        Entry e;
        e.at = base + get2(data + 16 + 2 * i);
        e.record_end = end;
        entries_.push_back(e);
    }
    state_.resize(entries_.size(), Expansion::unexpanded);
    return true;
}

bool HuffCdic::entry_bytes(std::size_t index, const std::uint8_t*& bytes, std::uint32_t& size,
                           bool& literal) const
{
    const Entry& e = entries_[index];
    if (e.at > e.record_end || e.record_end - e.at < 2)
        return false;
    const std::uint16_t field = get2(dictionary_.data() + e.at);
    size = field & 0x7FFF;
    literal = (field & 0x8000) != 0;
    if (size > e.record_end - e.at - 2)
        return false;
    bytes = dictionary_.data() + e.at + 2;
    return true;
}

bool HuffCdic::decompress(const std::uint8_t* in, std::size_t size, std::size_t limit,
                          std::uint64_t max_steps, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (scratch_.empty() || entries_.empty())
        return false;
    limit_ = limit;
    steps_left_ = max_steps;
    return decode(in, size, 0, out);
}

bool HuffCdic::decode(const std::uint8_t* in, std::size_t size, int depth, std::vector<std::uint8_t>& out)
{
    if (depth > MAX_DEPTH)
        return false;
    const std::size_t total_bits = size * 8;
    // Expansions are kept up to four times the dictionary's size (real
    // entries expand to a few times their own), and 1 MiB.
    const std::size_t cache_limit = 4 * dictionary_.size() + (std::size_t(1) << 20);
    for (std::size_t bit = 0;;) {
        const std::uint32_t code = peek32(in, size, bit);
        const std::uint32_t t1 = table1_[code >> 24];
        std::uint32_t length = t1 & 0x1F;
        std::uint32_t maxcode;
        if (t1 & 0x80) {
            if (length == 0)
                return false;
            maxcode = (((t1 >> 8) + 1) << (32 - length)) - 1;
        } else {
            while (code < mincode_[length])
                if (++length > 32)
                    return false;
            if (length == 0)
                return false;
            maxcode = maxcode_[length];
        }
        if (total_bits - bit < length)
            return true;  // the padding at the end
        bit += length;
        if (steps_left_ == 0)
            return false;
        --steps_left_;
        ++total_steps_;

        const std::uint32_t index = (maxcode - code) >> (32 - length);
        if (index >= entries_.size())
            return false;
        const std::uint8_t* bytes;
        std::uint32_t n;
        bool literal;
        if (!entry_bytes(index, bytes, n, literal))
            return false;
        if (literal) {
            if (n > limit_ - out.size())
                return false;
            out.insert(out.end(), bytes, bytes + n);
            continue;
        }
        switch (state_[index]) {
        case Expansion::expanding:
            return false;  // the entry refers to itself
        case Expansion::unexpanded: {
            if (depth + 1 > MAX_DEPTH)
                return false;
            state_[index] = Expansion::expanding;
            std::vector<std::uint8_t>& expansion = scratch_[std::size_t(depth) + 1];
            expansion.clear();
            if (!decode(bytes, n, depth + 1, expansion) || expansion.size() > cache_limit - std::min(cache_limit, cache_.size()))
                return false;
            Entry& e = entries_[index];
            e.cached = std::uint32_t(cache_.size());
            e.cached_size = std::uint32_t(expansion.size());
            cache_.insert(cache_.end(), expansion.begin(), expansion.end());
            state_[index] = Expansion::expanded;
            break;
        }
        default:
            break;
        }
        const Entry& e = entries_[index];
        if (e.cached_size > limit_ - out.size())
            return false;
        out.insert(out.end(), cache_.begin() + e.cached, cache_.begin() + e.cached + e.cached_size);
    }
}
