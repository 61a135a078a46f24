// What crafted books cost in the Windows build, under Wine, in one process:
// the filter's whole text (through the module's COM class, as the indexer
// reads it) and the preview's reading of the book (its details, where
// reading starts and the opening shown; the window and the text control
// are left out, their cost depends on the text shown, not on the book) of
// each book of the crafted family of about 1 MB
// (tests/support/crafted_books.h), per byte of the file, over the filter's
// whole text of an ordinary PalmDOC book of that size per byte. Each time is
// the median of three rounds. Output, last:
//   text_crafted_worst_per_byte_ratio_module=<ratio>
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "preview/preview_book.h"
#include "tests/bench/bench_support.h"
#include "tests/bench/filter_cycle.h"
#include "tests/support/crafted_books.h"
#include "tests/support/module_under_test.h"
#include "tests/support/propsys_stand_in.h"

namespace {

double now_ms()
{
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * double(t.QuadPart) / double(frequency.QuadPart);
}

ComPtr<IStream> memory_stream(const bench::Bytes& bytes)
{
    return ComPtr<IStream>(SHCreateMemStream(bytes.data(), UINT(bytes.size())));
}

template <class Run>
double median_ms(Run run)
{
    std::vector<double> times;
    for (int round = 0; round < 3; ++round) {
        const double start = now_ms();
        run();
        times.push_back(now_ms() - start);
    }
    std::sort(times.begin(), times.end());
    return times[1];
}

double filter_ms(const bench::Bytes& book)
{
    return median_ms([&] { filter_cycle(memory_stream(book).Get()); });
}

double preview_ms(const bench::Bytes& book)
{
    return median_ms([&] {
        PreviewBook shown;
        read_preview_book(memory_stream(book).Get(), shown);
    });
}

}  // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) || !load_imaging_component())
        return 1;
    auto palmdoc = [](const mobi_test::Bytes& markup) {
        mobi_test::MobiBuilder b;
        b.compression = 2;
        b.add_book_text(markup, {4096});
        return b.build().bytes;
    };
    const bench::Bytes ordinary = palmdoc(mobi_test::ordinary_markup(5u << 19));
    const double ordinary_per_byte = filter_ms(ordinary) / double(ordinary.size());
    std::printf("ordinary PalmDOC book of %zu bytes: filter %.2f ms, preview %.2f ms\n", ordinary.size(),
                ordinary_per_byte * double(ordinary.size()), preview_ms(ordinary));
    double worst = 0;
    for (const mobi_test::CraftedBook& c : mobi_test::crafted_books(1u << 20)) {
        const double size = double(c.bytes.size());
        const double text = filter_ms(c.bytes), shown = preview_ms(c.bytes);
        const double text_ratio = text / size / ordinary_per_byte;
        const double preview_ratio = shown / size / ordinary_per_byte;
        worst = std::max({worst, text_ratio, preview_ratio});
        std::printf("crafted %-42s %8zu bytes: filter %7.2f ms (%.2f), preview %7.2f ms (%.2f)\n", c.name,
                    c.bytes.size(), text, text_ratio, shown, preview_ratio);
    }
    std::printf("text_crafted_worst_per_byte_ratio_module=%.2f\n", worst);
    return 0;
}
