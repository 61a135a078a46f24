// Metadata benchmark, native, one process: our container analysis plus the
// text conversions of the metadata, against libmobi loading the same bytes
// and reading title, author and cover offset. Both read from memory through
// a reader that counts the bytes it delivers (for libmobi a stdio stream
// over memory; its byte count comes from an unbuffered pass, so it is what
// libmobi itself asks for, and its timing from a buffered one, as with a
// file on disk). The two are timed in alternating rounds; each side's time is the
// median over the rounds, and the ratio is libmobi's time over ours.
//
// Books: the fixture books, and a large book built here (1,300 text records
// of 4 KiB, a cover, a thumbnail, a source archive and the usual trailing
// records) that is never written to disk.
//
// Output, one line per book, then (last) the two key=value lines of the
// large book:
//   metadata_speedup_vs_libmobi=<ratio>
//   metadata_bytes_read_percent=<percent>
#include <mobi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "book/container.h"
#include "tests/support/mobi_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// ---- our side -------------------------------------------------------------

class CountingReader final : public ByteReader {
public:
    CountingReader(const Bytes& bytes) : bytes_(bytes) {}
    std::uint64_t delivered = 0;

    book_status size(std::uint64_t& bytes) override
    {
        bytes = bytes_.size();
        return BOOK_OK;
    }
    book_status seek(std::uint32_t offset) override
    {
        position_ = offset;
        return BOOK_OK;
    }
    book_status read(std::uint8_t* buffer, std::uint32_t count) override
    {
        if (position_ > bytes_.size() || count > bytes_.size() - position_)
            return BOOK_E_FAIL;
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        delivered += count;
        return BOOK_OK;
    }

private:
    const Bytes& bytes_;
    std::uint64_t position_ = 0;
};

struct Quiet final : AnalysisObserver {
    void not_a_mobi(int, const char*) override {}
    void step_failed(const char*, int, book_status) override {}
};

// The module converts with MultiByteToWideChar; natively the two code pages
// books use are converted here the same way (UTF-8 with U+FFFD for bad
// sequences, Windows-1252 by table), other code pages as Latin-1.
const char16_t CP1252_HIGH[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::u16string decode(const std::uint8_t* p, std::uint32_t n, std::uint32_t code_page)
{
    std::u16string text;
    text.reserve(n);
    if (code_page != 65001) {
        for (std::uint32_t i = 0; i < n; ++i)
            text.push_back(code_page == 1252 && p[i] >= 0x80 && p[i] < 0xA0 ? CP1252_HIGH[p[i] - 0x80]
                                                                            : char16_t(p[i]));
        return text;
    }
    for (std::uint32_t i = 0; i < n;) {
        const std::uint8_t c = p[i];
        const int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        std::uint32_t code = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
        bool ok = extra >= 0 && i + std::uint32_t(extra) < n;
        for (int k = 1; ok && k <= extra; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            code = code << 6 | (p[i + k] & 0x3F);
        }
        if (!ok) {
            text.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += std::uint32_t(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            text.push_back(char16_t(0xD800 + (code >> 10)));
            text.push_back(char16_t(0xDC00 + (code & 0x3FF)));
        } else {
            text.push_back(char16_t(code));
        }
    }
    return text;
}

struct OurResult {
    book_status status = 0;
    std::u16string title, creator, publisher;
    std::uint32_t cover_offset = 0;
    std::uint64_t bytes_read = 0;
};

OurResult run_ours(const Bytes& file)
{
    OurResult r;
    CountingReader reader(file);
    Quiet quiet;
    ContainerInfo info;
    r.status = analyze_container(reader, false, quiet, info);
    r.bytes_read = reader.delivered;
    if (r.status != BOOK_OK)
        return r;
    auto text = [&](const ByteSpan& s) { return decode(info.record0.data() + s.offset, s.size, info.text_encoding); };
    r.title = text(info.title);
    std::vector<std::u16string> names;
    for (const ByteSpan& s : info.authors)
        names.push_back(text(s));
    for (const ByteSpan& s : info.contributors)
        names.push_back(text(s));
    for (std::size_t i = 0; i < names.size(); ++i)
        r.creator += (i ? u"; " : u"") + names[i];
    if (info.has_publisher)
        r.publisher = text(info.publisher);
    r.cover_offset = info.cover_offset;
    return r;
}

// ---- libmobi's side -------------------------------------------------------

struct MemoryFile {
    const Bytes* bytes;
    std::uint64_t position = 0;
    std::uint64_t delivered = 0;
};

ssize_t memory_read(void* cookie, char* buffer, size_t size)
{
    auto* f = static_cast<MemoryFile*>(cookie);
    const std::uint64_t left = f->position < f->bytes->size() ? f->bytes->size() - f->position : 0;
    const size_t n = size_t(std::min<std::uint64_t>(left, size));
    std::memcpy(buffer, f->bytes->data() + f->position, n);
    f->position += n;
    f->delivered += n;
    return ssize_t(n);
}

int memory_seek(void* cookie, off64_t* offset, int whence)
{
    auto* f = static_cast<MemoryFile*>(cookie);
    const std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? std::int64_t(f->position)
                                                                           : std::int64_t(f->bytes->size());
    if (base + *offset < 0)
        return -1;
    f->position = std::uint64_t(base + *offset);
    *offset = off64_t(f->position);
    return 0;
}

struct PeerResult {
    bool loaded = false;
    std::string title, author;
    std::uint32_t cover_offset = 0;
    std::uint64_t bytes_read = 0;
};

// With unbuffered, the stream passes each of libmobi's reads through as
// asked, so the count is what libmobi reads; buffered (as a FILE on disk),
// refills after its seeks deliver more.
PeerResult run_libmobi(const Bytes& file, bool unbuffered = false)
{
    PeerResult r;
    MemoryFile memory{&file};
    cookie_io_functions_t functions = {memory_read, nullptr, memory_seek, nullptr};
    FILE* stream = fopencookie(&memory, "rb", functions);
    if (stream && unbuffered)
        setvbuf(stream, nullptr, _IONBF, 0);
    MOBIData* m = mobi_init();
    if (stream && m && mobi_load_file(m, stream) == MOBI_SUCCESS) {
        r.loaded = true;
        if (char* title = mobi_meta_get_title(m)) {
            r.title = title;
            std::free(title);
        }
        if (char* author = mobi_meta_get_author(m)) {
            r.author = author;
            std::free(author);
        }
        if (MOBIExthHeader* exth = mobi_get_exthrecord_by_tag(m, EXTH_COVEROFFSET)) {
            const std::uint32_t index = mobi_decode_exthvalue(static_cast<unsigned char*>(exth->data), exth->size);
            const size_t first = mobi_get_first_resource_record(m);
            if (first != MOBI_NOTSET)
                if (const MOBIPdbRecord* record = mobi_get_record_by_seqnumber(m, first + index))
                    r.cover_offset = record->offset;
        }
    }
    if (m)
        mobi_free(m);
    if (stream)
        std::fclose(stream);
    r.bytes_read = memory.delivered;
    return r;
}

// ---- timing ---------------------------------------------------------------

template <class Run>
double seconds_per_call(Run run, int calls)
{
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < calls; ++i)
        run();
    return std::chrono::duration<double>(Clock::now() - start).count() / calls;
}

// Calls per round so that one round of run takes about budget seconds.
template <class Run>
int calls_for(Run run, double budget)
{
    const double once = std::max(seconds_per_call(run, 3), 1e-8);
    return std::max(3, int(budget / once));
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// ---- books ----------------------------------------------------------------

Bytes read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes record_of(const Bytes& file, std::uint32_t offset, std::uint32_t size)
{
    return Bytes(file.begin() + offset, file.begin() + offset + size);
}

// A large book laid out the way converters write one: 1,300 text records of 4 KiB,
// the cover and thumbnail images of a fixture book, a source archive of
// 256 KiB, then FLIS, FCIS and the end-of-file record.
Bytes large_book(const Bytes& donor)
{
    using namespace mobi_test;
    CountingReader reader(donor);
    Quiet quiet;
    ContainerInfo info;
    ContainerInfo thumb;
    if (analyze_container(reader, false, quiet, info) != BOOK_OK ||
        analyze_container(reader, true, quiet, thumb) != BOOK_OK || info.cover_size == 0)
        return {};

    MobiBuilder b;
    b.title = "A Large Book of Many Records";
    b.exth(100, "First Author").exth(100, "Second Author").exth(108, "A Contributor");
    b.exth(101, "Publisher").exth(106, "2010-05-03T00:00:00+00:00").exth(501, "EBOK");
    b.exth_u32(201, 0).exth_u32(202, 1);
    for (int i = 0; i < 1300; ++i)
        b.add_text(4096);
    b.add_image(record_of(donor, info.cover_offset, info.cover_size));
    b.add_image(record_of(donor, thumb.cover_offset, thumb.cover_size));
    b.add_srcs(zip_bytes(256 * 1024));
    Bytes flis = bytes_of("FLIS"), fcis = bytes_of("FCIS");
    flis.resize(36);
    fcis.resize(44);
    b.add_record(flis);
    b.add_record(fcis);
    b.add_record({0xE9, 0x8E, 0x0D, 0x0A});
    return b.build().bytes;
}

struct Figures {
    double ratio = 0;
    double percent = 0;
};

Figures measure(const std::string& name, const Bytes& file)
{
    const OurResult ours = run_ours(file);
    const PeerResult peer = run_libmobi(file, true);
    const double ratio_budget = 0.1;
    const int our_calls = calls_for([&] { run_ours(file); }, ratio_budget);
    const int peer_calls = calls_for([&] { run_libmobi(file); }, ratio_budget);
    std::vector<double> our_times, peer_times;
    for (int round = 0; round < 5; ++round) {
        our_times.push_back(seconds_per_call([&] { run_ours(file); }, our_calls));
        peer_times.push_back(seconds_per_call([&] { run_libmobi(file); }, peer_calls));
    }
    Figures f;
    f.ratio = median(peer_times) / median(our_times);
    f.percent = 100.0 * double(ours.bytes_read) / double(file.size());
    const bool same_cover = ours.status != BOOK_OK || !peer.loaded || ours.cover_offset == peer.cover_offset;
    std::printf("metadata %-22s %9zu bytes  ours %s read %7llu (%.3f%%) %8.2f us  "
                "libmobi %s read %8llu (%.1f%%) %9.2f us  speedup %8.1f%s\n",
                name.c_str(), file.size(), ours.status == BOOK_OK ? "ok " : "rej",
                static_cast<unsigned long long>(ours.bytes_read), f.percent, median(our_times) * 1e6,
                peer.loaded ? "ok " : "err", static_cast<unsigned long long>(peer.bytes_read),
                100.0 * double(peer.bytes_read) / double(file.size()), median(peer_times) * 1e6, f.ratio,
                same_cover ? "" : "  (cover offsets differ)");
    return f;
}

}  // namespace

int main()
{
    std::vector<std::filesystem::path> books;
    for (const auto& entry : std::filesystem::directory_iterator(QB_BOOKS_DIR))
        if (entry.path().extension() != ".json")
            books.push_back(entry.path());
    std::sort(books.begin(), books.end());
    for (const auto& path : books)
        measure(path.filename().string(), read_file(path));

    const Bytes large = large_book(read_file(std::filesystem::path(QB_BOOKS_DIR) / "cafe-noir-source.mobi"));
    if (large.size() < 5u * 1024 * 1024) {
        std::fprintf(stderr, "the large book could not be built\n");
        return 1;
    }
    const Figures f = measure("large (built)", large);
    std::printf("metadata_speedup_vs_libmobi=%.1f\n", f.ratio);
    std::printf("metadata_bytes_read_percent=%.3f\n", f.percent);
    return 0;
}
