// The two registry settings: which stored values count, and when a change
// takes effect.
#include <gtest/gtest.h>

#include "server/module.h"
#include "server/settings.h"
#include "tests/support/module_under_test.h"

namespace {

const std::wstring KEY = handler_class_key() + L"\\Options";

struct StoredValue {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
    DWORD expected;
};

std::vector<BYTE> text(const wchar_t* value, bool terminated = true)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(value);
    return std::vector<BYTE>(bytes, bytes + (wcslen(value) + (terminated ? 1 : 0)) * sizeof(wchar_t));
}

std::vector<BYTE> bytes_of(unsigned long long value, std::size_t size)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(bytes, bytes + size);
}

TEST(Settings, StoredValuesAndWhatTheyCountAs)
{
    const StoredValue cases[] = {
        {"dword 2", REG_DWORD, bytes_of(2, 4), 2},
        {"dword max", REG_DWORD, bytes_of(0xFFFFFFFF, 4), 0xFFFFFFFF},
        {"text 2", REG_SZ, text(L"2"), 2},
        {"text 12abc", REG_SZ, text(L"12abc"), 12},
        {"text abc", REG_SZ, text(L"abc"), 0},
        {"text -1", REG_SZ, text(L"-1"), 0xFFFFFFFF},
        {"six characters", REG_SZ, text(L"000042"), 42},
        {"seven characters", REG_SZ, text(L"0000042"), 0},
        {"unterminated text", REG_SZ, text(L"7", false), 7},
        {"binary", REG_BINARY, bytes_of(2, 4), 0},
        {"qword", REG_QWORD, bytes_of(2, 8), 0},
        {"dword of two bytes", REG_DWORD, bytes_of(2, 2), 0},
        {"dword of eight bytes", REG_DWORD, bytes_of(2, 8), 0},
        {"expandable text, read back as text", REG_EXPAND_SZ, text(L"2"), 2},
    };
    for (const StoredValue& c : cases) {
        clear_options();
        set_option_raw(L"Debug", c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        EXPECT_EQ(c.expected, read_option_value(L"Debug", KEY.c_str())) << c.what;
    }
    clear_options();
    EXPECT_EQ(0u, read_option_value(L"Debug", KEY.c_str())) << "no key";
    set_option_dword(L"Other", 5);
    EXPECT_EQ(0u, read_option_value(L"Debug", KEY.c_str())) << "no value";
    clear_options();
}

TEST(Settings, InitialisationReadsBothValues)
{
    clear_options();
    delete_log();
    set_option_string(L"Debug", L"2");
    set_option_dword(L"UseMobiThumbnail", 3);
    module_attach(GetModuleHandleW(nullptr));
    initialize_module();
    EXPECT_EQ(2u, g_module.debug);
    EXPECT_EQ(3u, g_module.use_mobi_thumbnail);
    EXPECT_NE(INVALID_HANDLE_VALUE, g_module.log_file);
    finalize_module();
    EXPECT_EQ(0u, g_module.debug);
    EXPECT_EQ(3u, g_module.use_mobi_thumbnail);  // kept until the next start reads it again
    EXPECT_EQ(INVALID_HANDLE_VALUE, g_module.log_file);
    module_detach();
    clear_options();
}

TEST(Settings, ChangesTakeEffectOnlyAfterTheModuleStops)
{
    clear_options();
    delete_log();
    ComPtr<IClassFactory> first = qb_factory();
    ASSERT_TRUE(first);

    set_option_dword(L"Debug", 2);
    ComPtr<IClassFactory> second = qb_factory();  // module already running: Debug still 0
    ASSERT_TRUE(second);
    first.Reset();
    second.Reset();
    EXPECT_FALSE(log_exists());

    finalize_module_now();
    ComPtr<IClassFactory> third = qb_factory();
    ASSERT_TRUE(third);
    const std::vector<std::string> lines = log_messages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(LOG_BANNER, lines[0]);
    EXPECT_EQ("0003:CClassFactoryBase", lines[1]);
    third.Reset();
    finalize_module_now();
    clear_options();
}

}  // namespace
