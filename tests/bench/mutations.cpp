#include "tests/bench/mutations.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "book/big_endian.h"
#include "book/container.h"
#include "tests/bench/bench_support.h"

namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    Random(std::uint64_t seed, std::uint64_t index) : state_(seed * 0x9E3779B97F4A7C15ull ^ (index + 1) * 0xBF58476D1CE4E5B9ull) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint64_t n) { return n == 0 ? 0 : std::uint32_t(next() % n); }
    std::uint32_t u32() { return std::uint32_t(next()); }
    bool chance(unsigned percent) { return below(100) < percent; }
    // One of the values, or (one time in five) a random one.
    std::uint32_t pick(std::initializer_list<std::uint32_t> values)
    {
        if (below(5) == 0)
            return u32();
        return *(values.begin() + below(values.size()));
    }

private:
    std::uint64_t state_;
};

using bench::MemoryReader;
using bench::Quiet;

// Where things are in the book being mutated. Read afresh before each
// mutation from the current bytes, every read bounded by their size.
struct Layout {
    const Bytes& b;
    explicit Layout(const Bytes& bytes) : b(bytes) {}

    bool has(std::uint64_t at, std::uint64_t n) const { return at + n <= b.size(); }
    std::uint32_t u16(std::uint64_t at) const { return has(at, 2) ? get2(&b[at]) : 0; }
    std::uint32_t u32(std::uint64_t at) const { return has(at, 4) ? get4(&b[at]) : 0; }

    std::uint32_t count() const { return u16(76); }
    std::uint64_t entry(std::uint32_t i) const { return 78 + 8ull * i; }
    std::uint32_t start(std::uint32_t i) const { return i < count() ? u32(entry(i)) : std::uint32_t(b.size()); }
    std::uint64_t r0() const { return start(0); }
    std::uint64_t r0_size() const { return std::uint64_t(start(1)) - start(0); }
    std::uint64_t exth() const { return r0() + 16 + u32(r0() + 20); }
    bool has_exth() const { return has(exth(), 12) && std::memcmp(&b[exth()], "EXTH", 4) == 0; }
    // Positions of the EXTH records that fit in the block.
    std::vector<std::uint64_t> exth_records() const
    {
        std::vector<std::uint64_t> at;
        if (!has_exth())
            return at;
        const std::uint64_t end = exth() + u32(exth() + 4);
        std::uint64_t p = exth() + 12;
        for (std::uint32_t n = u32(exth() + 8); n != 0 && p + 8 <= end && has(p, 8) && at.size() < 1000; --n) {
            at.push_back(p);
            const std::uint32_t length = u32(p + 4);
            if (length < 8)
                break;
            p += length;
        }
        return at;
    }
};

void put4(Bytes& b, std::uint64_t at, std::uint32_t v)
{
    for (int i = 0; i < 4 && at + i < b.size(); ++i)
        b[at + i] = std::uint8_t(v >> (24 - 8 * i));
}

void put2(Bytes& b, std::uint64_t at, std::uint32_t v)
{
    if (at + 1 < b.size())
        b[at] = std::uint8_t(v >> 8), b[at + 1] = std::uint8_t(v);
}

void flip_bits(Bytes& b, Random& r, std::uint64_t from, std::uint64_t to, unsigned flips)
{
    if (to > b.size())
        to = b.size();
    for (unsigned i = 0; i < flips && from < to; ++i)
        b[from + r.below(to - from)] ^= std::uint8_t(1u << r.below(8));
}

const char* mutate_once(Bytes& b, Random& r)
{
    const Layout l(b);
    const std::uint32_t n = l.count();
    switch (r.below(10)) {
    case 0: {  // bit flips, half of the time in the headers and record 0
        const std::uint64_t headers = std::min<std::uint64_t>(b.size(), l.r0() + l.r0_size());
        flip_bits(b, r, 0, r.chance(50) ? headers : b.size(), 1 + r.below(16));
        return "bit_flips";
    }
    case 1: {  // truncation, anywhere or close to a record boundary
        std::uint64_t size = r.below(b.size() + 1);
        if (r.chance(50) && n > 0) {
            const std::int64_t near = std::int64_t(l.start(r.below(n + 1))) + std::int64_t(r.below(17)) - 8;
            size = std::uint64_t(std::max<std::int64_t>(0, near));
        }
        if (size < b.size())
            b.resize(size);
        return "truncation";
    }
    case 2: {  // one record's start
        if (n == 0)
            return "record_offset";
        const std::uint32_t i = r.below(n);
        const std::uint32_t s = l.start(i), size = std::uint32_t(b.size());
        const std::uint32_t delta = 1 + r.below(16);
        put4(b, l.entry(i), r.pick({0, 1, 77, std::uint32_t(78 + 8 * n - 1), l.start(i ? i - 1 : 0), l.start(i + 1),
                                    s + delta, s - delta, size, size - 1, size + 1, 0x7FFFFFFF, 0xFFFFFFFF}));
        return "record_offset";
    }
    case 3:  // the record count
        put2(b, 76, r.pick({0, 1, 2, 3, n - 1, n + 1, n + 8, 0xFFFF}) & 0xFFFF);
        return "record_count";
    case 4: {  // header lengths: MOBI header, EXTH block, title span
        const std::uint32_t rs = std::uint32_t(l.r0_size());
        const std::uint32_t mhl = l.u32(l.r0() + 20);
        const std::uint32_t d = r.below(9);
        switch (r.below(4)) {
        case 0:
            put4(b, l.r0() + 20, r.pick({0, 127, 128, 232, rs - 16, rs - 15, rs, mhl + d, mhl - d, 0xFFFFFFFF}));
            break;
        case 1:
            if (l.has_exth()) {
                const std::uint32_t len = l.u32(l.exth() + 4), room = std::uint32_t(l.r0() + rs - l.exth());
                put4(b, l.exth() + 4, r.pick({0, 7, 8, 12, len + d, len - d, room, room + 1, 0xFFFFFFFF}));
            }
            break;
        case 2:
            put4(b, l.r0() + 84, r.pick({0, mhl + 15, mhl + 16, rs - 1, rs, rs + 1, 0xFFFFFFFF}));
            break;
        default:
            put4(b, l.r0() + 88, r.pick({0, 1, rs, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFF0}));
            break;
        }
        return "header_length";
    }
    case 5: {  // EXTH record count, one record's length or type
        if (!l.has_exth())
            return "exth";
        const std::vector<std::uint64_t> records = l.exth_records();
        const std::uint32_t c = l.u32(l.exth() + 8);
        if (records.empty() || r.chance(30)) {
            put4(b, l.exth() + 8, r.pick({0, c - 1, c + 1, c + 100, 0x7FFFFFFF, 0xFFFFFFFF}));
        } else {
            const std::uint64_t p = records[r.below(records.size())];
            const std::uint32_t len = l.u32(p + 4);
            if (r.chance(70))
                put4(b, p + 4, r.pick({0, 1, 7, 8, 9, 11, 12, 13, len - 1, len + 1, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFF8}));
            else
                put4(b, p, r.pick({100, 101, 106, 108, 115, 201, 202, 501}));
        }
        return "exth";
    }
    case 6: {  // image indexes
        const std::uint32_t base = l.u32(l.r0() + 108);
        switch (r.below(3)) {
        case 0:
            put4(b, l.r0() + 108, r.pick({0, 1, n - 1, n, n + 1, 0xFFFFFFFE, 0xFFFFFFFF}));
            break;
        case 1:
            for (std::uint64_t p : l.exth_records()) {
                const std::uint32_t type = l.u32(p);
                if ((type == 201 || type == 202) && r.chance(70))
                    put4(b, p + 8, r.pick({0, 1, n - base - 1, n - base, n, 0x7FFFFFFF, 0xFFFFFFFF, 0u - base}));
            }
            break;
        default:
            put4(b, l.r0() + 80, r.pick({0, 1, n - 2, n - 1, n, 0xFFFFFFFF}));
            break;
        }
        return "image_index";
    }
    case 7: {  // the SRCS record: planted, spoilt or cut short
        if (n == 0)
            return "srcs";
        std::uint32_t at = 0;
        for (std::uint32_t i = 1; i < n; ++i)
            if (l.has(l.start(i), 4) && std::memcmp(&b[l.start(i)], "SRCS", 4) == 0)
                at = i;
        const unsigned what = r.below(4);
        if (what == 0 || at == 0) {
            const std::uint32_t i = r.chance(30) ? n - 1 : r.below(n);
            const std::uint8_t head[20] = {'S', 'R', 'C', 'S', 0, 0, 0, 0x10, 0, 0, 0, 0x2F, 0, 0, 0, 1, 0x50, 0x4B, 3, 4};
            for (unsigned k = 0; k < 20 && l.has(l.start(i) + k, 1); ++k)
                b[l.start(i) + k] = head[k];
            if (r.chance(50))
                put4(b, l.r0() + 80, r.pick({0, 1, i, i + 1}));
        } else if (what == 1) {
            flip_bits(b, r, l.start(at), l.start(at) + 20, 1);
        } else if (what == 2) {
            put4(b, l.entry(at + 1), l.start(at) + r.below(24));  // record cut short
        } else {
            put4(b, l.entry(at), l.start(at + 1) - r.below(24));
        }
        return "srcs";
    }
    case 8: {  // text fields: code page, locale, dates, EXTH texts
        switch (r.below(4)) {
        case 0:
            put4(b, l.r0() + 28, r.pick({0, 1, 42, 1200, 1201, 12000, 65000, 65001, 1252, 932, 936, 50220, 54936, 0xFFFFFFFF}));
            break;
        case 1:
            put4(b, l.r0() + 92, r.pick({0, 1, 0x7F, 0x400, 0x800, 0xFFFF, 0x10409, 0x7FFFFFFF, 0xFFFFFFFF}));
            break;
        case 2:
            put4(b, 36, r.pick({0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF}));
            break;
        default:
            for (std::uint64_t p : l.exth_records()) {
                const std::uint32_t type = l.u32(p), len = l.u32(p + 4);
                if ((type == 100 || type == 101 || type == 106 || type == 108) && len > 8 && r.chance(60))
                    for (std::uint64_t k = p + 8; k < p + len && k < b.size(); ++k)
                        b[k] = r.chance(50) ? std::uint8_t("0123456789-T:+Z "[r.below(16)]) : std::uint8_t(r.u32());
            }
            break;
        }
        return "text_fields";
    }
    default: {  // the cover image's bytes
        Quiet quiet;
        MemoryReader reader(b);
        ContainerInfo info;
        if (analyze_container(reader, false, quiet, info) != BOOK_OK || info.cover_size == 0)
            return "image_bytes";
        const std::uint64_t from = info.cover_offset, to = from + info.cover_size;
        switch (r.below(3)) {
        case 0:
            flip_bits(b, r, from, to, 1 + r.below(32));
            break;
        case 1: {  // a run of random bytes
            const std::uint64_t at = from + r.below(info.cover_size), length = 1 + r.below(256);
            for (std::uint64_t k = at; k < at + length && k < to; ++k)
                b[k] = std::uint8_t(r.u32());
            break;
        }
        default: {  // the record cut short
            for (std::uint32_t i = 1; i < n; ++i)
                if (l.start(i) == info.cover_offset && i + 1 < n)
                    put4(b, l.entry(i + 1), info.cover_offset + r.below(info.cover_size));
            break;
        }
        }
        return "image_bytes";
    }
    }
}

}  // namespace

MutatedBook mutate(const Bytes& seed_book, std::uint64_t run_seed, std::uint64_t index)
{
    Random r(run_seed, index);
    MutatedBook book{{}, seed_book};
    book.kinds = mutate_once(book.bytes, r);
    if (r.chance(25)) {
        book.kinds += "+";
        book.kinds += mutate_once(book.bytes, r);
    }
    return book;
}
