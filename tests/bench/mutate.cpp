// Mutation run through the module, under Wine: mutated variants of the
// fixture books through the analysis, the thumbnail (stream route), the
// extracted image (path route), the property store, the property sets and
// the property page (added to a property sheet that stays open, see
// PageHost), the search filter (every chunk) and the preview handler
// (DoPreview, then Unload, in a window that stays open), each request on a
// new handler.
//
//   qb_mutate.exe RUN_SEED FIRST COUNT PROGRESS_FILE WORK_FOLDER
//   qb_mutate.exe RUN_SEED --write INDEX OUT_FILE
//   qb_mutate.exe RUN_SEED --texts INDEX OUT_FILE
//
// The first form runs inputs FIRST .. FIRST + COUNT - 1 and appends to
// PROGRESS_FILE, for each input, "begin INDEX KINDS" before it and
// "end INDEX RESULT ANALYSIS_STATUS NOTES page=P filter=F" after it, where RESULT is
// accepted, rejected or failed by the analysis (S_OK, S_FALSE, an error)
// and NOTES names every broken promise ("-" when none). A crash writes
// "crash INDEX CODE LIBRARY+OFFSET" (where the faulting code lies) when it
// can and ends the process; an input with a "begin" and no "end" crashed or
// hung, and tools/mutation_run.py, which runs the batches, goes on after it.
// The second form writes one input; the third writes the texts the
// property page shows of it (title, creator, publisher, dates, language;
// UTF-16LE, each ended by a NUL; none for a file that is not a book), for
// qb_bare_edit.exe to show without the module.
// QB_MUTATE_FAULT=crash:N or hang:N in the environment makes input N crash
// or hang on purpose, to check the harness itself; host:N makes input N a
// built book whose publisher is U+02D6 alone, on which Wine 8's own text
// layout crashes in an EDIT control with the dialog font.
#include <windows.h>
#include <shlwapi.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "book/mobi_book.h"
#include "preview/preview_handler.h"
#include "tests/bench/bench_support.h"
#include "tests/bench/cycles.h"
#include "tests/bench/filter_cycle.h"
#include "tests/bench/mutations.h"
#include "tests/support/mobi_builder.h"
#include "tests/support/module_under_test.h"
#include "tests/support/propsys_stand_in.h"

namespace {

const wchar_t* const SEED_BOOKS[] = {L"cafe-noir.mobi", L"cafe-noir-source.mobi", L"wagahai.mobi",
                                     L"small-cover.mobi", L"no-cover.mobi", L"personal.mobi",
                                     L"kf8-only.azw3", L"plain-words.azw3"};
constexpr std::size_t SEED_COUNT = sizeof SEED_BOOKS / sizeof SEED_BOOKS[0];

HANDLE g_progress = INVALID_HANDLE_VALUE;
volatile long long g_current = -1;

void progress(const std::string& line)
{
    DWORD written = 0;
    const std::string text = line + "\n";
    WriteFile(g_progress, text.data(), DWORD(text.size()), &written, nullptr);
}

// where: the faulting address, named by its library and the offset into it,
// to tell the module's faults from the platform's.
void record_crash(unsigned long code, const void* where = nullptr)
{
    char name[MAX_PATH] = "?";
    HMODULE module = nullptr;
    if (where && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                    static_cast<const char*>(where), &module)) {
        char path[MAX_PATH];
        const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const char* base = std::strrchr(path, '\\');
            std::snprintf(name, sizeof name, "%s+0x%llX", base ? base + 1 : path,
                          static_cast<unsigned long long>(static_cast<const char*>(where) -
                                                          reinterpret_cast<const char*>(module)));
        }
    }
    char line[MAX_PATH + 64];
    std::snprintf(line, sizeof line, "crash %lld 0x%08lX %s", static_cast<long long>(g_current), code, name);
    progress(line);
}

LONG WINAPI on_unhandled(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info ? info->ExceptionRecord : nullptr;
    record_crash(record ? record->ExceptionCode : 0, record ? record->ExceptionAddress : nullptr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void on_abort(int)
{
    record_crash(0xAB0);
    TerminateProcess(GetCurrentProcess(), 3);
}

using bench::read_file;

bool write_file(const std::wstring& path, const Bytes& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                                      written == bytes.size());
    CloseHandle(file);
    return ok;
}

std::wstring wide(const char* text)
{
    std::wstring out;
    for (; *text; ++text)
        out += wchar_t(static_cast<unsigned char>(*text));
    return out;
}

std::vector<Bytes> seed_books()
{
    std::vector<Bytes> books;
    for (const wchar_t* name : SEED_BOOKS)
        books.push_back(read_file(source_path((std::wstring(L"tests/data/books/") + name).c_str())));
    return books;
}

// QB_MUTATE_FAULT's kind ("crash", "hang", "host") and input; an empty
// kind when it is not set.
struct Fault {
    std::string kind;
    std::uint64_t at = ~0ull;
};

Fault fault_asked()
{
    Fault fault;
    const char* text = std::getenv("QB_MUTATE_FAULT");
    if (text && std::strchr(text, ':')) {
        fault.kind.assign(text, std::size_t(std::strchr(text, ':') - text));
        fault.at = std::strtoull(std::strchr(text, ':') + 1, nullptr, 10);
    }
    return fault;
}

MutatedBook input(const std::vector<Bytes>& seeds, std::uint64_t run_seed, std::uint64_t index)
{
    const Fault fault = fault_asked();
    if (fault.kind == "host" && fault.at == index) {
        mobi_test::MobiBuilder builder;
        builder.exth(101, std::string("\xCB\x96"));  // U+02D6 MODIFIER LETTER PLUS SIGN, UTF-8
        builder.add_text(4096);
        return {"host", builder.build().bytes};
    }
    return mutate(seeds[index % SEED_COUNT], run_seed, index);
}

// The texts the property page shows of bytes, each ended by a NUL.
bool write_texts(const std::wstring& path, const Bytes& bytes)
{
    Bytes out;
    ComPtr<IStream> stream;
    *stream.GetAddressOf() = SHCreateMemStream(bytes.empty() ? nullptr : bytes.data(), UINT(bytes.size()));
    if (!stream)
        return false;
    const ComPtr<MobiBook> book = new_book(stream.Get());
    if (book->is_valid()) {
        for (const std::wstring* text : {&book->title, &book->creator, &book->publisher, &book->created_date,
                                         &book->published_date, &book->language}) {
            for (const wchar_t unit : *text)
                out.insert(out.end(), {std::uint8_t(unit & 0xFF), std::uint8_t(unit >> 8)});
            out.insert(out.end(), {0, 0});
        }
    }
    return write_file(path, out);
}

// The analysis on its own: the module's own book code, linked in.
HRESULT analysis_status(IStream* stream)
{
    const ComPtr<MobiBook> book = new_book(stream);
    book->is_valid();
    return book->status;
}

// A new preview handler over stream in parent: Initialize, SetWindow,
// DoPreview, then Unload. Broken: a step other than DoPreview refused (a
// file that is not a book is shown with a message, not refused).
CycleResult preview_cycle(HWND parent, IStream* stream)
{
    ComPtr<IClassFactory> factory;
    ComPtr<IPreviewHandler> handler;
    ComPtr<IInitializeWithStream> initialize;
    const RECT rect = {0, 0, 480, 320};
    if (FAILED(qb_module().DllGetClassObject(CLSID_QuirebinderPreview, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&handler))) ||
        FAILED(handler.As(&initialize)) || FAILED(initialize->Initialize(stream, STGM_READ)) ||
        FAILED(handler->SetWindow(parent, &rect)))
        return CycleResult::Broken;
    const HRESULT shown = handler->DoPreview();
    pump_messages();
    if (FAILED(handler->Unload()))
        return CycleResult::Broken;
    return SUCCEEDED(shown) ? CycleResult::Made : CycleResult::Refused;
}

void note(std::string& notes, const char* what, CycleResult result)
{
    if (result == CycleResult::Broken)
        notes += notes.empty() ? what : std::string(",") + what;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: qb_mutate RUN_SEED FIRST COUNT PROGRESS_FILE WORK_FOLDER\n"
                             "       qb_mutate RUN_SEED --write INDEX OUT_FILE\n"
                             "       qb_mutate RUN_SEED --texts INDEX OUT_FILE\n");
        return 2;
    }
    const std::uint64_t run_seed = std::strtoull(argv[1], nullptr, 10);
    const std::vector<Bytes> seeds = seed_books();
    for (const Bytes& seed : seeds)
        if (seed.empty()) {
            std::fprintf(stderr, "a seed book is missing\n");
            return 2;
        }
    if (std::string(argv[2]) == "--write") {
        const MutatedBook book = input(seeds, run_seed, std::strtoull(argv[3], nullptr, 10));
        return write_file(wide(argv[4]), book.bytes) ? 0 : 1;
    }
    if (std::string(argv[2]) == "--texts") {
        const MutatedBook book = input(seeds, run_seed, std::strtoull(argv[3], nullptr, 10));
        return write_texts(wide(argv[4]), book.bytes) ? 0 : 1;
    }
    if (argc < 6)
        return 2;
    const std::uint64_t first = std::strtoull(argv[2], nullptr, 10);
    const std::uint64_t count = std::strtoull(argv[3], nullptr, 10);
    g_progress = CreateFileW(wide(argv[4]).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, 0, nullptr);
    if (g_progress == INVALID_HANDLE_VALUE)
        return 2;
    const std::wstring path = wide(argv[5]) + L"\\input.mobi";
    // Output at once: the Wine runner takes a silent early end for a failed
    // start and would run the batch again.
    std::printf("qb_mutate: inputs %llu to %llu\n", static_cast<unsigned long long>(first),
                static_cast<unsigned long long>(first + count - 1));
    std::fflush(stdout);

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(on_unhandled);
    std::signal(SIGABRT, on_abort);
    use_propsys_variant("full");
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;

    const Fault fault = fault_asked();

    PageHost page_host;
    const HWND preview_parent = CreateWindowExW(0, L"STATIC", L"preview", WS_POPUP | WS_VISIBLE, 0, 0,
                                                480, 320, nullptr, nullptr, nullptr, nullptr);
    for (std::uint64_t index = first; index < first + count; ++index) {
        const MutatedBook book = input(seeds, run_seed, index);
        g_current = static_cast<long long>(index);
        progress("begin " + std::to_string(index) + " " + book.kinds);
        if (index == fault.at && fault.kind == "crash")
            *static_cast<volatile int*>(nullptr) = 1;
        if (index == fault.at && fault.kind == "hang")
            Sleep(INFINITE);

        ComPtr<IStream> stream;
        *stream.GetAddressOf() = SHCreateMemStream(book.bytes.empty() ? nullptr : book.bytes.data(),
                                                   UINT(book.bytes.size()));
        const HRESULT status = stream ? analysis_status(stream.Get()) : E_OUTOFMEMORY;
        std::string notes;
        note(notes, "thumbnail", thumbnail_cycle(stream.Get()));
        const CycleResult filter = stream ? filter_cycle(stream.Get()) : CycleResult::Refused;
        note(notes, "filter", filter);
        note(notes, "preview", preview_cycle(preview_parent, stream.Get()));
        stream.Reset();
        if (!write_file(path, book.bytes))
            notes += notes.empty() ? "unwritten" : ",unwritten";
        note(notes, "extract", extract_cycle(path));
        note(notes, "property_store", property_store_cycle(path));
        note(notes, "property_sets", property_set_cycle(path));
        const CycleResult page = page_host.cycle({path});
        note(notes, "page", page);
        if (qb_module().DllCanUnloadNow() != S_OK)
            notes += notes.empty() ? "objects_alive" : ",objects_alive";

        char line[200];
        std::snprintf(line, sizeof line, "end %llu %s 0x%08lX %s page=%s filter=%s",
                      static_cast<unsigned long long>(index),
                      status == S_OK ? "accepted" : status == S_FALSE ? "rejected" : "failed",
                      static_cast<unsigned long>(status), notes.empty() ? "-" : notes.c_str(),
                      cycle_result_name(page), cycle_result_name(filter));
        progress(line);
    }
    DestroyWindow(preview_parent);
    CoUninitialize();
    CloseHandle(g_progress);
    return 0;
}
