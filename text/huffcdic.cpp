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

#include "book/big_endian.h"

namespace {

// 64 bits of in from byte at on, zeros past its end.
std::uint64_t fill64(const std::uint8_t* in, std::size_t size, std::size_t at)
{
    std::uint64_t window = 0;
    if (size >= 8 && at <= size - 8) {
        for (int k = 0; k < 8; ++k)
            window = window << 8 | in[at + k];
    } else {
        for (std::size_t k = 0; k < 8; ++k)
            window = window << 8 | (at < size && k < size - at ? in[at + k] : 0);
    }
    return window;
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
    // A prefix whose lowest and highest codes resolve to the same length,
    // no longer than the prefix, resolves every code that starts with it
    // the same way (each comparison with the lowest codes is monotonic),
    // and the index depends on the first length bits alone (the highest
    // codes end in ones).
    for (std::uint32_t prefix = 0; prefix < (1u << FAST_BITS); ++prefix) {
        const std::uint32_t low = prefix << (32 - FAST_BITS), high = low | ((1u << (32 - FAST_BITS)) - 1);
        std::uint32_t length_low, length_high, index;
        fast_[prefix] = Fast{};
        if (resolve(low, length_low, index) && resolve(high, length_high, index) && length_low == length_high &&
            length_low <= FAST_BITS)
            fast_[prefix] = Fast{length_low, index};
    }
    scratch_.resize(MAX_DEPTH + 2);
    return true;
}

bool HuffCdic::resolve(std::uint32_t code, std::uint32_t& length, std::uint32_t& index) const
{
    const std::uint32_t t1 = table1_[code >> 24];
    length = t1 & 0x1F;
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
    index = (maxcode - code) >> (32 - length);
    return true;
}

bool HuffCdic::add_cdic(const std::uint8_t* data, std::size_t size, std::size_t max_bytes)
{
    if (size < 16 || std::memcmp(data, "CDIC", 4) != 0 || get4(data + 4) != 16)
        return false;
    const std::uint32_t phrases = get4(data + 8);
    const std::uint32_t bits = get4(data + 12);
    if (phrases_ == 0) {
        if (phrases == 0 || bits == 0 || bits > 16)
            return false;
        phrases_ = phrases;
        code_bits_ = bits;
    } else if (phrases != phrases_ || bits != code_bits_) {
        return false;
    }
    const std::size_t count = std::min<std::size_t>(std::size_t(1) << code_bits_, phrases_ - entry_count_);
    // The dictionary never holds more than max_bytes, so the difference cannot wrap.
    if (count > (size - 16) / 2 || dictionary_bytes_ > max_bytes || size - 16 > max_bytes - dictionary_bytes_)
        return false;
    dictionary_bytes_ += size - 16;
    // Entries are checked when used: an entry past its record's end breaks
    // only the text that uses it. A record past the last entry is not kept.
    if (count != 0) {
        // COPY_SLACK zeros past the entries: an entry is copied 16 bytes at a time.
        records_.emplace_back(data + 16, data + size);
        records_.back().resize(records_.back().size() + COPY_SLACK);
    }
    entry_count_ += std::uint32_t(count);
    return true;
}

bool HuffCdic::entry(std::uint32_t index, Entry& e) const
{
    // Every record but the last holds 2^code_bits_ entries, and its offsets
    // fit in it (add_cdic checked).
    const std::vector<std::uint8_t>& record = records_[index >> code_bits_];
    const std::size_t bytes = record.size() - COPY_SLACK;
    const std::size_t at = get2(record.data() + 2 * (index & ((std::uint32_t(1) << code_bits_) - 1)));
    if (at + 2 > bytes)
        return false;
    const std::uint16_t field = get2(record.data() + at);
    e.size = field & 0x7FFFu;
    if (e.size > bytes - at - 2)
        return false;
    e.bytes = record.data() + at + 2;
    e.literal = (field & 0x8000) != 0;
    return true;
}

void HuffCdic::keep(std::uint32_t index, const std::uint8_t* bytes, std::size_t size)
{
    if (index >= kept_.size() || size + 4 > cache_.size() - COPY_SLACK - cache_used_)
        return;
    kept_[index] = std::uint32_t(cache_used_) + 1;
    const std::uint32_t size32 = std::uint32_t(size);
    std::memcpy(cache_.data() + cache_used_, &size32, 4);
    if (size != 0)
        std::memcpy(cache_.data() + cache_used_ + 4, bytes, size);
    cache_used_ += 4 + size;
}

bool HuffCdic::decompress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t limit,
                          WorkBudget& work, std::size_t& produced)
{
    produced = 0;
    if (scratch_.empty() || entry_count_ == 0)
        return false;
    // Expansions are kept up to four times the dictionary's size (real
    // entries expand to a few times their own) and 1 MiB, within MAX_CACHE;
    // reserved once, so that bytes kept never move.
    if (cache_.empty()) {
        cache_.resize(std::min(MAX_CACHE, 4 * dictionary_bytes_ + (std::size_t(1) << 20)) + COPY_SLACK);
        kept_.assign(std::min<std::size_t>(entry_count_, MAX_KEPT_INDEX), 0);
    }
    limit_ = limit;
    // Counted here, charged once at the end; running out spends the budget.
    const std::uint64_t units = work.left();
    units_left_ = units;
    const bool ok = decode(in, size, 0, out, produced);
    const bool charged = work.charge(units - units_left_);
    if (!ok && units_left_ == 0)
        work.charge(1);
    return ok && charged;
}

bool HuffCdic::decode(const std::uint8_t* in, std::size_t size, int depth, std::uint8_t* out,
                      std::size_t& produced)
{
    // The code is the 32 bits from bit 64 - window_bits of window on; the
    // window moves on by 4 bytes once 32 bits are used.
    std::uint64_t window = fill64(in, size, 0);
    int window_bits = 32;
    std::size_t next = 4;
    std::uint64_t bits_left = std::uint64_t(size) * 8;
    for (;;) {
        if (window_bits <= 0) {
            window_bits += 32;
            window = fill64(in, size, next);
            next += 4;
        }
        const std::uint32_t code = std::uint32_t(window >> window_bits);
        const Fast fast = fast_[code >> (32 - FAST_BITS)];
        std::uint32_t length = fast.length, index = fast.index;
        // The code lengths tried where the fast table does not say.
        if (length == 0) {
            if (units_left_ < 33)
                return units_left_ = 0, false;
            units_left_ -= 32;
            if (!resolve(code, length, index))
                return false;
            units_left_ += 32 - length;
        }
        if (bits_left < length)
            return true;  // the padding at the end
        bits_left -= length;
        window_bits -= int(length);
        if (units_left_ == 0)
            return false;
        --units_left_;
        ++total_steps_;

        const std::uint8_t* bytes;
        std::size_t got;
        Entry e;
        if (index < kept_.size() && kept_[index] != 0) {
            if (depth + 1 > MAX_DEPTH)
                return false;  // as deep as expanding it would be
            const std::uint8_t* const kept = cache_.data() + (kept_[index] - 1);
            std::uint32_t size32;
            std::memcpy(&size32, kept, 4);
            bytes = kept + 4;
            got = size32;
        } else if (index >= entry_count_ || !entry(index, e)) {
            return false;  // no such entry, or one past its record
        } else if (e.literal || e.size == 0) {
            // An empty entry expands to nothing, compressed or not.
            bytes = e.bytes;
            got = e.literal ? e.size : 0;
        } else {
            if (depth + 1 > MAX_DEPTH)
                return false;
            for (int d = 0; d < depth; ++d)
                if (expanding_[d] == index)
                    return false;  // a cycle
            expanding_[depth] = index;
            std::vector<std::uint8_t>& expansion = scratch_[std::size_t(depth) + 1];
            if (expansion.size() < limit_ + COPY_SLACK)
                expansion.resize(limit_ + COPY_SLACK);
            got = 0;
            if (!decode(e.bytes, e.size, depth + 1, expansion.data(), got))
                return false;
            keep(index, expansion.data(), got);
            bytes = expansion.data();
        }
        if (got > limit_ - produced)
            return false;
        if (got != 0) {
            if (units_left_ < got)
                return units_left_ = 0, false;
            units_left_ -= got;
            // Most entries are a few bytes: copied as 16 (every source and
            // output has COPY_SLACK bytes to spare).
            std::memcpy(out + produced, bytes, got <= COPY_SLACK ? COPY_SLACK : got);
        }
        produced += got;
    }
}
