// The stand-in propsys.dll as the module's tests rely on it: where each
// variant is found, what each exports, and how its functions and objects
// behave.
#include <windows.h>
#include <propidl.h>
#include <propsys.h>
#include <propvarutil.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/propsys_stand_in.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr FMTID SUMMARY = {
    0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
constexpr FMTID DOCUMENT_SUMMARY = {
    0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
constexpr PROPERTYKEY TITLE = {SUMMARY, 2};
constexpr PROPERTYKEY AUTHOR = {SUMMARY, 4};
constexpr PROPERTYKEY LANGUAGE = {DOCUMENT_SUMMARY, 28};

const char* const LOOKED_UP[] = {"PSCreateMemoryPropertyStore", "PSCreateAdapterFromPropertyStore",
                                 "PSStringFromPropertyKey", "PSGetNameFromPropertyKey",
                                 "InitPropVariantFromStringVector"};

std::wstring propsys_in(const char* variant)
{
    return propsys_variant_folder(variant) + L"\\propsys.dll";
}

bool same_path(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The functions of the library that LoadLibraryA("propsys.dll") gives in
// the named variant that the module misses.
std::string missing_in(const char* variant)
{
    std::string missing;
    if (!use_propsys_variant(variant))
        return "(not chosen)";
    const HMODULE library = LoadLibraryA("propsys.dll");
    if (!library)
        return "(not loaded)";
    for (const char* name : LOOKED_UP)
        if (!GetProcAddress(library, name))
            missing += std::string(missing.empty() ? "" : " ") + name;
    FreeLibrary(library);
    return missing;
}

TEST(PropsysVariants, EachVariantLacksItsFunctionsInLookUpOrder)
{
    EXPECT_EQ("", missing_in("full"));
    EXPECT_EQ("InitPropVariantFromStringVector", missing_in("no-initvector"));
    EXPECT_EQ("PSStringFromPropertyKey InitPropVariantFromStringVector", missing_in("no-two"));
}

TEST(PropsysVariants, NoneFindsNoLibraryAndSwitchingBackWorks)
{
    ASSERT_TRUE(use_propsys_variant("none"));
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA("propsys.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ(L"", loaded_propsys_path());

    ASSERT_TRUE(use_propsys_variant("no-two"));
    HMODULE library = LoadLibraryA("propsys.dll");
    ASSERT_NE(nullptr, library);
    EXPECT_TRUE(same_path(propsys_in("no-two"), loaded_propsys_path()));
    EXPECT_EQ(0, stand_in_live_objects());
    FreeLibrary(library);
    EXPECT_EQ(-1, stand_in_live_objects());

    ASSERT_TRUE(use_propsys_variant("full"));
    library = LoadLibraryA("propsys.dll");
    ASSERT_NE(nullptr, library);
    EXPECT_TRUE(same_path(propsys_in("full"), loaded_propsys_path()));
    FreeLibrary(library);
}

TEST(PropsysVariants, SwitchingWhileOneIsLoadedFailsTheTest)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    const HMODULE library = LoadLibraryA("propsys.dll");
    ASSERT_NE(nullptr, library);
    EXPECT_NONFATAL_FAILURE(use_propsys_variant("none"), "is still loaded");
    EXPECT_NONFATAL_FAILURE(use_propsys_variant("half"), "no propsys.dll variant named half");
    FreeLibrary(library);
}

// The full stand-in, loaded by name as the module loads it.
class StandIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(use_propsys_variant("full"));
        library_ = LoadLibraryA("propsys.dll");
        ASSERT_NE(nullptr, library_);
        bind("PSCreateMemoryPropertyStore", create_store);
        bind("PSCreateAdapterFromPropertyStore", create_adapter);
        bind("PSStringFromPropertyKey", string_from_key);
        bind("PSGetNameFromPropertyKey", name_from_key);
        bind("InitPropVariantFromStringVector", init_string_vector);
        bind("PropVariantChangeType", change_type);
        bind("PropVariantCompareEx", compare);
    }

    void TearDown() override
    {
        if (library_) {
            EXPECT_EQ(0, stand_in_live_objects()) << "objects of the stand-in leaked";
            FreeLibrary(library_);
        }
    }

    template <class Function>
    void bind(const char* name, Function& target)
    {
        target = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library_, name)));
        ASSERT_NE(nullptr, target) << name;
    }

    ComPtr<IPropertyStore> new_store()
    {
        ComPtr<IPropertyStore> store;
        EXPECT_EQ(S_OK, create_store(IID_IPropertyStore, reinterpret_cast<void**>(store.GetAddressOf())));
        return store;
    }

    static void set_text(IPropertyStore* store, const PROPERTYKEY& key, const wchar_t* text)
    {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_LPWSTR;
        value.pwszVal = const_cast<LPWSTR>(text);  // SetValue copies it
        EXPECT_EQ(S_OK, store->SetValue(key, value));
    }

    // Title, author list and language, as the handler fills its store.
    ComPtr<IPropertyStore> book_store()
    {
        ComPtr<IPropertyStore> store = new_store();
        if (!store)
            return store;
        set_text(store.Get(), TITLE, L"A Title");
        PCWSTR authors[] = {L"Ann", L"Bob"};
        PROPVARIANT list;
        EXPECT_EQ(S_OK, init_string_vector(authors, 2, &list));
        EXPECT_EQ(S_OK, store->SetValue(AUTHOR, list));
        PropVariantClear(&list);
        set_text(store.Get(), LANGUAGE, L"English");
        return store;
    }

    ComPtr<IPropertySetStorage> adapter_over(IPropertyStore* store)
    {
        ComPtr<IPropertySetStorage> adapter;
        EXPECT_EQ(S_OK, create_adapter(store, IID_IPropertySetStorage,
                                       reinterpret_cast<void**>(adapter.GetAddressOf())));
        return adapter;
    }

    HMODULE library_ = nullptr;
    HRESULT(WINAPI* create_store)(REFIID, void**) = nullptr;
    HRESULT(WINAPI* create_adapter)(IPropertyStore*, REFIID, void**) = nullptr;
    HRESULT(WINAPI* string_from_key)(REFPROPERTYKEY, LPWSTR, UINT) = nullptr;
    HRESULT(WINAPI* name_from_key)(REFPROPERTYKEY, PWSTR*) = nullptr;
    HRESULT(WINAPI* init_string_vector)(PCWSTR*, ULONG, PROPVARIANT*) = nullptr;
    HRESULT(WINAPI* change_type)(PROPVARIANT*, REFPROPVARIANT, PROPVAR_CHANGE_FLAGS, VARTYPE) = nullptr;
    INT(WINAPI* compare)(REFPROPVARIANT, REFPROPVARIANT, PROPVAR_COMPARE_UNIT, PROPVAR_COMPARE_FLAGS) = nullptr;
};

TEST_F(StandIn, MemoryStoreKeepsCopiesInInsertionOrder)
{
    ComPtr<IPropertyStore> store = new_store();
    ASSERT_TRUE(store);
    EXPECT_EQ(1, stand_in_live_objects());
    ComPtr<IPropertySetStorage> not_offered;
    EXPECT_EQ(E_NOINTERFACE, store.As(&not_offered));

    wchar_t title[] = L"First";
    set_text(store.Get(), TITLE, title);
    title[0] = L'X';  // the store holds its own copy
    set_text(store.Get(), LANGUAGE, L"English");
    set_text(store.Get(), TITLE, L"Second");  // replaces, keeps the position

    DWORD count = 0;
    EXPECT_EQ(S_OK, store->GetCount(&count));
    EXPECT_EQ(2u, count);
    PROPERTYKEY key = {};
    EXPECT_EQ(S_OK, store->GetAt(0, &key));
    EXPECT_TRUE(key.fmtid == SUMMARY && key.pid == 2);
    EXPECT_EQ(S_OK, store->GetAt(1, &key));
    EXPECT_TRUE(key.fmtid == DOCUMENT_SUMMARY && key.pid == 28);
    EXPECT_EQ(E_INVALIDARG, store->GetAt(2, &key));

    PROPVARIANT value;
    EXPECT_EQ(S_OK, store->GetValue(TITLE, &value));
    ASSERT_EQ(VT_LPWSTR, value.vt);
    EXPECT_STREQ(L"Second", value.pwszVal);
    PropVariantClear(&value);
    EXPECT_EQ(S_OK, store->GetValue(AUTHOR, &value));
    EXPECT_EQ(VT_EMPTY, value.vt);
    EXPECT_EQ(S_OK, store->Commit());

    EXPECT_EQ(E_POINTER, store->GetCount(nullptr));
    EXPECT_EQ(E_POINTER, store->GetAt(0, nullptr));
    EXPECT_EQ(E_POINTER, store->GetValue(TITLE, nullptr));
    void* nothing = &value;
    EXPECT_EQ(E_POINTER, create_store(IID_IPropertyStore, nullptr));
    EXPECT_EQ(E_NOINTERFACE, create_store(IID_IPropertySetStorage, &nothing));
    EXPECT_EQ(nullptr, nothing);
}

TEST_F(StandIn, AdapterOpensOneSetPerFormatIdAndReadsCopies)
{
    ComPtr<IPropertySetStorage> adapter = adapter_over(book_store().Get());  // holds the store
    ASSERT_TRUE(adapter);

    ComPtr<IPropertyStorage> summary;
    ASSERT_EQ(S_OK, adapter->Open(SUMMARY, STGM_READ | STGM_SHARE_EXCLUSIVE, &summary));
    PROPSPEC specs[3] = {};
    specs[0].ulKind = specs[1].ulKind = specs[2].ulKind = PRSPEC_PROPID;
    specs[0].propid = 2;
    specs[1].propid = 3;
    specs[2].propid = 4;
    PROPVARIANT values[3];
    ASSERT_EQ(S_OK, summary->ReadMultiple(3, specs, values));
    ASSERT_EQ(VT_LPWSTR, values[0].vt);
    EXPECT_STREQ(L"A Title", values[0].pwszVal);
    EXPECT_EQ(VT_EMPTY, values[1].vt);
    ASSERT_EQ(VT_VECTOR | VT_LPWSTR, values[2].vt);
    ASSERT_EQ(2u, values[2].calpwstr.cElems);
    EXPECT_STREQ(L"Bob", values[2].calpwstr.pElems[1]);
    FreePropVariantArray(3, values);
    EXPECT_EQ(S_FALSE, summary->ReadMultiple(1, &specs[1], values));
    EXPECT_EQ(VT_EMPTY, values[0].vt);

    STATPROPSETSTG stat = {};
    EXPECT_EQ(S_OK, summary->Stat(&stat));
    EXPECT_TRUE(stat.fmtid == SUMMARY);
    ComPtr<IEnumSTATPROPSTG> ids;
    ASSERT_EQ(S_OK, summary->Enum(&ids));
    STATPROPSTG found[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, ids->Next(3, found, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(2u, found[0].propid);
    EXPECT_EQ(4u, found[1].propid);
    EXPECT_EQ(VT_VECTOR | VT_LPWSTR, found[1].vt);
    EXPECT_EQ(STG_E_ACCESSDENIED, summary->WriteMultiple(1, specs, values, 2));

    ComPtr<IPropertyStorage> other;
    EXPECT_EQ(STG_E_FILENOTFOUND, adapter->Open(FMTID_UserDefinedProperties, STGM_READ, &other));
    EXPECT_EQ(STG_E_ACCESSDENIED, adapter->Open(SUMMARY, STGM_READWRITE, &other));
    EXPECT_EQ(STG_E_ACCESSDENIED, adapter->Create(SUMMARY, nullptr, 0, STGM_READ, &other));
    EXPECT_EQ(nullptr, other.Get());
    EXPECT_EQ(STG_E_ACCESSDENIED, adapter->Delete(SUMMARY));
}

TEST_F(StandIn, AdapterEnumListsFormatIdsOnce)
{
    ComPtr<IPropertySetStorage> adapter = adapter_over(book_store().Get());
    ASSERT_TRUE(adapter);
    ComPtr<IEnumSTATPROPSETSTG> sets;
    ASSERT_EQ(S_OK, adapter->Enum(&sets));
    STATPROPSETSTG items[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, sets->Next(3, items, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_TRUE(items[0].fmtid == SUMMARY);
    EXPECT_TRUE(items[1].fmtid == DOCUMENT_SUMMARY);

    EXPECT_EQ(S_OK, sets->Reset());
    EXPECT_EQ(S_OK, sets->Skip(1));
    ComPtr<IEnumSTATPROPSETSTG> copy;
    ASSERT_EQ(S_OK, sets->Clone(&copy));
    EXPECT_EQ(S_FALSE, sets->Skip(2));
    EXPECT_EQ(S_FALSE, sets->Next(1, items, nullptr));
    EXPECT_EQ(S_OK, copy->Next(1, items, nullptr));  // the clone kept the position
    EXPECT_TRUE(items[0].fmtid == DOCUMENT_SUMMARY);
    EXPECT_EQ(E_INVALIDARG, copy->Next(2, items, nullptr));
}

TEST_F(StandIn, KeyTextHonoursTheBufferSize)
{
    const wchar_t expected[] = L"{F29F85E0-4FF9-1068-AB91-08002B27B3D9} 2";
    wchar_t text[64];
    EXPECT_EQ(S_OK, string_from_key(TITLE, text, 50));
    EXPECT_STREQ(expected, text);
    EXPECT_EQ(S_OK, string_from_key(TITLE, text, ARRAYSIZE(expected)));
    EXPECT_STREQ(expected, text);
    EXPECT_EQ(E_NOT_SUFFICIENT_BUFFER, string_from_key(TITLE, text, ARRAYSIZE(expected) - 1));
    EXPECT_STREQ(L"", text);
    // The longest text, property ID 4294967295, fits the module's 50 characters.
    EXPECT_EQ(S_OK, string_from_key(PROPERTYKEY{DOCUMENT_SUMMARY, 0xFFFFFFFF}, text, 50));
    EXPECT_STREQ(L"{D5CDD502-2E9C-101B-9397-08002B2CF9AE} 4294967295", text);
}

TEST_F(StandIn, CanonicalNamesOfTheBookKeys)
{
    const struct {
        PROPERTYKEY key;
        const wchar_t* name;
    } known[] = {{TITLE, L"System.Title"}, {AUTHOR, L"System.Author"}, {LANGUAGE, L"System.Language"}};
    for (const auto& entry : known) {
        PWSTR name = nullptr;
        EXPECT_EQ(S_OK, name_from_key(entry.key, &name));
        EXPECT_STREQ(entry.name, name);
        CoTaskMemFree(name);
    }
    PWSTR name = reinterpret_cast<PWSTR>(1);
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, name_from_key(PROPERTYKEY{SUMMARY, 3}, &name));
    EXPECT_EQ(nullptr, name);
}

TEST_F(StandIn, StringVectorHoldsCopies)
{
    wchar_t first[] = L"Ann";
    PCWSTR strings[] = {first, L"Bob"};
    PROPVARIANT value;
    ASSERT_EQ(S_OK, init_string_vector(strings, 2, &value));
    first[0] = L'X';
    ASSERT_EQ(VT_VECTOR | VT_LPWSTR, value.vt);
    ASSERT_EQ(2u, value.calpwstr.cElems);
    EXPECT_STREQ(L"Ann", value.calpwstr.pElems[0]);
    EXPECT_STREQ(L"Bob", value.calpwstr.pElems[1]);
    EXPECT_EQ(S_OK, PropVariantClear(&value));

    EXPECT_EQ(S_OK, init_string_vector(nullptr, 0, &value));
    EXPECT_EQ(VT_VECTOR | VT_LPWSTR, value.vt);
    EXPECT_EQ(0u, value.calpwstr.cElems);
    EXPECT_EQ(S_OK, PropVariantClear(&value));
}

// What the imaging component asks of the two helpers it imports.
TEST_F(StandIn, ChangeTypeAndCompareForTheImagingComponent)
{
    PROPVARIANT text;
    PropVariantInit(&text);
    text.vt = VT_LPWSTR;
    text.pwszVal = const_cast<LPWSTR>(L"274");
    PROPVARIANT number;
    ASSERT_EQ(S_OK, change_type(&number, text, 0, VT_UI2));
    EXPECT_EQ(VT_UI2, number.vt);
    EXPECT_EQ(274, number.uiVal);
    text.pwszVal = const_cast<LPWSTR>(L"70000");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW), change_type(&number, text, 0, VT_UI2));
    EXPECT_EQ(VT_EMPTY, number.vt);

    PROPVARIANT wide;
    PropVariantInit(&wide);
    wide.vt = VT_UI4;
    wide.ulVal = 274;
    text.pwszVal = const_cast<LPWSTR>(L"274");
    EXPECT_EQ(0, compare(wide, text, PVCU_DEFAULT, PVCF_DEFAULT));
    wide.ulVal = 275;
    EXPECT_GT(compare(wide, text, PVCU_DEFAULT, PVCF_DEFAULT), 0);

    PROPVARIANT upper = text;
    upper.pwszVal = const_cast<LPWSTR>(L"IFD");
    text.pwszVal = const_cast<LPWSTR>(L"ifd");
    EXPECT_NE(0, compare(upper, text, PVCU_DEFAULT, PVCF_DEFAULT));
    EXPECT_EQ(0, compare(upper, text, PVCU_DEFAULT, PVCF_USESTRCMPI));
    PROPVARIANT empty;
    PropVariantInit(&empty);
    EXPECT_LT(compare(empty, text, PVCU_DEFAULT, PVCF_DEFAULT), 0);
    EXPECT_GT(compare(empty, text, PVCU_DEFAULT, PVCF_TREATEMPTYASGREATERTHAN), 0);
}

HRESULT create_imaging_factory()
{
    ComPtr<IWICImagingFactory> factory;
    return CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_PPV_ARGS(&factory));
}

// Wine's windowscodecs.dll imports from propsys.dll and finds only a stand-in
// that is already loaded; from then on it keeps that one loaded.
TEST(PropsysImaging, ImagingComponentBindsTheLoadedStandIn)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    const HMODULE library = LoadLibraryA("propsys.dll");  // as the module binds it
    ASSERT_NE(nullptr, library);
    EXPECT_EQ(S_OK, create_imaging_factory());
    FreeLibrary(library);
    EXPECT_TRUE(same_path(propsys_in("full"), loaded_propsys_path()));
    EXPECT_NONFATAL_FAILURE(use_propsys_variant("none"), "is still loaded");
}

TEST(PropsysImaging, LoadImagingComponentWhenNoStandInIsLoaded)
{
    ASSERT_TRUE(use_propsys_variant("none"));
    EXPECT_EQ(nullptr, LoadLibraryA("propsys.dll"));
    EXPECT_NE(S_OK, create_imaging_factory());
    ASSERT_TRUE(load_imaging_component());
    EXPECT_EQ(S_OK, create_imaging_factory());
    EXPECT_TRUE(same_path(propsys_in("full"), loaded_propsys_path()));
}

}  // namespace
