// The registration table written and removed in both registry views, per
// machine and per user: every entry reads back as the table says, nothing
// of ours is left afterwards, and another program's handlers survive both.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "host/console.h"
#include "host/registration.h"
#include "tests/support/module_under_test.h"

namespace {

struct Case {
    Scope scope;
    View view;
    const char* name;
};

const Case CASES[] = {
    {Scope::Machine, View::Bits64, "Machine64"},
    {Scope::Machine, View::Bits32, "Machine32"},
    {Scope::User, View::Bits64, "User64"},
    {Scope::User, View::Bits32, "User32"},
};

// The REG_SZ value's text; false when the key or the value is missing.
bool read_value(HKEY root, const std::wstring& path, const std::wstring& name, View view,
                std::wstring* text)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view_flag(view), &key) !=
        ERROR_SUCCESS)
        return false;
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    const bool found = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                        reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    RegCloseKey(key);
    if (found && text)
        *text = buffer;
    return found;
}

bool key_exists(HKEY root, const std::wstring& path, View view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view_flag(view), &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void write_value(HKEY root, const std::wstring& path, const std::wstring& text, View view)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE | view_flag(view), nullptr, &key,
                                             nullptr));
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   DWORD((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

class Registration : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        clear_options();
        unregister_module(GetParam().scope, GetParam().view);
    }
};

TEST_P(Registration, RoundTripsAndLeavesNothingOfOurs)
{
    const Case& c = GetParam();
    const std::wstring module = L"C:\\Program Files\\Quirebinder\\quirebinder.dll";
    std::vector<KeptSlot> kept;
    ASSERT_EQ(S_OK, register_module(c.scope, c.view, module, &kept));
    EXPECT_TRUE(kept.empty());

    int written = 0;
    for (const registration::Entry& entry : registration::entries()) {
        HKEY root = nullptr;
        std::wstring path;
        if (!entry_location(entry, c.scope, &root, &path)) {
            EXPECT_EQ(Scope::User, c.scope);
            continue;
        }
        ++written;
        std::wstring text;
        EXPECT_TRUE(read_value(root, path, utf16(entry.value_name), c.view, &text)) << utf8(path);
        EXPECT_EQ(utf16(registration::expand(entry.data, utf8(module))), text) << utf8(path);
    }
    // The class, its server and threading model, the ProgID and its sheet
    // handler, the filter's class (three values) and persistent handler
    // (two); per extension the ProgID link, two thumbnail slots, the sheet
    // handler and the persistent handler; per machine also the approval and
    // property handlers.
    EXPECT_EQ(c.scope == Scope::Machine ? 11 + 3 * 6 : 10 + 3 * 5, written);

    ASSERT_EQ(S_OK, unregister_module(c.scope, c.view));
    for (const registration::Entry& entry : registration::entries()) {
        HKEY root = nullptr;
        std::wstring path;
        if (!entry_location(entry, c.scope, &root, &path))
            continue;
        EXPECT_FALSE(read_value(root, path, utf16(entry.value_name), c.view, nullptr))
            << utf8(path);
        if (entry.ownership == registration::Ownership::Own && !entry.key.empty()) {
            EXPECT_FALSE(key_exists(root, path, c.view)) << utf8(path);
        }
    }
    // Unregistering twice is no error.
    EXPECT_EQ(S_OK, unregister_module(c.scope, c.view));
}

TEST_P(Registration, KeepsAnotherProgramsHandlers)
{
    const Case& c = GetParam();
    const HKEY root = c.scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const std::wstring classes = L"Software\\Classes\\";
    struct Slot {
        std::wstring path, value;
    } const slots[] = {
        {classes + L".azw", L"Other.Book"},
        {classes + L".azw\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}",
         L"{00000000-0000-0000-0000-0000000000A1}"},
        {classes + L".azw\\PersistentHandler", L"{00000000-0000-0000-0000-0000000000A2}"},
    };
    for (const Slot& slot : slots)
        write_value(root, slot.path, slot.value, c.view);

    std::vector<KeptSlot> kept;
    ASSERT_EQ(S_OK, register_module(c.scope, c.view, L"C:\\q.dll", &kept));
    ASSERT_EQ(3u, kept.size());
    EXPECT_EQ(L"Other.Book", kept[0].value);
    std::wstring text;
    EXPECT_TRUE(read_value(root, classes + L".mobi", L"", c.view, &text));
    EXPECT_EQ(L"Quirebinder.Book", text);  // an extension without a ProgID gets ours
    ASSERT_EQ(S_OK, unregister_module(c.scope, c.view));

    for (const Slot& slot : slots) {
        EXPECT_TRUE(read_value(root, slot.path, L"", c.view, &text)) << utf8(slot.path);
        EXPECT_EQ(slot.value, text);
    }
    EXPECT_FALSE(key_exists(root, classes + L".mobi", c.view));
    HKEY classes_key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root, L"Software\\Classes", 0,
                                           KEY_ALL_ACCESS | view_flag(c.view), &classes_key));
    RegDeleteTreeW(classes_key, L".azw");
    RegCloseKey(classes_key);
}

INSTANTIATE_TEST_SUITE_P(Views, Registration, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
