// Soak run, under Wine, one process: cycles over the fixture books, each a
// thumbnail (stream route), the property store and the property sets (path
// route) and the property page over three books, every request on a new
// handler through the module.
//
//   qb_soak.exe CYCLES TRACE_CYCLES PAGE_EVERY
//
// The page cycle (a new property sheet each time) runs on every
// PAGE_EVERY-th cycle: under Wine it costs about as much as ten of the
// other requests together.
//
// Three phases: the first TRACE_CYCLES / 2 cycles with the log at trace
// level, then the log off, then the last TRACE_CYCLES / 2 at trace level
// again; the module is finalised (DllCanUnloadNow) between phases so that
// it reads the setting anew. Private bytes, handles and GDI objects are
// taken after a warm-up round (codecs loaded, log open) and at the end, in
// the same log state, and sampled every 250 cycles; the noise stated is the
// spread of the samples after the warm-up. Live objects at the end are the
// module's objects constructed and not destroyed in the last phase, read
// from its trace lines (the phase starts with none alive, as the module
// could be finalised), plus the stand-in property library's objects.
//
// Output: counts per request kind, the samples' spread, then the soak_*
// key=value lines.
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/bench/cycles.h"
#include "tests/bench/private_bytes.h"
#include "tests/support/module_under_test.h"
#include "tests/support/process_counts.h"
#include "tests/support/propsys_stand_in.h"

namespace {

const wchar_t* const BOOKS[] = {L"cafe-noir.mobi", L"cafe-noir-source.mobi", L"wagahai.mobi",
                                L"small-cover.mobi", L"no-cover.mobi", L"personal.mobi",
                                L"kf8-only.azw3", L"plain-words.azw3", L"palmdoc.pdb"};
constexpr std::size_t BOOK_COUNT = sizeof BOOKS / sizeof BOOKS[0];

std::wstring book(std::size_t i)
{
    return source_path((std::wstring(L"tests/data/books/") + BOOKS[i % BOOK_COUNT]).c_str());
}

struct Sample {
    long long private_kb = 0, handles = 0, gdi = 0;
};

Sample sample()
{
    pump_messages();
    return {static_cast<long long>(private_kb()), static_cast<long long>(handles()),
            static_cast<long long>(gdi_objects())};
}

struct Tally {
    std::map<std::string, std::map<std::string, long>> counts;  // kind -> result -> n
    std::map<std::string, double> seconds;                      // kind -> time taken
    void add(const char* kind, CycleResult result) { ++counts[kind][cycle_result_name(result)]; }
    template <class Cycle>
    void run(const char* kind, Cycle cycle)
    {
        LARGE_INTEGER start, end, frequency;
        QueryPerformanceCounter(&start);
        add(kind, cycle());
        QueryPerformanceCounter(&end);
        QueryPerformanceFrequency(&frequency);
        seconds[kind] += double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    }
    long broken() const
    {
        long n = 0;
        for (const auto& kind : counts) {
            auto found = kind.second.find("broken");
            n += found == kind.second.end() ? 0 : found->second;
        }
        return n;
    }
};

long g_page_every = 1;

void one_cycle(std::size_t i, Tally& tally, bool with_page)
{
    const std::wstring path = book(i);
    ComPtr<IStream> stream;
    if (SUCCEEDED(SHCreateStreamOnFileW(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, &stream)))
        tally.run("thumbnail", [&] { return thumbnail_cycle(stream.Get()); });
    stream.Reset();
    tally.run("property_store", [&] { return property_store_cycle(path); });
    tally.run("property_sets", [&] { return property_set_cycle(path); });
    if (with_page)
        tally.run("page", [&] { return page_cycle({path, book(i + 1), book(i + 2)}); });
}

// Sets the log level and finalises the module so that its next start reads
// it; false when an object is still alive.
bool restart_with_log(DWORD debug)
{
    pump_messages();
    if (debug)
        set_option_dword(L"Debug", debug);
    else
        clear_options();
    return qb_module().DllCanUnloadNow() == S_OK;
}

// Module objects constructed and not destroyed in the log's lines from
// offset on ("pid:tid:serial:label").
long live_objects_in_log(std::size_t offset, long* constructed)
{
    static const std::set<std::string> constructors = {"Quirebinder", "CClassFactoryBase",
                                                       "MobiBook(filepath)", "MobiBook(stream)"};
    const std::string bytes = read_log_bytes();
    std::istringstream lines(offset < bytes.size() ? bytes.substr(offset) : std::string());
    std::set<std::string> alive;
    *constructed = 0;
    long unmatched = 0;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t pid_end = line.find(':');
        const std::size_t tid_end = pid_end == std::string::npos ? pid_end : line.find(':', pid_end + 1);
        if (tid_end == std::string::npos)
            continue;
        const std::string rest = line.substr(tid_end + 1);  // serial:label
        const std::size_t colon = rest.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string serial = rest.substr(0, colon), label = rest.substr(colon + 1);
        if (constructors.count(label)) {
            ++*constructed;
            alive.insert(serial);
        } else if (!label.empty() && label[0] == '~') {  // "~MobiBook" ends either MobiBook
            if (!alive.erase(serial))
                ++unmatched;
        }
    }
    return long(alive.size()) + unmatched;
}

}  // namespace

int main(int argc, char** argv)
{
    const long cycles = argc > 1 ? std::atol(argv[1]) : 20000;
    const long trace_cycles = argc > 2 ? std::atol(argv[2]) : 2000;
    g_page_every = std::max(1L, argc > 3 ? std::atol(argv[3]) : 1L);
    use_propsys_variant("full");
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;

    delete_log();
    restart_with_log(2);
    Tally warm;
    for (std::size_t i = 0; i < 2 * BOOK_COUNT; ++i)
        one_cycle(i, warm, true);
    const Sample start = sample();
    std::vector<Sample> samples = {start};

    Tally tally;
    long done = 0;
    bool switched = true;
    std::size_t last_phase_offset = 0;
    const DWORD started = GetTickCount();
    auto run = [&](long n) {
        for (long k = 0; k < n; ++k, ++done) {
            one_cycle(std::size_t(done), tally, done % g_page_every == 0);
            if ((done + 1) % 250 == 0)
                samples.push_back(sample());
        }
    };
    run(trace_cycles / 2);
    switched &= restart_with_log(0);
    run(cycles - trace_cycles);
    switched &= restart_with_log(2);
    last_phase_offset = read_log_bytes().size();
    run(trace_cycles - trace_cycles / 2);
    const Sample end = sample();
    const double seconds = (GetTickCount() - started) / 1000.0;

    long constructed = 0;
    const long module_live = live_objects_in_log(last_phase_offset, &constructed);
    const long stand_in_live = stand_in_live_objects();
    const HRESULT unload = qb_module().DllCanUnloadNow();
    clear_options();

    auto spread = [&](long long Sample::*field) {
        long long low = samples[0].*field, high = low;
        for (const Sample& s : samples) {
            low = std::min(low, s.*field);
            high = std::max(high, s.*field);
        }
        return high - low;
    };
    for (const auto& kind : tally.counts) {
        std::printf("soak %-15s", kind.first.c_str());
        long n = 0;
        for (const auto& result : kind.second) {
            std::printf(" %s=%ld", result.first.c_str(), result.second);
            n += result.second;
        }
        std::printf("  (%.2f ms each)\n", n ? tally.seconds[kind.first] * 1e3 / double(n) : 0.0);
    }
    std::printf("soak %ld cycles in %.0f s; log at trace level for %ld of them; module restarted "
                "between phases: %s\n",
                done, seconds, trace_cycles, switched ? "yes" : "no (an object was alive)");
    std::printf("soak start private %lld KiB, handles %lld, GDI %lld; end %lld KiB, %lld, %lld\n",
                start.private_kb, start.handles, start.gdi, end.private_kb, end.handles, end.gdi);
    std::printf("soak noise (spread of %zu samples, every 250 cycles): private %lld KiB, handles %lld, GDI %lld\n",
                samples.size(), spread(&Sample::private_kb), spread(&Sample::handles), spread(&Sample::gdi));
    std::printf("soak last phase: %ld module objects constructed, %ld alive at the end; stand-in objects alive %ld\n",
                constructed, module_live, stand_in_live);
    std::printf("soak broken promises: %ld\n", tally.broken());
    std::printf("soak_cycles=%ld\n", done);
    std::printf("soak_private_kb_delta=%lld\n", end.private_kb - start.private_kb);
    std::printf("soak_handles_delta=%lld\n", end.handles - start.handles);
    std::printf("soak_gdi_delta=%lld\n", end.gdi - start.gdi);
    std::printf("soak_live_objects=%ld\n", module_live + std::max(0L, stand_in_live));
    if (unload == S_OK)
        std::printf("soak_can_unload=S_OK\n");
    else
        std::printf("soak_can_unload=0x%08lX\n", static_cast<unsigned long>(unload));
    CoUninitialize();
    return 0;
}
