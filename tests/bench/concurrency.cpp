// Concurrency soak, under Wine, one process: the module as Explorer and the
// indexer load it. Worker threads, each in its own single-threaded
// apartment as the shell's thumbnail and property workers are, send
// requests on new objects through the module's exports (thumbnails,
// property stores, the search filter, and the preview handler on one
// worker at a time, Wine's limit); then four threads in the
// multithreaded apartment do the same with the search filter, which is
// registered as Both-threaded. A further thread asks DllCanUnloadNow and calls
// CoFreeUnusedLibrariesEx(0, 0) in a loop, so that the module is finalised
// and started again while the workers make and release objects.
//
//   qb_concurrency.exe [REQUESTS_PER_THREAD [ROUNDS]]
//
// Each run is cut into ROUNDS rounds. Between rounds every worker waits
// until the unloading thread has finalised the module, and the log's level
// for the next round is set then (trace level in the first and the last
// round, off in between), so that each round starts the module afresh.
// Every request's result is reduced to a digest (status codes, the
// thumbnail's size and pixels, every property's key and value, the
// filter's chunks, text and values, the preview's statuses and text) and
// compared with the digest of the same request made on one thread before
// the run.
//
// The log's lines must each be whole: "pid:tid:", a message of one of the
// module's forms, CR LF. Wine 8 does not make concurrent appends through
// one FILE_APPEND_DATA handle whole, so after the runs as many threads
// write as many lines again through a handle of their own, with no module
// involved, and that bare writer's torn lines are counted the same
// way: a torn line of ours means something only when the bare writer tears
// none.
//
// Output: per-kind counts, then the concurrency_* key=value lines. Ends
// with status 1 on a hang (no request begun for a minute, or the module not
// finalised within a minute between rounds).
#include <windows.h>
#include <filter.h>
#include <filterr.h>
#include <propsys.h>
#include <propkey.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "filter/text_filter.h"
#include "preview/preview_handler.h"
#include "tests/bench/bench_support.h"
#include "tests/support/module_under_test.h"
#include "tests/support/propsys_stand_in.h"

namespace {

using bench::Bytes;

const wchar_t* const BOOKS[] = {L"cafe-noir.mobi", L"cafe-noir-source.mobi", L"wagahai.mobi",
                                L"small-cover.mobi", L"no-cover.mobi", L"personal.mobi",
                                L"kf8-only.azw3", L"plain-words.azw3", L"palmdoc.pdb"};
constexpr std::size_t BOOK_COUNT = sizeof BOOKS / sizeof BOOKS[0];

std::vector<Bytes> g_books;
std::atomic<long> g_class_requests{0};  // DllGetClassObject calls begun

// Ends the process with status 1 when no request has begun for a minute
// while the run is on: a hang inside the module.
void start_watchdog(const std::atomic<bool>& running)
{
    std::thread([&running] {
        long seen = -1;
        for (int idle = 0; running; Sleep(1000)) {
            const long now = g_class_requests;
            idle = now == seen ? idle + 1 : 0;
            seen = now;
            if (idle >= 60 && running) {
                std::printf("concurrency: no request for 60 s, hung\n");
                std::fflush(stdout);
                ExitProcess(1);
            }
        }
    }).detach();
}

std::string hex(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", value);
    return text;
}

std::uint64_t fnv(const void* data, std::size_t size, std::uint64_t hash = 1469598103934665603ull)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

// A new object of class clsid, initialised through IInitializeWithStream
// on a stream over book, asked for I. The statuses go into digest.
template <class I>
ComPtr<I> object_on(REFCLSID clsid, const Bytes& book, std::string& digest)
{
    ++g_class_requests;
    ComPtr<IClassFactory> factory;
    HRESULT hr = qb_module().DllGetClassObject(clsid, IID_IClassFactory,
                                               reinterpret_cast<void**>(factory.GetAddressOf()));
    ComPtr<IInitializeWithStream> init;
    if (SUCCEEDED(hr))
        hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&init));
    factory.Reset();
    ComPtr<IStream> stream;
    if (SUCCEEDED(hr)) {
        *stream.GetAddressOf() = SHCreateMemStream(book.data(), UINT(book.size()));
        hr = stream ? init->Initialize(stream.Get(), STGM_READ) : E_OUTOFMEMORY;
    }
    ComPtr<I> wanted;
    if (SUCCEEDED(hr))
        hr = init.As(&wanted);
    digest += "init " + hex(static_cast<unsigned long>(hr)) + ";";
    return wanted;
}

std::string thumbnail_request(const Bytes& book)
{
    std::string digest;
    ComPtr<IThumbnailProvider> provider = object_on<IThumbnailProvider>(CLSID_Quirebinder, book, digest);
    if (!provider)
        return digest;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    const HRESULT hr = provider->GetThumbnail(256, &bitmap, &alpha);
    digest += "thumbnail " + hex(static_cast<unsigned long>(hr)) + " alpha " + std::to_string(alpha);
    DIBSECTION dib = {};
    if (bitmap && GetObjectW(bitmap, sizeof dib, &dib) == sizeof dib && dib.dsBm.bmBits) {
        const std::size_t size = std::size_t(dib.dsBm.bmWidthBytes) * std::size_t(std::abs(dib.dsBm.bmHeight));
        digest += " " + std::to_string(dib.dsBm.bmWidth) + "x" + std::to_string(dib.dsBm.bmHeight) +
                  " bits " + std::to_string(fnv(dib.dsBm.bmBits, size));
    } else if (bitmap) {
        digest += " not a DIB section";
    }
    if (bitmap)
        DeleteObject(bitmap);
    return digest;
}

std::string value_digest(const PROPVARIANT& value)
{
    std::string digest = "vt " + std::to_string(value.vt) + " ";
    auto text = [](const wchar_t* s) { return s ? std::to_string(fnv(s, std::wcslen(s) * 2)) : "null"; };
    switch (value.vt) {
    case VT_LPWSTR:
        return digest + text(value.pwszVal);
    case VT_VECTOR | VT_LPWSTR:
        for (ULONG i = 0; i < value.calpwstr.cElems; ++i)
            digest += text(value.calpwstr.pElems[i]) + ",";
        return digest;
    default:
        return digest + std::to_string(fnv(&value.uhVal, sizeof value.uhVal));
    }
}

std::string property_store_request(const Bytes& book)
{
    std::string digest;
    ComPtr<IPropertyStore> store = object_on<IPropertyStore>(CLSID_Quirebinder, book, digest);
    if (!store)
        return digest;
    DWORD count = 0;
    HRESULT hr = store->GetCount(&count);
    digest += "count " + hex(static_cast<unsigned long>(hr)) + " " + std::to_string(count) + ";";
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        PROPERTYKEY key = {};
        hr = store->GetAt(i, &key);
        PROPVARIANT value;
        PropVariantInit(&value);
        if (SUCCEEDED(hr))
            hr = store->GetValue(key, &value);
        digest += hex(static_cast<unsigned long>(hr)) + " " + std::to_string(fnv(&key, sizeof key)) + " " +
                  value_digest(value) + ";";
        PropVariantClear(&value);
    }
    return digest;
}

// The search filter as the indexer's filter host uses it: a new filter,
// IPersistStream::Load, Init, then every chunk with its text (read in
// buffers of 1,000 units) or its value.
std::string filter_request(const Bytes& book)
{
    ++g_class_requests;
    ComPtr<IClassFactory> factory;
    HRESULT hr = qb_module().DllGetClassObject(CLSID_QuirebinderFilter, IID_IClassFactory,
                                               reinterpret_cast<void**>(factory.GetAddressOf()));
    ComPtr<IPersistStream> persist;
    if (SUCCEEDED(hr))
        hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&persist));
    factory.Reset();
    ComPtr<IFilter> filter;
    if (SUCCEEDED(hr))
        hr = persist.As(&filter);
    ComPtr<IStream> stream;
    if (SUCCEEDED(hr)) {
        *stream.GetAddressOf() = SHCreateMemStream(book.data(), UINT(book.size()));
        hr = stream ? persist->Load(stream.Get()) : E_OUTOFMEMORY;
    }
    std::string digest = "load " + hex(static_cast<unsigned long>(hr)) + ";";
    if (FAILED(hr))
        return digest;
    ULONG flags = 0;
    hr = filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags);
    digest += "init " + hex(static_cast<unsigned long>(hr)) + " " + std::to_string(flags) + ";";
    std::uint64_t text = fnv(nullptr, 0);
    long chunks = 0;
    while (SUCCEEDED(hr)) {
        STAT_CHUNK stat = {};
        hr = filter->GetChunk(&stat);
        if (hr != S_OK)
            break;
        ++chunks;
        const unsigned long shape[] = {stat.idChunk, stat.breakType, stat.flags, stat.locale};
        text = fnv(shape, sizeof shape, text);
        if (stat.flags == CHUNK_TEXT) {
            WCHAR buffer[1000];
            for (HRESULT got = S_OK; got == S_OK;) {
                ULONG count = 1000;
                got = filter->GetText(&count, buffer);
                if (SUCCEEDED(got))
                    text = fnv(buffer, std::size_t(count) * sizeof(WCHAR), text);
                else
                    text = fnv(&got, sizeof got, text);
            }
        } else {
            PROPVARIANT* value = nullptr;
            if (SUCCEEDED(filter->GetValue(&value)) && value) {
                digest += value_digest(*value) + ";";
                PropVariantClear(value);
                CoTaskMemFree(value);
            }
        }
    }
    return digest + "end " + hex(static_cast<unsigned long>(hr)) + " chunks " + std::to_string(chunks) +
           " text " + std::to_string(text);
}

// The preview host's window on this thread: the parent of every preview
// made here, made at the first one and destroyed when the thread ends.
thread_local HWND t_preview_parent = nullptr;

void destroy_preview_parent()
{
    if (t_preview_parent)
        DestroyWindow(t_preview_parent);
    t_preview_parent = nullptr;
}

void pump_messages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The preview handler as the shell's preview host uses it: a new handler,
// Initialize with the book's stream, SetWindow in this thread's parent,
// SetRect, DoPreview, the thread's messages handled, Unload, Release. The
// digest holds every status and the text area's text (a hash of it) and
// whether it is shown.
std::string preview_request(const Bytes& book)
{
    std::string digest;
    ComPtr<IPreviewHandler> handler = object_on<IPreviewHandler>(CLSID_QuirebinderPreview, book, digest);
    if (!handler)
        return digest;
    if (!t_preview_parent)
        t_preview_parent = CreateWindowExW(0, L"STATIC", L"preview", WS_POPUP | WS_VISIBLE, 0, 0, 480, 320,
                                           nullptr, nullptr, nullptr, nullptr);
    const RECT rect = {0, 0, 480, 320};
    HRESULT hr = handler->SetWindow(t_preview_parent, &rect);
    digest += "window " + hex(static_cast<unsigned long>(hr)) + ";";
    if (SUCCEEDED(hr))
        hr = handler->SetRect(&rect);
    digest += "rect " + hex(static_cast<unsigned long>(hr)) + ";";
    if (SUCCEEDED(hr)) {
        hr = handler->DoPreview();
        digest += "preview " + hex(static_cast<unsigned long>(hr)) + ";";
        pump_messages();
        const HWND pane = FindWindowExW(t_preview_parent, nullptr, L"QuirebinderPreview", nullptr);
        const HWND text = pane ? FindWindowExW(pane, nullptr, L"EDIT", nullptr) : nullptr;
        if (text) {
            std::wstring shown(std::size_t(GetWindowTextLengthW(text)) + 1, L'\0');
            shown.resize(std::size_t(GetWindowTextW(text, shown.data(), int(shown.size()))));
            digest += "text " + std::to_string(shown.size()) + " " +
                      std::to_string(fnv(shown.data(), shown.size() * sizeof(wchar_t))) +
                      (IsWindowVisible(text) ? " shown;" : " hidden;");
        } else {
            digest += "no text area;";
        }
    }
    hr = handler->Unload();
    digest += "unload " + hex(static_cast<unsigned long>(hr));
    handler.Reset();
    pump_messages();
    return digest;
}

// The kinds of request, one row each. The run of single-threaded
// apartments takes the rows with sta set, the run of multithreaded ones
// (for classes registered as Both-threaded) those with mta set. A row with
// one_thread set runs on one worker at a time: in each round only one
// worker (a different one each round) sends it, while the others send the
// other rows. That is Wine 8's limit, not the module's: two threads
// filling EDIT controls at the same time crash or hang inside Wine's text
// shaping (usp10, gdi32), with or without the module, and the preview's
// text area is an EDIT control.
struct RequestKind {
    const char* name;
    bool sta;
    bool mta;
    bool one_thread;
    std::string (*run)(const Bytes& book);
};

const RequestKind KINDS[] = {
    {"thumbnail", true, false, false, thumbnail_request},
    {"property_store", true, false, false, property_store_request},
    {"filter", true, true, false, filter_request},  // registered as Both-threaded
    {"preview", true, false, true, preview_request},  // Wine: one thread at a time
};
constexpr std::size_t KIND_COUNT = sizeof KINDS / sizeof KINDS[0];

// The one-thread results: reference[kind][book].
std::vector<std::vector<std::string>> g_reference;

struct Counts {
    std::atomic<long> requests{0};
    std::atomic<long> failures{0};
    std::atomic<long> per_kind[KIND_COUNT] = {};
};

// The thread that unloads: DllCanUnloadNow and CoFreeUnusedLibrariesEx in a
// loop, in the multithreaded apartment. Counts the finalisations of a
// module that had been started since the previous one.
struct Unloader {
    std::atomic<bool> stop{false};
    std::atomic<long> finalisations{0};   // S_OK answers with requests made since the previous
    std::atomic<long> answers_ok{0};      // every S_OK answer
    std::thread thread;

    void start()
    {
        thread = std::thread([this] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            long seen = -1;
            while (!stop) {
                if (qb_module().DllCanUnloadNow() == S_OK) {
                    const long now = g_class_requests;
                    if (now != seen && seen != -1)
                        ++finalisations;
                    seen = now;
                    ++answers_ok;
                }
                CoFreeUnusedLibrariesEx(0, 0);
                Sleep(0);
            }
            CoUninitialize();
        });
    }
    void finish()
    {
        stop = true;
        thread.join();
    }
};

// Threads meet here between rounds; the last one to arrive runs the step
// between rounds (on its own thread) before releasing the others.
class Barrier {
public:
    explicit Barrier(long parties) : parties_(parties) {}
    template <class Step>
    void arrive(Step step)
    {
        const long generation = generation_;
        if (++arrived_ == parties_) {
            step();
            arrived_ = 0;
            ++generation_;
        } else {
            while (generation_ == generation)
                Sleep(1);
        }
    }

private:
    const long parties_;
    std::atomic<long> arrived_{0};
    std::atomic<long> generation_{0};
};

// Sets the log level for the next round and waits until the unloading
// thread has finalised the module, so that the next request starts it with
// the new level. False when that does not happen within 60 s.
bool next_round(Unloader& unloader, DWORD debug)
{
    if (debug)
        set_option_dword(L"Debug", debug);
    else
        clear_options();
    const long before = unloader.answers_ok;
    for (int waited = 0; waited < 60000; ++waited) {
        if (unloader.answers_ok > before + 1)
            return true;
        Sleep(1);
    }
    return false;
}

// One run: threads workers in apartment model, each making requests of
// the kinds that run in it, over the books in turn, in rounds.
struct RunResult {
    long threads = 0, requests = 0, failures = 0;
    bool hung = false;
    std::map<std::string, long> per_kind;
};

RunResult run(DWORD model, long threads, long per_thread, long rounds, Unloader& unloader)
{
    RunResult result;
    // The kinds every worker sends, and those only the round's one worker
    // sends besides.
    std::vector<std::size_t> kinds, one_thread_kinds;
    for (std::size_t k = 0; k < KIND_COUNT; ++k)
        if (model == COINIT_APARTMENTTHREADED ? KINDS[k].sta : KINDS[k].mta)
            (KINDS[k].one_thread ? one_thread_kinds : kinds).push_back(k);
    if (kinds.empty())
        return result;
    result.threads = threads;
    Counts counts;
    Barrier barrier(threads);
    std::atomic<bool> hung{false};
    std::atomic<long> round_number{0};
    std::vector<std::thread> workers;
    for (long t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            CoInitializeEx(nullptr, model);
            for (long round = 0; round < rounds; ++round) {
                const long per_round = per_thread / rounds + (round < per_thread % rounds ? 1 : 0);
                std::vector<std::size_t> kinds_here = kinds;
                if (round % threads == t)
                    kinds_here.insert(kinds_here.end(), one_thread_kinds.begin(), one_thread_kinds.end());
                for (long i = 0; i < per_round; ++i) {
                    // Threads start at different books and kinds, so that
                    // every pair of requests meets.
                    const std::size_t n = std::size_t(t * 7 + round * per_round + i);
                    const std::size_t kind = kinds_here[n % kinds_here.size()];
                    const std::size_t book = (n / kinds_here.size() + std::size_t(t)) % BOOK_COUNT;
                    const std::string digest = KINDS[kind].run(g_books[book]);
                    ++counts.requests;
                    ++counts.per_kind[kind];
                    if (digest != g_reference[kind][book]) {
                        if (++counts.failures <= 5)
                            std::printf("concurrency %s on %ls differs:\n  got  %s\n  want %s\n",
                                        KINDS[kind].name, BOOKS[book], digest.c_str(),
                                        g_reference[kind][book].c_str());
                    }
                }
                barrier.arrive([&] {
                    const long next = ++round_number;
                    const bool trace = next == rounds - 1;
                    if (next < rounds && !next_round(unloader, trace ? 2 : 0))
                        hung = true;
                });
            }
            destroy_preview_parent();
            CoUninitialize();
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    result.requests = counts.requests;
    result.failures = counts.failures;
    result.hung = hung;
    for (std::size_t k : kinds)
        result.per_kind[KINDS[k].name] = counts.per_kind[k];
    for (std::size_t k : one_thread_kinds)
        result.per_kind[KINDS[k].name] = counts.per_kind[k];
    return result;
}

bool is_hex(const std::string& s, std::size_t from, std::size_t to)
{
    if (to - from < 4)
        return false;
    for (std::size_t i = from; i < to; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i])) || std::isupper(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

// True when text holds "hex:hex:" of four or more digits each, the prefix of
// a line: a second line inside a message.
bool holds_prefix(const std::string& text)
{
    for (std::size_t colon = text.find(':'); colon != std::string::npos; colon = text.find(':', colon + 1)) {
        std::size_t start = colon;
        while (start > 0 && std::isxdigit(static_cast<unsigned char>(text[start - 1])))
            --start;
        std::size_t end = colon + 1;
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])))
            ++end;
        if (colon - start >= 4 && end - colon - 1 >= 4 && end < text.size() && text[end] == ':')
            return true;
    }
    return false;
}

// One of the module's messages: the banner, "Finalizing module", an error
// line, or "serial:label[:details]" with a label of letters.
bool is_message(const std::string& m)
{
    if (m == LOG_BANNER || m == "Finalizing module")
        return true;
    for (const char* start : {"ENSURE failed:", "analyze:Not a MOBI:", "Missing DLL:", "Missing Function:"})
        if (m.compare(0, std::strlen(start), start) == 0)
            return !holds_prefix(m);
    std::size_t digits = 0;
    while (digits < m.size() && std::isdigit(static_cast<unsigned char>(m[digits])))
        ++digits;
    if (digits < 4 || digits >= m.size() || m[digits] != ':')
        return false;
    const std::size_t label_end = std::min(m.find(':', digits + 1), m.size());
    if (label_end == digits + 1)
        return false;
    for (std::size_t i = digits + 1; i < label_end; ++i)
        if (!std::isalpha(static_cast<unsigned char>(m[i])) && !std::strchr("~(), *", m[i]))
            return false;
    return !holds_prefix(m.substr(digits + 1));
}

// Lines of text (after skip bytes) that are not "hex:hex:message" with
// CR LF; *whole gets the number of whole ones, examples the first three
// torn ones.
long torn_lines(const std::string& text, std::size_t skip, long* whole,
                std::vector<std::string>* examples = nullptr)
{
    long torn = 0;
    *whole = 0;
    std::size_t start = skip;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        const bool ended = end != std::string::npos;
        if (!ended)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const std::size_t pid_end = line.find(':');
        const std::size_t tid_end = pid_end == std::string::npos ? pid_end : line.find(':', pid_end + 1);
        const bool ok = ended && tid_end != std::string::npos && is_hex(line, 0, pid_end) &&
                        is_hex(line, pid_end + 1, tid_end) && line.find('\r') == std::string::npos &&
                        line.find('\n') == std::string::npos && is_message(line.substr(tid_end + 1));
        ok ? ++*whole : ++torn;
        if (!ok && examples && examples->size() < 3)
            examples->push_back(line.substr(0, 120));
        start = ended ? end + 2 : end;
    }
    return torn;
}

// The messages of the whole lines of text, for the bare writer.
std::vector<std::string> messages_of(const std::string& text, std::size_t skip)
{
    std::vector<std::string> messages;
    std::size_t start = skip;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = text.substr(start, end - start);
        const std::size_t pid_end = line.find(':');
        const std::size_t tid_end = pid_end == std::string::npos ? pid_end : line.find(':', pid_end + 1);
        if (tid_end != std::string::npos && is_message(line.substr(tid_end + 1)))
            messages.push_back(line.substr(tid_end + 1));
    }
    return messages;
}

// threads threads write messages (each thread every threads-th one) as
// "pid:tid:message\r\n", one WriteFile per line through one handle opened
// as the log is, into a file of their own. Returns the torn lines and
// *kept the whole ones.
long bare_writer(const std::vector<std::string>& messages, long threads, long* kept)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"qb_bare_log.txt";
    DeleteFileW(path.c_str());
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    std::atomic<long> ready{0};
    std::vector<std::thread> writers;
    for (long t = 0; t < threads; ++t) {
        writers.emplace_back([&, t] {
            for (++ready; ready < threads;)
                Sleep(0);
            for (std::size_t i = std::size_t(t); i < messages.size(); i += std::size_t(threads)) {
                char prefix[32];
                std::snprintf(prefix, sizeof prefix, "%04lx:%04lx:", GetCurrentProcessId(), GetCurrentThreadId());
                const std::string line = prefix + messages[i] + "\r\n";
                DWORD written = 0;
                WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
            }
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    CloseHandle(file);
    const Bytes bytes = bench::read_file(path);
    const std::string text(bytes.begin(), bytes.end());
    DeleteFileW(path.c_str());
    return torn_lines(text, 0, kept);
}

}  // namespace

int main(int argc, char** argv)
{
    const long per_thread = argc > 1 ? std::atol(argv[1]) : 2000;
    const long rounds = std::max(3L, argc > 2 ? std::atol(argv[2]) : 8L);
    constexpr long STA_THREADS = 8, MTA_THREADS = 4;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    use_propsys_variant("full");
    for (const wchar_t* name : BOOKS) {
        g_books.push_back(bench::read_file(source_path((std::wstring(L"tests/data/books/") + name).c_str())));
        if (g_books.back().empty()) {
            std::printf("concurrency: %ls is missing\n", name);
            return 1;
        }
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;

    // The one-thread results, log off; then the log at trace level for the
    // first round.
    clear_options();
    delete_log();
    g_reference.assign(KIND_COUNT, std::vector<std::string>(BOOK_COUNT));
    std::thread([] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        for (std::size_t k = 0; k < KIND_COUNT; ++k)
            for (std::size_t b = 0; b < BOOK_COUNT; ++b)
                g_reference[k][b] = KINDS[k].run(g_books[b]);
        destroy_preview_parent();
        CoUninitialize();
    }).join();
    if (qb_module().DllCanUnloadNow() != S_OK) {
        std::printf("concurrency: an object is alive after the one-thread run\n");
        return 1;
    }
    set_option_dword(L"Debug", 2);

    static std::atomic<bool> running{true};
    start_watchdog(running);
    Unloader unloader;
    unloader.start();
    const DWORD started = GetTickCount();
    const RunResult sta = run(COINIT_APARTMENTTHREADED, STA_THREADS, per_thread, rounds, unloader);
    const RunResult mta = run(COINIT_MULTITHREADED, MTA_THREADS, per_thread, rounds, unloader);
    unloader.finish();
    running = false;
    const double seconds = (GetTickCount() - started) / 1000.0;

    const long stand_in_live = stand_in_live_objects();
    const HRESULT unload = qb_module().DllCanUnloadNow();
    clear_options();

    const std::string log = read_log_bytes();
    long whole = 0;
    std::vector<std::string> examples;
    const long torn = torn_lines(log, 5, &whole, &examples);
    const std::vector<std::string> messages = messages_of(log, 5);
    long bare_whole = 0;
    const long bare_torn = bare_writer(messages, STA_THREADS, &bare_whole);
    long banners = 0;
    for (const std::string& m : messages)
        banners += m == LOG_BANNER;

    for (const RunResult* r : {&sta, &mta}) {
        const char* name = r == &sta ? "single-threaded apartments" : "multithreaded apartment";
        if (!r->threads) {
            std::printf("concurrency %s: no request kind runs there yet\n", name);
            continue;
        }
        std::printf("concurrency %s: %ld threads, %ld requests (", name, r->threads, r->requests);
        for (const auto& kind : r->per_kind)
            std::printf("%s %ld%s", kind.first.c_str(), kind.second,
                        &kind == &*r->per_kind.rbegin() ? "" : ", ");
        std::printf("), %ld differing from the one-thread run%s\n", r->failures, r->hung ? ", HUNG" : "");
    }
    std::printf("concurrency %.0f s; unloading thread: %ld S_OK answers, %ld finalisations of a started module; "
                "%ld banners in the traced rounds\n",
                seconds, long(unloader.answers_ok), long(unloader.finalisations), banners);
    std::printf("concurrency log: %ld whole lines, %ld torn; bare writer (same %ld lines, %ld threads, one "
                "append handle, no module): %ld kept whole, %ld torn, %ld lost\n",
                whole, torn, long(messages.size()), STA_THREADS, bare_whole, bare_torn,
                long(messages.size()) - bare_whole - std::max(0L, bare_torn));
    for (const std::string& example : examples)
        std::printf("concurrency torn line: \"%s\"\n", example.c_str());
    std::printf("concurrency at the end: DllCanUnloadNow 0x%08lX, stand-in objects alive %ld\n",
                static_cast<unsigned long>(unload), stand_in_live);
    std::printf("concurrency_threads=%ld\n", sta.threads + mta.threads);
    std::printf("concurrency_requests=%ld\n", sta.requests + mta.requests);
    std::printf("concurrency_failures=%ld\n", sta.failures + mta.failures);
    std::printf("concurrency_torn_log_lines=%ld\n", torn);
    std::printf("concurrency_torn_log_lines_bare=%ld\n", bare_torn);
    std::printf("concurrency_reinitialisations=%ld\n", long(unloader.finalisations));
    std::printf("concurrency_live_objects=%ld\n", (unload == S_OK ? 0L : 1L) + std::max(0L, stand_in_live));
    CoUninitialize();
    return sta.hung || mta.hung ? 1 : 0;
}
