// quirebinder properties BOOK... [--json] [--recursive] [--dll MODULE]: the
// handler's property store, each value under its canonical name, then the
// fields the property page shows, read from the book directly. Several
// books or a folder (its files of the handler's types, with --recursive
// those of its subfolders too) are listed with --json, one object per book.
#include <windows.h>
#include <propsys.h>
#include <wrl/client.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "host/book_check.h"
#include "host/commands.h"
#include "host/console.h"
#include "host/handler_source.h"
#include "registration/registration_table.h"
#include "server/unique_handle.h"

using Microsoft::WRL::ComPtr;

namespace {

// A value as text: one string, or a list of strings.
struct Value {
    bool is_list = false;
    std::vector<std::wstring> texts;
};

struct Property {
    std::wstring name;
    Value value;
};

// "System.Title" where the property system names the key, else its
// "{FMTID} PID" form. The library is the one the shell uses; it is loaded
// here rather than imported so that the host starts where it is missing.
std::wstring key_name(REFPROPERTYKEY key)
{
    using GetName = HRESULT(WINAPI*)(REFPROPERTYKEY, PWSTR*);
    static const HMODULE propsys = LoadLibraryW(L"propsys.dll");
    static const auto get_name = propsys ? reinterpret_cast<GetName>(reinterpret_cast<void*>(
                                               GetProcAddress(propsys, "PSGetNameFromPropertyKey")))
                                         : nullptr;
    PWSTR name = nullptr;
    if (get_name && SUCCEEDED(get_name(key, &name)) && name) {
        std::wstring text = name;
        CoTaskMemFree(name);
        return text;
    }
    wchar_t guid[40] = {};
    StringFromGUID2(key.fmtid, guid, 40);
    return std::wstring(guid) + L" " + std::to_wstring(key.pid);
}

Value value_text(const PROPVARIANT& variant)
{
    Value value;
    switch (variant.vt) {
    case VT_LPWSTR:
        value.texts.push_back(variant.pwszVal ? variant.pwszVal : L"");
        break;
    case VT_BSTR:
        value.texts.push_back(variant.bstrVal ? variant.bstrVal : L"");
        break;
    case VT_VECTOR | VT_LPWSTR:
        value.is_list = true;
        for (ULONG i = 0; i < variant.calpwstr.cElems; ++i)
            value.texts.push_back(variant.calpwstr.pElems[i] ? variant.calpwstr.pElems[i] : L"");
        break;
    default:
        value.texts.push_back(L"(value of type " + std::to_wstring(variant.vt) + L")");
    }
    return value;
}

HRESULT read_store(IPropertyStore* store, std::vector<Property>* properties)
{
    DWORD count = 0;
    HRESULT hr = store->GetCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        PROPERTYKEY key = {};
        hr = store->GetAt(i, &key);
        PROPVARIANT variant;
        PropVariantInit(&variant);
        if (SUCCEEDED(hr))
            hr = store->GetValue(key, &variant);
        if (SUCCEEDED(hr))
            properties->push_back({key_name(key), value_text(variant)});
        PropVariantClear(&variant);
    }
    return hr;
}

std::wstring json_value(const Value& value)
{
    if (!value.is_list)
        return json_string(value.texts.empty() ? L"" : value.texts[0]);
    std::wstring out = L"[";
    for (std::size_t i = 0; i < value.texts.size(); ++i)
        out += (i ? L", " : L"") + json_string(value.texts[i]);
    return out + L"]";
}

std::wstring joined(const Value& value)
{
    std::wstring out;
    for (std::size_t i = 0; i < value.texts.size(); ++i)
        out += (i ? L"; " : L"") + value.texts[i];
    return out;
}

// The page's fields: label, JSON name, and the value as text or number.
struct Field {
    const wchar_t* label;
    const wchar_t* json_name;
    std::wstring text;
    enum Kind { Text, Flag, Number } kind;
};

std::vector<Field> page_fields(const MobiBook& book)
{
    auto flag = [](bool on) { return std::wstring(on ? L"true" : L"false"); };
    return {
        {L"File name", L"file_name", book.file_name, Field::Text},
        {L"Publisher", L"publisher", book.publisher, Field::Text},
        {L"Created", L"created", book.created_date, Field::Text},
        {L"Published", L"published", book.published_date, Field::Text},
        {L"Sample", L"sample", flag(book.is_sample), Field::Flag},
        {L"Personal", L"personal", flag(book.is_personal), Field::Flag},
        {L"Encrypted", L"encrypted", flag(book.is_encrypted), Field::Flag},
        {L"Cover size", L"cover_size", std::to_wstring(book.cover_size), Field::Number},
        {L"Source size", L"source_size", std::to_wstring(book.source_size), Field::Number},
    };
}

void print_text(const std::vector<Property>& properties, const std::vector<Field>& fields)
{
    constexpr std::size_t COLUMN = 18;
    auto line = [](std::wstring label, const std::wstring& text) {
        if (label.size() < COLUMN)
            label.resize(COLUMN, L' ');
        print(label + L" " + text);
    };
    for (const Property& property : properties)
        line(property.name, joined(property.value));
    for (const Field& field : fields) {
        std::wstring text = field.text;
        if (field.kind == Field::Flag)
            text = text == L"true" ? L"Yes" : L"No";
        else if (field.kind == Field::Number)
            text = text == L"0" ? L"none" : text + L" bytes";
        line(field.label, text);
    }
}

void print_json(const std::wstring& path, const std::vector<Property>& properties,
                const std::vector<Field>& fields)
{
    std::wstring out = L"{\n  \"file\": " + json_string(full_path(path)) + L",\n";
    out += L"  \"properties\": {";
    for (std::size_t i = 0; i < properties.size(); ++i)
        out += (i ? L",\n    " : L"\n    ") + json_string(properties[i].name) + L": " +
               json_value(properties[i].value);
    out += properties.empty() ? L"},\n" : L"\n  },\n";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Field& field = fields[i];
        out += L"  " + json_string(field.json_name) + L": " +
               (field.kind == Field::Text ? json_string(field.text) : field.text) +
               (i + 1 < fields.size() ? L",\n" : L"\n");
    }
    print(out + L"}");
}

// True when name ends in one of the extensions the handler serves.
bool is_book_name(const std::wstring& name)
{
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos)
        return false;
    for (const std::string& extension : registration::extensions())
        if (CompareStringOrdinal(name.c_str() + dot, -1, utf16(extension).c_str(), -1, TRUE) ==
            CSTR_EQUAL)
            return true;
    return false;
}

// The books in folder, in the order the file system lists them; with
// recursive, those of its subfolders too, each after its folder's files.
void books_in_folder(const std::wstring& folder, bool recursive, std::vector<std::wstring>* books)
{
    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr,
                                             FIND_FIRST_EX_LARGE_FETCH));
    if (!search)
        return;
    std::vector<std::wstring> folders;
    do {
        const std::wstring name = found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // Links to folders are not followed, so a loop cannot be.
            if (recursive && name != L"." && name != L".." &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                folders.push_back(folder + L"\\" + name);
        } else if (is_book_name(name)) {
            books->push_back(folder + L"\\" + name);
        }
    } while (FindNextFileW(search.get(), &found));
    for (const std::wstring& inner : folders)
        books_in_folder(inner, recursive, books);
}

// The properties of one book, printed as text or as one JSON object.
ExitCode print_book(const std::wstring& path, const Arguments& args)
{
    BookPtr book;
    if (const ExitCode code = open_book(path, &book))
        return code;

    ComPtr<IPropertyStore> store;
    if (const ExitCode code = create_handler(args.option(L"--dll"), IID_PPV_ARGS(&store)))
        return code;
    if (const ExitCode code = initialize_with_file_stream(store.Get(), full_path(path)))
        return code;
    std::vector<Property> properties;
    const HRESULT hr = read_store(store.Get(), &properties);
    if (FAILED(hr)) {
        print_error(L"cannot read the properties of " + path + L": " + describe(hr));
        return EXIT_FAILED;
    }
    const std::vector<Field> fields = page_fields(*book.Get());
    if (args.has(L"--json"))
        print_json(path, properties, fields);
    else
        print_text(properties, fields);
    return EXIT_OK;
}

}  // namespace

ExitCode run_properties(const Arguments& args)
{
    if (args.positional.empty()) {
        print_error(L"properties needs a BOOK (see quirebinder properties --help)");
        return EXIT_USAGE;
    }
    std::vector<std::wstring> books;
    bool folder_given = false;
    for (const std::wstring& path : args.positional) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            folder_given = true;
            books_in_folder(path, args.has(L"--recursive"), &books);
        } else {
            books.push_back(path);
        }
    }
    if (!folder_given && books.size() == 1)
        return print_book(books[0], args);
    if (!args.has(L"--json")) {
        print_error(L"several books or a folder are listed with --json");
        return EXIT_USAGE;
    }
    // Every book gets its object, one that cannot be read an "error" in
    // place of its properties (the reason goes to standard error). The
    // status is that of the first book not listed; a module that cannot be
    // loaded ends the listing.
    ExitCode status = EXIT_OK;
    for (const std::wstring& path : books) {
        const ExitCode code = print_book(path, args);
        if (code == EXIT_OK)
            continue;
        print(L"{\n  \"file\": " + json_string(full_path(path)) + L",\n  \"error\": " +
              json_string(code == EXIT_NOT_MOBI ? L"not a MOBI book"
                          : code == EXIT_NO_FILE ? L"cannot be read"
                                                 : L"properties not read") +
              L"\n}");
        if (status == EXIT_OK)
            status = code;
        if (code == EXIT_NO_MODULE)
            break;
    }
    return status;
}
