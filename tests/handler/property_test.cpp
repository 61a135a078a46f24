// Shell properties through IPropertyStore and IPropertySetStorage, backed by
// the test tree's stand-in property system.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/handler/handler_test_support.h"
#include "tests/support/propsys_stand_in.h"

#include <propkey.h>

using namespace handler_test;

namespace {

const PROPERTYKEY UNNAMED_KEY = {
    {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}}, 99};

std::wstring language_of(LCID locale)
{
    wchar_t name[256] = {};
    GetLocaleInfoW(locale, LOCALE_SLANGUAGE, name, 256);
    return name;
}

std::wstring string_value(const PROPVARIANT& value)
{
    return value.vt == VT_LPWSTR && value.pwszVal ? value.pwszVal : L"(not a string)";
}

std::vector<std::wstring> vector_value(const PROPVARIANT& value)
{
    std::vector<std::wstring> texts;
    if (value.vt == (VT_VECTOR | VT_LPWSTR))
        for (ULONG i = 0; i < value.calpwstr.cElems; ++i)
            texts.push_back(value.calpwstr.pElems[i]);
    return texts;
}

class Properties : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_options();
        delete_log();
    }
    void TearDown() override { clear_options(); }

    static HRESULT value_of(IPropertyStore* store, REFPROPERTYKEY key, PROPVARIANT* value)
    {
        PropVariantInit(value);
        return store->GetValue(key, value);
    }
};

TEST_F(Properties, FixtureBooksGiveTitleLanguageAndTheAuthorList)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    struct Case {
        const wchar_t* file;
        const wchar_t* title;
        LCID locale;
        std::vector<std::wstring> authors;
    };
    const Case cases[] = {
        {L"cafe-noir.mobi", L"Caf\u00e9 Noir", 12, {L"Jane Doe", L"John Roe"}},
        {L"wagahai.mobi", L"\u543e\u8f29\u306f\u732b\u3067\u3042\u308b", 17,
         {L"\u590f\u76ee\u6f31\u77f3"}},
        {L"personal.mobi", L"My Notes", 2057, {L"Me Myself"}},
    };
    for (const Case& c : cases) {
        ComPtr<IPropertyStore> store = handler_on<IPropertyStore>(book_path(c.file));
        ASSERT_TRUE(store);
        DWORD count = 0;
        EXPECT_EQ(S_OK, store->GetCount(&count)) << c.file;
        EXPECT_EQ(3u, count) << c.file;

        PROPVARIANT value;
        EXPECT_EQ(S_OK, value_of(store.Get(), PKEY_Title, &value));
        EXPECT_EQ(c.title, string_value(value)) << c.file;
        PropVariantClear(&value);
        EXPECT_EQ(S_OK, value_of(store.Get(), PKEY_Language, &value));
        EXPECT_FALSE(language_of(c.locale).empty());
        EXPECT_EQ(language_of(c.locale), string_value(value)) << c.file;
        PropVariantClear(&value);
        EXPECT_EQ(S_OK, value_of(store.Get(), PKEY_Author, &value));
        EXPECT_EQ(c.authors, vector_value(value)) << c.file;
        PropVariantClear(&value);

        // A property set request afterwards keeps the list form.
        ComPtr<IPropertySetStorage> sets;
        ASSERT_EQ(S_OK, store.As(&sets));
        ComPtr<IPropertyStorage> summary;
        EXPECT_EQ(S_OK, sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                   &summary));
        EXPECT_EQ(S_OK, value_of(store.Get(), PKEY_Author, &value));
        EXPECT_EQ(VT_VECTOR | VT_LPWSTR, value.vt);
        PropVariantClear(&value);
    }
    EXPECT_EQ(S_OK, qb_module().DllCanUnloadNow());
}

TEST_F(Properties, PropertySetsFirstGiveTheCreatorAsOneString)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    ComPtr<IPropertyStore> store = handler_on<IPropertyStore>(book_path(L"cafe-noir.mobi"));
    ASSERT_TRUE(store);
    ComPtr<IPropertySetStorage> sets;
    ASSERT_EQ(S_OK, store.As(&sets));
    ComPtr<IPropertyStorage> summary;
    ASSERT_EQ(S_OK, sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE,
                               &summary));
    ASSERT_TRUE(summary);

    PROPSPEC specs[2] = {};
    specs[0].ulKind = PRSPEC_PROPID;
    specs[0].propid = 2;  // title
    specs[1].ulKind = PRSPEC_PROPID;
    specs[1].propid = 4;  // author
    PROPVARIANT values[2];
    PropVariantInit(&values[0]);
    PropVariantInit(&values[1]);
    ASSERT_EQ(S_OK, summary->ReadMultiple(2, specs, values));
    EXPECT_EQ(L"Caf\u00e9 Noir", string_value(values[0]));
    EXPECT_EQ(L"Jane Doe; John Roe", string_value(values[1]));
    FreePropVariantArray(2, values);

    // The store keeps the single string for IPropertyStore as well.
    PROPVARIANT value;
    EXPECT_EQ(S_OK, value_of(store.Get(), PKEY_Author, &value));
    EXPECT_EQ(L"Jane Doe; John Roe", string_value(value));
    PropVariantClear(&value);

    ComPtr<IEnumSTATPROPSETSTG> sets_enum;
    EXPECT_EQ(S_OK, sets->Enum(&sets_enum));
    EXPECT_TRUE(sets_enum);

    summary.Reset(), sets_enum.Reset(), sets.Reset(), store.Reset();
    EXPECT_EQ(0, stand_in_live_objects());  // store and adapter released with the handler
}

TEST_F(Properties, BookWithoutMetadataGivesAnEmptyStore)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    mobi_test::MobiBuilder builder;
    builder.title = "";
    builder.locale = 0;
    builder.add_text(64);
    ComPtr<IStream> stream = memory_stream(builder.build().bytes);
    ComPtr<IPropertyStore> store = handler_on<IPropertyStore>(stream.Get());
    ASSERT_TRUE(store);
    DWORD count = 7;
    EXPECT_EQ(S_OK, store->GetCount(&count));
    EXPECT_EQ(0u, count);
}

TEST_F(Properties, NotAMobiBookFailsWithEmptyResults)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    ComPtr<IPropertyStore> store = handler_on<IPropertyStore>(book_path(L"palmdoc.pdb"));
    ASSERT_TRUE(store);
    DWORD count = 7;
    EXPECT_EQ(E_FAIL, store->GetCount(&count));
    EXPECT_EQ(0u, count);
    PROPVARIANT value;
    value.vt = VT_I4;
    EXPECT_EQ(E_FAIL, store->GetValue(PKEY_Title, &value));
    EXPECT_EQ(VT_EMPTY, value.vt);
    PROPERTYKEY key = PKEY_Title;
    EXPECT_EQ(E_FAIL, store->GetAt(0, &key));
    EXPECT_EQ(0u, key.pid);
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, key.fmtid));
}

TEST_F(Properties, WritesAreRefusedEvenBeforeInitialisation)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    ComPtr<IPropertyStore> store = qb_create<IPropertyStore>();
    ASSERT_TRUE(store);
    PROPVARIANT value;
    PropVariantInit(&value);
    EXPECT_EQ(STG_E_ACCESSDENIED, store->SetValue(PKEY_Title, value));
    ComPtr<IPropertyStoreCapabilities> capabilities;
    ASSERT_EQ(S_OK, store.As(&capabilities));
    EXPECT_EQ(S_FALSE, capabilities->IsPropertyWritable(PKEY_Title));
    EXPECT_EQ(S_FALSE, capabilities->IsPropertyWritable(UNNAMED_KEY));
    DWORD count = 7;
    EXPECT_EQ(E_FAIL, store->GetCount(&count));
    EXPECT_EQ(E_POINTER, store->GetCount(nullptr));
    EXPECT_EQ(E_POINTER, store->GetValue(PKEY_Title, nullptr));

    ComPtr<IPropertySetStorage> sets;
    ASSERT_EQ(S_OK, store.As(&sets));
    for (DWORD mode : {DWORD(STGM_WRITE), DWORD(STGM_READWRITE),
                       DWORD(STGM_READWRITE | STGM_SHARE_EXCLUSIVE)}) {
        IPropertyStorage* storage = reinterpret_cast<IPropertyStorage*>(1);
        EXPECT_EQ(STG_E_ACCESSDENIED, sets->Open(FMTID_SummaryInformation, mode, &storage));
        EXPECT_EQ(nullptr, storage);
    }
    IPropertyStorage* created = reinterpret_cast<IPropertyStorage*>(1);
    EXPECT_EQ(STG_E_ACCESSDENIED, sets->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_DEFAULT,
                                               STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                               &created));
    EXPECT_EQ(nullptr, created);
    EXPECT_EQ(STG_E_ACCESSDENIED, sets->Delete(FMTID_SummaryInformation));
    IEnumSTATPROPSETSTG* sets_enum = reinterpret_cast<IEnumSTATPROPSETSTG*>(1);
    EXPECT_EQ(E_FAIL, sets->Enum(&sets_enum));
    EXPECT_EQ(nullptr, sets_enum);
    IPropertyStorage* opened = reinterpret_cast<IPropertyStorage*>(1);
    EXPECT_EQ(E_FAIL, sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &opened));
    EXPECT_EQ(nullptr, opened);
}

TEST_F(Properties, CommitLetsGoOfTheBooksAndKeepsTheStore)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    ComPtr<IPropertyStore> store = handler_on<IPropertyStore>(book_path(L"cafe-noir.mobi"));
    ASSERT_TRUE(store);
    EXPECT_EQ(S_OK, store->Commit());
    DWORD count = 7;
    EXPECT_EQ(E_FAIL, store->GetCount(&count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(E_FAIL, store->Commit());
    ComPtr<IPropertySetStorage> sets;
    ASSERT_EQ(S_OK, store.As(&sets));
    ComPtr<IEnumSTATPROPSETSTG> sets_enum;
    EXPECT_EQ(E_FAIL, sets->Enum(&sets_enum));

    // A new book is accepted; the store is not rebuilt for it.
    ComPtr<IInitializeWithFile> init;
    ASSERT_EQ(S_OK, store.As(&init));
    ASSERT_EQ(S_OK, init->Initialize(book_path(L"small-cover.mobi").c_str(), STGM_READ));
    PROPVARIANT value;
    EXPECT_EQ(S_OK, value_of(store.Get(), PKEY_Title, &value));
    EXPECT_EQ(L"Caf\u00e9 Noir", string_value(value));
    PropVariantClear(&value);
}

TEST_F(Properties, WithoutThePropertySystemEveryReadFails)
{
    ASSERT_TRUE(use_propsys_variant("none"));
    set_option_dword(L"Debug", 2);
    ComPtr<IPropertyStore> store = handler_on<IPropertyStore>(book_path(L"cafe-noir.mobi"));
    ASSERT_TRUE(store);
    DWORD count = 7;
    EXPECT_EQ(E_FAIL, store->GetCount(&count));
    PROPVARIANT value;
    EXPECT_EQ(E_FAIL, value_of(store.Get(), PKEY_Title, &value));
    EXPECT_EQ(VT_EMPTY, value.vt);
    const std::vector<std::string> lines = log_messages();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "0002:GetValue:{???} ?"));
}

TEST_F(Properties, GetValueTraceNamesTheKey)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    set_option_dword(L"Debug", 2);
    ComPtr<IPropertyStore> store = qb_create<IPropertyStore>();
    ASSERT_TRUE(store);
    PROPVARIANT value;
    EXPECT_EQ(E_FAIL, value_of(store.Get(), PKEY_Title, &value));  // traced all the same
    EXPECT_EQ(E_FAIL, value_of(store.Get(), UNNAMED_KEY, &value));
    const std::vector<std::string> lines = log_messages();
    for (const char* line : {"0002:GetValue:{F29F85E0-4FF9-1068-AB91-08002B27B3D9} 2 (System.Title)",
                             "0002:GetValue:{12345678-1234-5678-0102-030405060708} 99"})
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line)) << line;
}

}  // namespace
