// The handler's interfaces as the shell meets them: creation through the
// class factory, QueryInterface, identity, reference counting, the class ID
// and the stubs.
#include <gtest/gtest.h>

#include <algorithm>

#include <propsys.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include "tests/handler/handler_test_support.h"
#include "tests/support/propsys_stand_in.h"

using namespace handler_test;

namespace {

struct Offered {
    const IID* iid;
    const char* name;
};

// Every interface the handler offers, in the order QueryInterface tests them.
const Offered OFFERED[] = {
    {&__uuidof(IShellPropSheetExt), "IShellPropSheetExt"},
    {&__uuidof(IInitializeWithStream), "IInitializeWithStream"},
    {&__uuidof(IInitializeWithFile), "IInitializeWithFile"},
    {&__uuidof(IShellExtInit), "IShellExtInit"},
    {&__uuidof(IPersist), "IPersist"},
    {&__uuidof(IPersistFile), "IPersistFile"},
    {&__uuidof(IExtractImage), "IExtractImage"},
    {&__uuidof(IThumbnailProvider), "IThumbnailProvider"},
    {&__uuidof(IPropertyStore), "IPropertyStore"},
    {&__uuidof(IPropertyStoreCapabilities), "IPropertyStoreCapabilities"},
    {&__uuidof(IPropertySetStorage), "IPropertySetStorage"},
};

std::string iid_text(REFIID iid)
{
    wchar_t text[40] = {};
    StringFromGUID2(iid, text, 40);
    return std::string(text, text + wcslen(text));
}

class InterfaceMap : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_options();
        delete_log();
    }
    void TearDown() override { clear_options(); }
};

TEST_F(InterfaceMap, EveryInterfaceIsOfferedWithOneReferenceAndTracedByName)
{
    use_propsys_variant("full");
    set_option_dword(L"Debug", 2);
    ComPtr<IUnknown> handler = qb_create<IUnknown>();
    ASSERT_TRUE(handler);
    const ULONG before = other_references(handler.Get());

    std::vector<IUnknown*> pointers;
    for (const Offered& offered : OFFERED) {
        IUnknown* pointer = nullptr;
        ASSERT_EQ(S_OK, handler->QueryInterface(*offered.iid, reinterpret_cast<void**>(&pointer)))
            << offered.name;
        ASSERT_NE(nullptr, pointer);
        EXPECT_EQ(before + 1, other_references(handler.Get())) << offered.name;
        pointers.push_back(pointer);
        pointer->Release();
    }
    EXPECT_EQ(before, other_references(handler.Get()));

    // IPersist and IPersistFile are one pointer; IUnknown is none of the others.
    EXPECT_EQ(pointers[4], pointers[5]);
    for (IUnknown* pointer : pointers)
        EXPECT_NE(handler.Get(), pointer);
    for (std::size_t i = 0; i < pointers.size(); ++i)
        for (std::size_t j = i + 1; j < pointers.size(); ++j)
            if (i != 4 || j != 5) {
                EXPECT_NE(pointers[i], pointers[j]) << OFFERED[i].name << " " << OFFERED[j].name;
            }

    // The factory is object 1 and the handler object 2.
    const std::vector<std::string> lines = log_messages();
    for (const Offered& offered : OFFERED) {
        const std::string line = "0002:QueryInterface:" + iid_text(*offered.iid) + ":" + offered.name;
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line)) << line;
    }
}

TEST_F(InterfaceMap, UnknownInterfaceIsRefusedWithoutAReference)
{
    set_option_dword(L"Debug", 2);
    ComPtr<IThumbnailProvider> handler = qb_create<IThumbnailProvider>();
    ASSERT_TRUE(handler);
    const ULONG before = other_references(handler.Get());

    IUnknown* pointer = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_NOINTERFACE,
              handler->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&pointer)));
    EXPECT_EQ(nullptr, pointer);
    EXPECT_EQ(before, other_references(handler.Get()));
    EXPECT_EQ(E_POINTER, handler->QueryInterface(IID_IUnknown, nullptr));

    const std::vector<std::string> lines = log_messages();
    const std::string line = "0002:QueryInterface:" + iid_text(IID_IClassFactory) + ":(unsupported)";
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line));
}

TEST_F(InterfaceMap, IUnknownFromAnyInterfaceIsTheSameIdentity)
{
    ComPtr<IPropertyStore> store = qb_create<IPropertyStore>();
    ComPtr<IExtractImage> extract;
    ASSERT_EQ(S_OK, store.As(&extract));
    ComPtr<IUnknown> from_store;
    ComPtr<IUnknown> from_extract;
    ASSERT_EQ(S_OK, store.As(&from_store));
    ASSERT_EQ(S_OK, extract.As(&from_extract));
    EXPECT_EQ(from_store.Get(), from_extract.Get());
}

TEST_F(InterfaceMap, PropertySetStorageOnlyWhileThePropertySystemIsBound)
{
    use_propsys_variant("none");
    ComPtr<IUnknown> handler = qb_create<IUnknown>();
    ASSERT_TRUE(handler);
    ComPtr<IPropertySetStorage> sets;
    EXPECT_EQ(E_NOINTERFACE, handler.As(&sets));
    EXPECT_FALSE(sets);
    ComPtr<IPropertyStore> store;
    EXPECT_EQ(S_OK, handler.As(&store));
    ComPtr<IPropertyStoreCapabilities> capabilities;
    EXPECT_EQ(S_OK, handler.As(&capabilities));
}

TEST_F(InterfaceMap, ClassIdBeforeAndAfterInitialisation)
{
    ComPtr<IPersistFile> file = qb_create<IPersistFile>();
    ASSERT_TRUE(file);
    CLSID clsid = {};
    EXPECT_EQ(S_OK, file->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_Quirebinder, clsid));
    EXPECT_EQ(E_POINTER, file->GetClassID(nullptr));

    ASSERT_EQ(S_OK, file->Load(book_path(L"cafe-noir.mobi").c_str(), STGM_READ));
    ComPtr<IPersist> persist;
    ASSERT_EQ(S_OK, file.As(&persist));
    clsid = {};
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_Quirebinder, clsid));
}

TEST_F(InterfaceMap, StubsAnswerNotImplementedAndLeaveTheirArgumentsAlone)
{
    ComPtr<IPersistFile> file = qb_create<IPersistFile>();
    ASSERT_TRUE(file);
    EXPECT_EQ(E_NOTIMPL, file->IsDirty());
    EXPECT_EQ(E_NOTIMPL, file->Save(L"x.mobi", TRUE));
    EXPECT_EQ(E_NOTIMPL, file->SaveCompleted(L"x.mobi"));
    LPOLESTR name = reinterpret_cast<LPOLESTR>(0x1234);
    EXPECT_EQ(E_NOTIMPL, file->GetCurFile(&name));
    EXPECT_EQ(reinterpret_cast<LPOLESTR>(0x1234), name);

    ComPtr<IShellPropSheetExt> sheet;
    ASSERT_EQ(S_OK, file.As(&sheet));
    EXPECT_EQ(E_NOTIMPL, sheet->ReplacePage(0, nullptr, 0));
}

TEST_F(InterfaceMap, ReleasingTheLastReferenceLetsTheModuleUnload)
{
    set_option_dword(L"Debug", 2);
    {
        ComPtr<IInitializeWithFile> handler = qb_create<IInitializeWithFile>();
        ASSERT_TRUE(handler);
        ASSERT_EQ(S_OK, handler->Initialize(book_path(L"cafe-noir.mobi").c_str(), STGM_READ));
        EXPECT_EQ(S_FALSE, qb_module().DllCanUnloadNow());
    }
    EXPECT_EQ(S_OK, qb_module().DllCanUnloadNow());
    const std::vector<std::string> lines = log_messages();
    auto at = [&](const char* text) { return std::find(lines.begin(), lines.end(), text); };
    ASSERT_NE(lines.end(), at("0002:Quirebinder"));
    ASSERT_NE(lines.end(), at("0003:~MobiBook"));
    ASSERT_NE(lines.end(), at("0002:~Quirebinder"));
    EXPECT_LT(at("0003:~MobiBook"), at("0002:~Quirebinder"));  // books go first
}

}  // namespace
