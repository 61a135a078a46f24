// quirebinder text BOOK [--json] [--dll MODULE]: what the search filter
// gives for BOOK. The filter is found as the indexer's loader finds it (the
// extension's PersistentHandler, its PersistentAddinsRegistered entry for
// IFilter, the class it names) or made from the module given, and it reads
// the book through a read-only stream.
#include <windows.h>
#include <filter.h>
#include <filterr.h>
#include <ntquery.h>
#include <propkey.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "filter/text_filter.h"
#include "host/book_check.h"
#include "host/commands.h"
#include "host/console.h"
#include "host/handler_source.h"
#include "registration/registration.h"

using Microsoft::WRL::ComPtr;

namespace {

// The caller's buffer of GetText, as the indexer's is: smaller than a chunk.
constexpr ULONG TEXT_BUFFER = 4096;

// The default value of HKEY_CLASSES_ROOT\path as this process sees it; false
// when there is none.
bool classes_value(const std::wstring& path, std::wstring* text)
{
    return read_registry_text(HKEY_CLASSES_ROOT, path, L"", running_view(), text);
}

// extension -> PersistentHandler -> PersistentAddinsRegistered\{IFilter}.
ExitCode find_registered_filter(const std::wstring& path, CLSID* clsid)
{
    const std::wstring extension = PathFindExtensionW(path.c_str());
    std::wstring handler, filter;
    if (extension.empty() || !classes_value(extension + L"\\PersistentHandler", &handler) ||
        !classes_value(L"CLSID\\" + handler + L"\\PersistentAddinsRegistered\\" +
                           utf16(registration::IFILTER_IID_TEXT),
                       &filter) ||
        FAILED(CLSIDFromString(filter.c_str(), clsid))) {
        print_error(L"no search filter is registered for \"" + extension +
                    L"\" files (run \"quirebinder register\" or give --dll)");
        return EXIT_NO_MODULE;
    }
    return EXIT_OK;
}

ExitCode create_filter(const Arguments& args, const std::wstring& path, IFilter** filter)
{
    const std::wstring module = args.option(L"--dll");
    if (!module.empty())
        return create_handler(module, IID_IFilter, reinterpret_cast<void**>(filter),
                              CLSID_QuirebinderFilter);
    CLSID clsid = {};
    if (const ExitCode code = find_registered_filter(path, &clsid))
        return code;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(filter));
    if (FAILED(hr)) {
        print_error(L"cannot create the registered search filter: " + describe(hr));
        return EXIT_NO_MODULE;
    }
    return EXIT_OK;
}

ExitCode open_stream(const std::wstring& path, IStream** stream)
{
    const HRESULT hr = open_read_only_stream(path, stream);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
        hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        print_error(L"no such file: " + path);
        return EXIT_NO_FILE;
    }
    if (FAILED(hr)) {
        print_error(L"cannot read " + path + L": " + describe(hr));
        return EXIT_NO_FILE;
    }
    return EXIT_OK;
}

const wchar_t* break_name(CHUNK_BREAKTYPE kind)
{
    switch (kind) {
    case CHUNK_NO_BREAK: return L"none";
    case CHUNK_EOW: return L"word";
    case CHUNK_EOS: return L"sentence";
    case CHUNK_EOP: return L"paragraph";
    case CHUNK_EOC: return L"chapter";
    }
    return L"?";
}

std::wstring property_name(const FULLPROPSPEC& spec)
{
    static const struct {
        GUID fmtid;
        PROPID pid;
        const wchar_t* name;
    } KNOWN[] = {
        {PKEY_Title.fmtid, PKEY_Title.pid, L"System.Title"},
        {PKEY_Author.fmtid, PKEY_Author.pid, L"System.Author"},
        {PSGUID_STORAGE, PID_STG_CONTENTS, L"System.Search.Contents"},
    };
    if (spec.psProperty.ulKind == PRSPEC_LPWSTR)
        return spec.psProperty.lpwstr ? spec.psProperty.lpwstr : L"";
    for (const auto& known : KNOWN) {
        if (IsEqualGUID(known.fmtid, spec.guidPropSet) && known.pid == spec.psProperty.propid)
            return known.name;
    }
    wchar_t guid[40] = {};
    StringFromGUID2(spec.guidPropSet, guid, 40);
    return std::wstring(guid) + L" " + std::to_wstring(spec.psProperty.propid);
}

// A value chunk's value as JSON: a string, a list of strings, or its type.
std::wstring json_value(IFilter* filter)
{
    PROPVARIANT* value = nullptr;
    if (FAILED(filter->GetValue(&value)) || !value)
        return L"null";
    std::wstring out;
    if (value->vt == VT_LPWSTR) {
        out = json_string(value->pwszVal ? value->pwszVal : L"");
    } else if (value->vt == (VT_VECTOR | VT_LPWSTR)) {
        out = L"[";
        for (ULONG i = 0; i < value->calpwstr.cElems; ++i) {
            const wchar_t* text = value->calpwstr.pElems[i];
            out += (i ? L", " : L"") + json_string(text ? text : L"");
        }
        out += L"]";
    } else {
        out = L"\"(value of type " + std::to_wstring(value->vt) + L")\"";
    }
    PropVariantClear(value);
    CoTaskMemFree(value);
    return out;
}

// All of the current text chunk's text.
HRESULT chunk_text(IFilter* filter, std::wstring* text)
{
    text->clear();
    std::vector<WCHAR> buffer(TEXT_BUFFER);
    for (;;) {
        ULONG count = TEXT_BUFFER;
        const HRESULT hr = filter->GetText(&count, buffer.data());
        if (hr == FILTER_E_NO_MORE_TEXT)
            return S_OK;
        if (FAILED(hr))
            return hr;
        text->append(buffer.data(), count < TEXT_BUFFER ? count : TEXT_BUFFER);
        if (hr == FILTER_S_LAST_TEXT)
            return S_OK;
    }
}

ExitCode init_failure(HRESULT hr, const std::wstring& path)
{
    if (hr == FILTER_E_UNKNOWNFORMAT) {
        print_error(L"not a MOBI book: " + path);
        return EXIT_NOT_MOBI;
    }
    if (hr == FILTER_E_PASSWORD) {
        print_error(L"the book is encrypted; its text cannot be read: " + path);
        return EXIT_ENCRYPTED;
    }
    print_error(L"the search filter cannot read " + path + L": " + describe(hr));
    return EXIT_FAILED;
}

}  // namespace

ExitCode run_text(const Arguments& args)
{
    if (args.positional.size() != 1) {
        print_error(L"text needs one BOOK (see quirebinder text --help)");
        return EXIT_USAGE;
    }
    const std::wstring path = full_path(args.positional[0]);
    ComPtr<IStream> stream;
    if (const ExitCode code = open_stream(path, &stream))
        return code;
    ComPtr<IFilter> filter;
    if (const ExitCode code = create_filter(args, path, &filter))
        return code;
    ComPtr<IPersistStream> persist;
    HRESULT hr = filter.As(&persist);
    if (SUCCEEDED(hr))
        hr = persist->Load(stream.Get());
    if (FAILED(hr)) {
        print_error(L"cannot load " + path + L" into the search filter: " + describe(hr));
        return EXIT_FAILED;
    }
    // The flags the indexer passes; no attributes: every chunk.
    ULONG flags = 0;
    hr = filter->Init(IFILTER_INIT_CANON_PARAGRAPHS | IFILTER_INIT_HARD_LINE_BREAKS |
                          IFILTER_INIT_CANON_HYPHENS | IFILTER_INIT_CANON_SPACES |
                          IFILTER_INIT_APPLY_INDEX_ATTRIBUTES | IFILTER_INIT_INDEXING_ONLY,
                      0, nullptr, &flags);
    if (FAILED(hr))
        return init_failure(hr, path);

    const bool json = args.has(L"--json");
    if (json)
        write_out(L"{\n  \"file\": " + json_string(path) + L",\n  \"chunks\": [");
    bool first = true;
    for (;;) {
        STAT_CHUNK stat = {};
        hr = filter->GetChunk(&stat);
        if (hr == FILTER_E_END_OF_CHUNKS)
            break;
        std::wstring text;
        if (SUCCEEDED(hr) && (stat.flags & CHUNK_TEXT))
            hr = chunk_text(filter.Get(), &text);
        if (FAILED(hr)) {
            print_error(L"the search filter failed on " + path + L": " + describe(hr));
            return EXIT_FAILED;
        }
        if (!json) {
            write_out(text);
            continue;
        }
        const bool is_text = (stat.flags & CHUNK_TEXT) != 0;
        write_out(std::wstring(first ? L"\n" : L",\n") + L"    {\"id\": " +
                  std::to_wstring(stat.idChunk) + L", \"kind\": " +
                  (is_text ? L"\"text\"" : L"\"value\"") + L", \"break\": \"" +
                  break_name(stat.breakType) + L"\", \"locale\": " +
                  std::to_wstring(stat.locale) + L", \"property\": " +
                  json_string(property_name(stat.attribute)) +
                  (is_text ? L", \"text\": " + json_string(text)
                           : L", \"value\": " + json_value(filter.Get())) +
                  L"}");
        first = false;
    }
    write_out(json ? std::wstring(first ? L"]\n}\n" : L"\n  ]\n}\n") : L"\n");
    return EXIT_OK;
}
