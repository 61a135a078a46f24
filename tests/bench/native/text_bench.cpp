// Text benchmark, native, one process: our plain text of a large built book
// (the text reader: records read through a ByteReader from memory,
// decompressed, stripped of markup, converted to UTF-16) against libmobi's
// mobi_get_rawml on the same bytes loaded from memory (decompression alone:
// its load, which reads every record, is done once before the timing). The
// two are timed in alternating rounds; each side's time is the median over
// the rounds (the thread's CPU time), and the ratio is libmobi's time over
// ours. Then the peak heap
// of the text reader (every operator new of this program counted) while
// reading a 50 MB built book, over the same while reading a 1 MB one; and
// its peak heap reading a crafted HUFF/CDIC book of 16 MB whose CDIC
// records are nothing but entry offsets (goal: at most 32 MiB); and the
// time of a crafted book whose records expand, at every use, an entry that
// is not kept, over an ordinary HUFF/CDIC book's of its size (goal: at most
// 3). Last, the family of crafted books of about 1 MB (one per loop of the
// reader, tests/support/crafted_books.h): the worst, over them, of the full
// text's and the preview's opening's time per byte of the file, over an
// ordinary PalmDOC book's full text time per byte (goal: at most 4).
//
// Output, last, the key=value lines:
//   text_speedup_vs_libmobi_palmdoc=<ratio>
//   text_speedup_vs_libmobi_huffcdic=<ratio>
//   text_peak_heap_ratio=<ratio>
//   text_crafted_huffcdic_peak_heap_mib=<MiB>
//   text_crafted_repeated_entry_time_ratio=<ratio>
//   text_crafted_worst_per_byte_ratio=<ratio>
#include <malloc.h>
#include <mobi.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "text/reading_start.h"
#include "text/text_reader.h"
#include "tests/bench/bench_support.h"
#include "tests/support/crafted_books.h"
#include "tests/support/mobi_builder.h"

namespace {

std::size_t heap_now = 0;
std::size_t heap_peak = 0;

}  // namespace

void* operator new(std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    heap_now += malloc_usable_size(p);
    heap_peak = std::max(heap_peak, heap_now);
    return p;
}

void operator delete(void* p) noexcept
{
    if (p)
        heap_now -= malloc_usable_size(p);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using bench::Bytes;

Bytes build_book(std::uint16_t compression, const Bytes& markup)
{
    mobi_test::MobiBuilder b;
    b.compression = compression;
    b.title = "A Large Book";
    b.add_book_text(markup, {4096, true, 1});
    return b.build().bytes;
}

// About 16 MB: 200 CDIC records of 32,768 two-byte entry offsets and
// nothing else (each entry an empty compressed one, 6.5 million in all), a
// HUFF record whose codes are 23 bits, the code c naming entry 2^23 - 1 - c,
// and 40 text records of the most codes a record may hold (81,920 bytes),
// each code naming another entry.
Bytes crafted_huffcdic_book()
{
    constexpr std::uint32_t BITS = 15, CDIC_RECORDS = 200, TEXT_RECORDS = 40, TEXT_BYTES = 81920;
    mobi_test::MobiBuilder b;
    b.compression = 17480;
    b.text_length = 100000000;
    b.text_records = TEXT_RECORDS;
    std::uint32_t entry = 0;
    for (std::uint32_t r = 0; r < TEXT_RECORDS; ++r) {
        std::vector<std::uint32_t> entries(TEXT_BYTES * 8 / 23);
        for (std::uint32_t& e : entries)
            e = entry++;
        b.add_record(mobi_test::fixed_length_codes(23, entries));
    }
    b.huff_record = TEXT_RECORDS + 1;
    b.huff_count = 1 + CDIC_RECORDS;
    b.add_record(mobi_test::fixed_length_huff(23));
    Bytes cdic(16 + (2u << BITS), 0);
    std::memcpy(cdic.data(), "CDIC", 4);
    cdic[7] = 16;
    const std::uint32_t phrases = CDIC_RECORDS << BITS;
    for (int k = 0; k < 4; ++k)
        cdic[8 + std::size_t(k)] = std::uint8_t(phrases >> (24 - 8 * k));
    cdic[15] = BITS;
    for (std::uint32_t r = 0; r < CDIC_RECORDS; ++r)
        b.add_record(cdic);
    return b.build().bytes;
}

// Our side: the whole text, piece by piece; the characters given, 0 when
// the text did not end complete (unless any end will do).
std::size_t our_text(const Bytes& book, bool any_end = false)
{
    bench::MemoryReader reader(book);
    TextReader text(reader);
    std::size_t characters = 0;
    if (text.open() != BOOK_OK)
        return 0;
    std::u16string piece;
    while (text.end() == TextEnd::none && text.next(piece) == BOOK_OK)
        characters += piece.size();
    return text.end() == TextEnd::complete || any_end ? characters : 0;
}

// The preview's opening: where reading starts, then 12,000 characters from there.
std::size_t preview_opening(const Bytes& book)
{
    bench::MemoryReader reader(book);
    TextReader text(reader);
    if (text.open() != BOOK_OK)
        return 0;
    std::uint64_t start = 0;
    if (find_reading_start(text, start) < 0 || !text.start_at(start))
        text.start_at(0);
    std::size_t characters = 0;
    std::u16string piece;
    while (characters < 12000 && text.end() == TextEnd::none && text.next(piece) == BOOK_OK)
        characters += piece.size();
    return characters;
}

struct Peer {
    MOBIData* m = nullptr;
    std::vector<char> buffer;
    bool loaded = false;
    explicit Peer(Bytes& book)
    {
        m = mobi_init();
        FILE* file = fmemopen(book.data(), book.size(), "rb");
        loaded = m && file && mobi_load_file(m, file) == MOBI_SUCCESS;
        if (file)
            std::fclose(file);
        if (loaded)
            buffer.resize(mobi_get_text_maxsize(m) + 1);
    }
    ~Peer() { mobi_free(m); }
    // The decompressed markup's size.
    std::size_t rawml()
    {
        std::size_t length = buffer.size();
        return mobi_get_rawml(m, buffer.data(), &length) == MOBI_SUCCESS ? length : 0;
    }
};

// CPU time of this thread: the machine is shared, and time spent waiting
// for a core is neither side's.
double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

template <class Run>
double seconds(Run run)
{
    const double start = cpu_seconds();
    run();
    return cpu_seconds() - start;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double speedup(const char* name, Bytes book)
{
    Peer peer(book);
    const std::size_t ours = our_text(book);
    const std::size_t theirs = peer.loaded ? peer.rawml() : 0;
    if (ours == 0 || theirs == 0) {
        std::fprintf(stderr, "%s: a side read no text (ours %zu, libmobi %zu)\n", name, ours, theirs);
        std::exit(1);
    }
    std::vector<double> our_times, peer_times;
    for (int round = 0; round < 9; ++round) {
        our_times.push_back(seconds([&] { our_text(book); }));
        peer_times.push_back(seconds([&] { peer.rawml(); }));
    }
    const double ratio = median(peer_times) / median(our_times);
    std::printf("text %-8s %9zu bytes, %9zu bytes of markup: ours %8.2f ms (%zu characters), "
                "libmobi rawml %8.2f ms, speedup %.2f\n",
                name, book.size(), theirs, median(our_times) * 1e3, ours, median(peer_times) * 1e3, ratio);
    return ratio;
}

// Peak heap of one reading of book, over what was in use before it.
std::size_t peak_heap(const Bytes& book)
{
    const std::size_t before = heap_now;
    heap_peak = heap_now;
    our_text(book);
    return heap_peak - before;
}

}  // namespace

int main()
{
    const Bytes markup = mobi_test::ordinary_markup(12u << 20);
    const double palmdoc = speedup("palmdoc", build_book(2, markup));
    const double huffcdic = speedup("huffcdic", build_book(17480, markup));

    std::size_t peaks[2];
    std::size_t sizes[2];
    const std::size_t targets[2] = {1u << 20, 50u << 20};
    for (int i = 0; i < 2; ++i) {
        // PalmDOC stores the markup in about two fifths of its size.
        const Bytes book = build_book(2, mobi_test::ordinary_markup(targets[i] * 5 / 2));
        sizes[i] = book.size();
        peaks[i] = peak_heap(book);
    }
    std::printf("text peak heap: %zu bytes reading a %zu-byte book, %zu bytes reading a %zu-byte book\n",
                peaks[0], sizes[0], peaks[1], sizes[1]);
    const Bytes crafted = crafted_huffcdic_book();
    const std::size_t crafted_peak = peak_heap(crafted);
    std::printf("text peak heap: %zu bytes (%.1f MiB, goal at most 32 MiB) reading a crafted %zu-byte HUFF/CDIC "
                "book whose CDIC records are entry offsets alone\n",
                crafted_peak, double(crafted_peak) / 1048576, crafted.size());
    // The work bound: a crafted book whose every record expands an entry
    // that is not kept, against an ordinary HUFF/CDIC book of its size.
    const Bytes repeated = mobi_test::repeated_entry_book(5000);
    const Bytes ordinary = build_book(17480, mobi_test::ordinary_markup(repeated.size() * 21 / 4));
    std::vector<double> repeated_times, ordinary_times;
    for (int round = 0; round < 5; ++round) {
        repeated_times.push_back(seconds([&] { our_text(repeated, true); }));
        ordinary_times.push_back(seconds([&] { our_text(ordinary); }));
    }
    const double repeated_ratio = median(repeated_times) / median(ordinary_times);
    std::printf("text crafted HUFF/CDIC book of an entry expanded at every use, %zu bytes: %.2f ms; an ordinary "
                "HUFF/CDIC book of %zu bytes: %.2f ms; %.2f times (goal at most 3)\n",
                repeated.size(), median(repeated_times) * 1e3, ordinary.size(), median(ordinary_times) * 1e3,
                repeated_ratio);
    // The crafted family against an ordinary PalmDOC book, per byte of the file.
    const Bytes plain = build_book(2, mobi_test::ordinary_markup(5u << 19));
    std::vector<double> plain_times;
    for (int round = 0; round < 5; ++round)
        plain_times.push_back(seconds([&] { our_text(plain); }));
    const double plain_per_byte = median(plain_times) / double(plain.size());
    std::printf("text ordinary PalmDOC book of %zu bytes: %.2f ms\n", plain.size(), median(plain_times) * 1e3);
    double worst = 0;
    for (const mobi_test::CraftedBook& c : mobi_test::crafted_books(1u << 20)) {
        std::vector<double> text_times, preview_times;
        for (int round = 0; round < 3; ++round) {
            text_times.push_back(seconds([&] { our_text(c.bytes, true); }));
            preview_times.push_back(seconds([&] { preview_opening(c.bytes); }));
        }
        const double size = double(c.bytes.size());
        const double text_ratio = median(text_times) / size / plain_per_byte;
        const double preview_ratio = median(preview_times) / size / plain_per_byte;
        worst = std::max({worst, text_ratio, preview_ratio});
        std::printf("text crafted %-42s %8zu bytes: text %7.2f ms (%.2f), preview %7.2f ms (%.2f)\n", c.name,
                    c.bytes.size(), median(text_times) * 1e3, text_ratio, median(preview_times) * 1e3, preview_ratio);
    }
    std::printf("text_speedup_vs_libmobi_palmdoc=%.2f\n", palmdoc);
    std::printf("text_speedup_vs_libmobi_huffcdic=%.2f\n", huffcdic);
    std::printf("text_peak_heap_ratio=%.3f\n", double(peaks[1]) / double(peaks[0]));
    std::printf("text_crafted_huffcdic_peak_heap_mib=%.1f\n", double(crafted_peak) / 1048576);
    std::printf("text_crafted_repeated_entry_time_ratio=%.2f\n", repeated_ratio);
    std::printf("text_crafted_worst_per_byte_ratio=%.2f\n", worst);
    return 0;
}
