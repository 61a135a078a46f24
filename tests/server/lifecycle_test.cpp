// Module start and stop, the class factory and object serials, seen through
// the module's exports and its trace log.
#include <windows.h>
#include <propsys.h>
#include <propkey.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/module_under_test.h"
#include "tests/support/propsys_stand_in.h"

namespace {

const CLSID OTHER_CLASS = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_options();
        delete_log();
        set_option_dword(L"Debug", 2);
    }
    void TearDown() override { clear_options(); }

    HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out)
    {
        return qb_module().DllGetClassObject(clsid, iid, out);
    }
    HRESULT can_unload() { return qb_module().DllCanUnloadNow(); }

    static int count(const std::vector<std::string>& lines, const std::string& text)
    {
        int n = 0;
        for (const std::string& line : lines)
            n += line == text;
        return n;
    }
};

TEST_F(Lifecycle, FirstObjectOfTheProcessIsTheFirstFactoryWithSerialOne)
{
    {
        ComPtr<IClassFactory> factory = qb_factory();
        ASSERT_TRUE(factory);
    }
    const std::vector<std::string> lines = log_messages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(LOG_BANNER, lines[0]);
    EXPECT_EQ(1, count(lines, "0001:CClassFactoryBase"));
    EXPECT_EQ(1, count(lines, "0001:~CClassFactoryBase"));
    EXPECT_EQ(S_OK, can_unload());
    EXPECT_EQ("Finalizing module", log_messages().back());
}

TEST_F(Lifecycle, UnloadBeforeAnyClassObjectChangesNothing)
{
    EXPECT_EQ(S_OK, can_unload());
    EXPECT_FALSE(log_exists());
}

TEST_F(Lifecycle, ModuleStaysWhileAFactoryOrServerLockLivesAndRestartsAfterwards)
{
    ComPtr<IClassFactory> factory = qb_factory();
    ASSERT_TRUE(factory);
    EXPECT_EQ(S_FALSE, can_unload());

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, can_unload());  // the lock alone holds the module
    EXPECT_EQ(0, count(log_messages(), "Finalizing module"));

    // LockServer(FALSE) through a second factory's interface.
    ComPtr<IClassFactory> second = qb_factory();
    ASSERT_TRUE(second);
    EXPECT_EQ(S_OK, second->LockServer(FALSE));
    second.Reset();
    EXPECT_EQ(S_OK, can_unload());
    EXPECT_EQ(1, count(log_messages(), "Finalizing module"));

    // The next class object starts the module again with a second banner.
    ComPtr<IClassFactory> third = qb_factory();
    ASSERT_TRUE(third);
    EXPECT_EQ(2, count(log_messages(), LOG_BANNER));
    EXPECT_EQ(1, count(log_messages(), "0003:CClassFactoryBase"));  // serials never restart
}

TEST_F(Lifecycle, OtherClassIsRefusedButTheModuleStillStarts)
{
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, get_class_object(OTHER_CLASS, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    const std::vector<std::string> lines = log_messages();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(LOG_BANNER, lines[0]);
}

// Each class the registry names is served under that identifier; the
// persistent handler is a registry class only.
TEST_F(Lifecycle, ClassesAreServedUnderTheIdentifiersTheRegistryNames)
{
    const struct {
        const CLSID& clsid;
        const char* text;
        HRESULT served;
    } classes[] = {
        {CLSID_Quirebinder, HANDLER_CLSID_TEXT, S_OK},
        {CLSID_QuirebinderFilter, FILTER_CLSID_TEXT, S_OK},
        {CLSID_QuirebinderPreview, PREVIEW_CLSID_TEXT, S_OK},
        {CLSID_QuirebinderPersistentHandler, PERSISTENT_HANDLER_TEXT, CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& c : classes) {
        wchar_t text[39] = {};
        ASSERT_EQ(39, StringFromGUID2(c.clsid, text, 39));
        EXPECT_EQ(c.text, std::string(text, text + 38));
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(c.served, get_class_object(c.clsid, IID_PPV_ARGS(&factory))) << c.text;
    }
}

TEST_F(Lifecycle, UnsupportedFactoryInterfaceDestroysTheNewFactoryAtOnce)
{
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, get_class_object(CLSID_Quirebinder, IID_IStream, &out));
    EXPECT_EQ(nullptr, out);
    const std::vector<std::string> lines = log_messages();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("0001:CClassFactoryBase", lines[1]);
    EXPECT_EQ("0001:QueryInterface:{0000000C-0000-0000-C000-000000000046}:(unsupported)",
              lines[2]);
    EXPECT_EQ("0001:~CClassFactoryBase", lines[3]);
    EXPECT_EQ(S_OK, can_unload());
}

TEST_F(Lifecycle, FactoryIdentityIsOneObject)
{
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, get_class_object(CLSID_Quirebinder, IID_IUnknown,
                                     reinterpret_cast<void**>(unknown.GetAddressOf())));
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, unknown.As(&factory));
    ComPtr<IUnknown> again;
    ASSERT_EQ(S_OK, factory.As(&again));
    EXPECT_EQ(unknown.Get(), again.Get());
    EXPECT_NE(static_cast<void*>(unknown.Get()), static_cast<void*>(factory.Get()));
    const std::vector<std::string> lines = log_messages();
    EXPECT_EQ(1, count(lines, "0001:QueryInterface:{00000001-0000-0000-C000-000000000046}:IClassFactory"));
    EXPECT_EQ(2, count(lines, "0001:QueryInterface:{00000000-0000-0000-C000-000000000046}:IUnknown"));
}

TEST_F(Lifecycle, AggregationIsRefusedAfterTheCreateInstanceTrace)
{
    ComPtr<IClassFactory> factory = qb_factory();
    ASSERT_TRUE(factory);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory.Get(), IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    const std::vector<std::string> lines = log_messages();
    EXPECT_EQ("0001:CreateInstance", lines.back());
    EXPECT_EQ(0, count(lines, "0002:Quirebinder"));
}

TEST_F(Lifecycle, UnsupportedHandlerInterfaceDestroysTheNewHandler)
{
    ComPtr<IClassFactory> factory = qb_factory();
    ASSERT_TRUE(factory);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IStream, &out));
    EXPECT_EQ(nullptr, out);
    const std::vector<std::string> lines = log_messages();
    ASSERT_GE(lines.size(), 4u);
    const std::vector<std::string> tail(lines.end() - 4, lines.end());
    EXPECT_EQ("0001:CreateInstance", tail[0]);
    EXPECT_EQ("0002:Quirebinder", tail[1]);
    EXPECT_EQ("0002:QueryInterface:{0000000C-0000-0000-C000-000000000046}:(unsupported)", tail[2]);
    EXPECT_EQ("0002:~Quirebinder", tail[3]);
    factory.Reset();
    EXPECT_EQ(S_OK, can_unload());  // nothing left alive
}

TEST_F(Lifecycle, NullOutPointersAreRefused)
{
    EXPECT_EQ(E_POINTER, get_class_object(CLSID_Quirebinder, IID_IClassFactory, nullptr));
    ComPtr<IClassFactory> factory = qb_factory();
    ASSERT_TRUE(factory);
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, nullptr));
    factory.Reset();
    EXPECT_EQ(S_OK, can_unload());
}

// What the registration functions write, they take back (the registration
// tests check the entries themselves).
TEST_F(Lifecycle, RegistrationFunctionsLeaveNothingBehind)
{
    clear_options();
    RegDeleteKeyW(HKEY_CLASSES_ROOT, handler_class_key().c_str());
    EXPECT_EQ(S_OK, qb_module().DllRegisterServer());
    EXPECT_EQ(S_OK, qb_module().DllUnregisterServer());
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(HKEY_CLASSES_ROOT, handler_class_key().c_str(), 0, KEY_READ, &key));
}

// Four apartments make handlers and read their property stores while a fifth
// thread finalises the module whenever nothing is alive, the log at trace
// level: every request gets the one-thread answer and nothing stays alive.
TEST_F(Lifecycle, ConcurrentRequestsWhileAnotherThreadUnloads)
{
    ASSERT_TRUE(use_propsys_variant("full"));
    const std::wstring book = source_path(L"tests/data/books/cafe-noir.mobi");
    auto request = [&]() -> std::wstring {  // the title, empty on any failure
        ComPtr<IClassFactory> factory;
        ComPtr<IInitializeWithFile> init;
        ComPtr<IPropertyStore> store;
        PROPVARIANT title;
        PropVariantInit(&title);
        if (FAILED(get_class_object(CLSID_Quirebinder, IID_PPV_ARGS(&factory))) ||
            FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&init))) ||
            FAILED(init->Initialize(book.c_str(), STGM_READ)) || FAILED(init.As(&store)) ||
            FAILED(store->GetValue(PKEY_Title, &title)) || title.vt != VT_LPWSTR)
            return {};
        const std::wstring text = title.pwszVal;
        PropVariantClear(&title);
        return text;
    };
    const std::wstring expected = request();
    ASSERT_FALSE(expected.empty());

    std::atomic<bool> done{false};
    std::atomic<long> failed{0}, finalised{0};
    std::thread unloader([&] {
        while (!done)
            finalised += can_unload() == S_OK;
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            for (int i = 0; i < 75; ++i)
                failed += request() != expected;
            CoUninitialize();
        });
    for (std::thread& worker : workers)
        worker.join();
    done = true;
    unloader.join();
    EXPECT_EQ(0, failed);
    EXPECT_LT(0, finalised);
    EXPECT_EQ(S_OK, can_unload());
    EXPECT_EQ(0, stand_in_live_objects() > 0 ? stand_in_live_objects() : 0);
}

}  // namespace
