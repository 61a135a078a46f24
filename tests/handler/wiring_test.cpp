// What the reader finds must reach every caller unchanged, each failure must
// be reported as a failure and logged once, and objects handed out by the
// property system must stay usable after the module has let it go.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "server/com_boundary.h"
#include "tests/handler/handler_test_support.h"
#include "tests/support/import_patch.h"
#include "tests/support/propsys_stand_in.h"

#include <propkey.h>

using namespace handler_test;
using mobi_test::MobiBuilder;

namespace {

// The stand-in's injected failure (tests/propsys/stand_in.h).
const HRESULT STAND_IN_FAILURE = HRESULT(0x8007001FL);

void fail_propsys_call(const char* function)
{
    SetEnvironmentVariableA("QB_PROPSYS_FAIL", function);
}

std::wstring text_of(IPropertyStore* store, REFPROPERTYKEY key)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    std::wstring text = L"(failed)";
    if (SUCCEEDED(store->GetValue(key, &value))) {
        if (value.vt == VT_EMPTY)
            text = L"(empty)";
        else if (value.vt == VT_LPWSTR)
            text = value.pwszVal;
        else if (value.vt == (VT_VECTOR | VT_LPWSTR))
            for (ULONG i = 0; i < value.calpwstr.cElems; ++i)
                text = (i ? text + L"|" : L"[") + value.calpwstr.pElems[i];
    }
    PropVariantClear(&value);
    return text;
}

std::wstring summary_author(IPropertySetStorage* sets)
{
    ComPtr<IPropertyStorage> summary;
    if (FAILED(sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &summary)))
        return L"(failed)";
    PROPSPEC spec = {};
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = 4;  // PIDSI_AUTHOR
    PROPVARIANT value;
    PropVariantInit(&value);
    std::wstring text = L"(none)";
    if (summary->ReadMultiple(1, &spec, &value) == S_OK && value.vt == VT_LPWSTR)
        text = value.pwszVal;
    PropVariantClear(&value);
    return text;
}

std::vector<std::string> ensure_lines()
{
    std::vector<std::string> lines;
    for (const std::string& line : log_messages())
        if (line.rfind("ENSURE failed:", 0) == 0)
            lines.push_back(line);
    return lines;
}

class Wiring : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_options();
        delete_log();
        SetEnvironmentVariableA("QB_PROPSYS_FAIL", nullptr);
        ASSERT_TRUE(use_propsys_variant("full"));
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("QB_PROPSYS_FAIL", nullptr);
        clear_options();
    }
};

// A book whose first image index is 0xFFFFFFFF has no images: it is valid,
// shows its properties and has no thumbnail, even where EXTH names a cover.
TEST_F(Wiring, BooksWithoutImageRecordsAreValidWithoutACover)
{
    MobiBuilder builder;
    builder.title = "No Pictures";
    builder.exth(100, "Writer").exth_u32(201, 0).exth_u32(202, 0);
    builder.add_text(256);
    builder.image_record_base = 0xFFFFFFFF;
    const ComPtr<IStream> built = memory_stream(builder.build().bytes);
    struct Case {
        const char* what;
        IStream* stream;
        const wchar_t* title;
        const wchar_t* author;
    };
    const Case cases[] = {
        {"builder", built.Get(), L"No Pictures", L"[Writer"},
        {"calibre", file_stream(book_path(L"plain-words.azw3")).Detach(), L"Plain Words",
         L"[Ada Text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IPropertyStore> store = handler_on<IPropertyStore>(c.stream);
        ASSERT_TRUE(store);
        EXPECT_EQ(c.title, text_of(store.Get(), PKEY_Title));
        EXPECT_EQ(c.author, text_of(store.Get(), PKEY_Author));
        EXPECT_FALSE(text_of(store.Get(), PKEY_Language).empty());
        ComPtr<IThumbnailProvider> provider;
        ASSERT_EQ(S_OK, store.As(&provider));
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha;
        EXPECT_EQ(E_NOTIMPL, provider->GetThumbnail(256, &bitmap, &alpha));
        EXPECT_EQ(nullptr, bitmap);
    }
    cases[1].stream->Release();
}

HBITMAP WINAPI failing_create_dib_section(HDC, const BITMAPINFO*, UINT, void** bits, HANDLE,
                                          DWORD)
{
    if (bits)
        *bits = nullptr;
    SetLastError(0);
    return nullptr;
}

// One failure gives a failure status (never S_OK, even when the failed call
// left no last error) and exactly one "ENSURE failed" line, at its step.
TEST_F(Wiring, OneFailureIsReportedAndLoggedOnce)
{
    const mobi_test::Bytes broken_cover =
        book_with_cover(mobi_test::image_bytes(mobi_test::JPEG_JFIF, 300));
    struct Case {
        const char* what;
        std::function<HRESULT()> run;
        HRESULT expected;
        const char* logged_in;
    };
    const Case cases[] = {
        {"CreateDIBSection fails with last error 0",
         [] {
             const HMODULE dll = qb_module().dll;
             EXPECT_TRUE(patch_import(dll, "CreateDIBSection",
                                      reinterpret_cast<void*>(&failing_create_dib_section)));
             ComPtr<IThumbnailProvider> provider =
                 handler_on<IThumbnailProvider>(book_path(L"cafe-noir.mobi"));
             HBITMAP bitmap = nullptr;
             WTS_ALPHATYPE alpha;
             const HRESULT hr = provider->GetThumbnail(96, &bitmap, &alpha);
             EXPECT_EQ(nullptr, bitmap);
             patch_import(dll, "CreateDIBSection",
                          system_function<void*>(L"gdi32.dll", "CreateDIBSection"));
             return hr;
         },
         E_OUTOFMEMORY, "dib.cpp"},
        {"cover that does not decode",
         [&] {
             ComPtr<IThumbnailProvider> provider =
                 handler_on<IThumbnailProvider>(memory_stream(broken_cover).Get());
             HBITMAP bitmap = nullptr;
             WTS_ALPHATYPE alpha;
             return provider->GetThumbnail(96, &bitmap, &alpha);
         },
         0, "cover_image.cpp"},
        {"property set whose store cannot take a value",
         [] {
             fail_propsys_call("SetValue");
             ComPtr<IPropertySetStorage> sets =
                 handler_on<IPropertySetStorage>(book_path(L"cafe-noir.mobi"));
             ComPtr<IPropertyStorage> storage;
             return sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE,
                               &storage);
         },
         STAND_IN_FAILURE, "property_store.cpp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        finalize_module_now();
        delete_log();
        set_option_dword(L"Debug", 1);
        const HRESULT hr = c.run();
        SetEnvironmentVariableA("QB_PROPSYS_FAIL", nullptr);
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        if (c.expected) {
            EXPECT_EQ(c.expected, hr);
        }
        const std::vector<std::string> lines = ensure_lines();
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(0u, lines[0].find(std::string("ENSURE failed:") + c.logged_in)) << lines[0];
    }
}

// A property set handed to a caller lives in propsys.dll; the caller may
// use and release it after the module has finalised and freed the library.
TEST_F(Wiring, PropertySetsOutliveTheModule)
{
    ComPtr<IPropertyStorage> storage;
    ComPtr<IEnumSTATPROPSETSTG> sets_enum;
    {
        ComPtr<IPropertySetStorage> sets =
            handler_on<IPropertySetStorage>(book_path(L"cafe-noir.mobi"));
        ASSERT_TRUE(sets);
        ASSERT_EQ(S_OK, sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                   &storage));
        ASSERT_EQ(S_OK, sets->Enum(&sets_enum));
    }
    finalize_module_now();
    PROPSPEC spec = {};
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = 2;  // PIDSI_TITLE
    PROPVARIANT value;
    PropVariantInit(&value);
    EXPECT_EQ(S_OK, storage->ReadMultiple(1, &spec, &value));
    EXPECT_EQ(VT_LPWSTR, value.vt);
    PropVariantClear(&value);
    STATPROPSETSTG set = {};
    EXPECT_EQ(S_OK, sets_enum->Next(1, &set, nullptr));
    storage.Reset();
    sets_enum.Reset();
    EXPECT_EQ(0, stand_in_live_objects());
}

// Code page 1252 texts, the flags and the contributors as every reader sees
// them: the book itself, the property store and the property sets.
TEST_F(Wiring, BookFieldsReachTheBookTheStoreAndTheSets)
{
    struct Case {
        const char* what;
        std::function<void(MobiBuilder&)> make;
        const wchar_t* title;
        std::vector<std::wstring> authors, contributors;
        bool sample, encrypted;
        const wchar_t* store_author;
        const wchar_t* creator;
    };
    const Case cases[] = {
        {"code page 1252, sample, encrypted",
         [](MobiBuilder& b) {
             b.text_encoding = 1252, b.title = "Caf\xE9", b.encryption = 2;
             b.exth(100, "Ren\xE9" "e").exth(108, "Ed").exth(115, mobi_test::Bytes{});
         },
         L"Caf\u00e9", {L"Ren\u00e9e"}, {L"Ed"}, true, true, L"[Ren\u00e9e", L"Ren\u00e9e; Ed"},
        {"contributors without authors",
         [](MobiBuilder& b) { b.exth(108, "Ed").exth(108, "Flo"); },
         L"Test Book", {}, {L"Ed", L"Flo"}, false, false, L"(empty)", L"Ed; Flo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MobiBuilder builder;
        c.make(builder);
        builder.add_text(64);
        const mobi_test::Bytes bytes = builder.build().bytes;

        MobiBook book(memory_stream(bytes).Get());
        ASSERT_TRUE(book.is_valid());
        EXPECT_EQ(c.title, book.title);
        EXPECT_EQ(c.authors, book.authors);
        EXPECT_EQ(c.contributors, book.contributors);
        EXPECT_EQ(c.creator, book.creator);
        EXPECT_EQ(c.sample, book.is_sample);
        EXPECT_EQ(c.encrypted, book.is_encrypted);

        ComPtr<IPropertyStore> store = handler_on<IPropertyStore>(memory_stream(bytes).Get());
        ASSERT_TRUE(store);
        EXPECT_EQ(c.title, text_of(store.Get(), PKEY_Title));
        EXPECT_EQ(c.store_author, text_of(store.Get(), PKEY_Author));
        ComPtr<IPropertySetStorage> sets =
            handler_on<IPropertySetStorage>(memory_stream(bytes).Get());
        ASSERT_TRUE(sets);
        EXPECT_EQ(c.creator, summary_author(sets.Get()));
    }
}

// Nothing of a store whose building failed is kept, so the next request
// builds it again; a failing adapter keeps the store it was given.
TEST_F(Wiring, FailedPropertyStoreBuildsAreNotCached)
{
    for (const char* function :
         {"PSCreateMemoryPropertyStore", "InitPropVariantFromStringVector", "SetValue"}) {
        SCOPED_TRACE(function);
        ComPtr<IPropertyStore> store = handler_on<IPropertyStore>(book_path(L"cafe-noir.mobi"));
        ASSERT_TRUE(store);
        fail_propsys_call(function);
        DWORD count = 9;
        EXPECT_EQ(STAND_IN_FAILURE, store->GetCount(&count));
        EXPECT_FALSE(handler_of(store.Get())->property_store);
        fail_propsys_call(nullptr);
        EXPECT_EQ(S_OK, store->GetCount(&count));
        EXPECT_EQ(3u, count);
    }
    ComPtr<IPropertySetStorage> sets =
        handler_on<IPropertySetStorage>(book_path(L"cafe-noir.mobi"));
    ASSERT_TRUE(sets);
    fail_propsys_call("PSCreateAdapterFromPropertyStore");
    ComPtr<IPropertyStorage> storage;
    EXPECT_EQ(STAND_IN_FAILURE,
              sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &storage));
    BookHandler* handler = handler_of(sets.Get());
    const IPropertyStore* kept = handler->property_store.Get();
    EXPECT_TRUE(kept);
    EXPECT_FALSE(handler->property_set_storage);
    fail_propsys_call(nullptr);
    EXPECT_EQ(S_OK, sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &storage));
    EXPECT_EQ(kept, handler->property_store.Get());
}

// What an operation throws becomes its status at the boundary.
TEST(ComBoundary, ExceptionsBecomeStatusCodes)
{
    struct Case {
        std::function<HRESULT()> operation;
        HRESULT expected;
    };
    const Case cases[] = {
        {[]() -> HRESULT { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {[]() -> HRESULT { throw std::runtime_error("x"); }, E_UNEXPECTED},
        {[]() -> HRESULT { throw 7; }, E_UNEXPECTED},
        {[]() -> HRESULT { return S_FALSE; }, S_FALSE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, guard_boundary(E_UNEXPECTED, c.operation));
    EXPECT_EQ(E_FAIL, guard_boundary(E_FAIL, [] () -> HRESULT { throw 1; }));
}

}  // namespace
