// The registration table written and removed in both registry views, per
// machine and per user, and by the module's own DllRegisterServer and
// DllUnregisterServer (regsvr32): every entry reads back as the table says,
// nothing of ours is left afterwards, and another program's handlers survive
// both.
// The 32-bit build runs these on 32-bit Windows, which has one view, and in
// a 64-bit prefix, where 32-bit code writes both views through WOW64.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "host/console.h"
#include "registration/registration.h"
#include "tests/support/import_patch.h"
#include "tests/support/module_under_test.h"

namespace {

struct Case {
    Scope scope;
    View view;
    const char* name;
    // Through the module's exports (per machine, in its own view) instead
    // of the host's register_module and unregister_module.
    bool through_module = false;
};

// The view the module under test registers in.
constexpr View MODULE_VIEW = sizeof(void*) == 8 ? View::Bits64 : View::Bits32;

const Case CASES[] = {
    {Scope::Machine, View::Bits64, "Machine64"},
    {Scope::Machine, View::Bits32, "Machine32"},
    {Scope::User, View::Bits64, "User64"},
    {Scope::User, View::Bits32, "User32"},
    {Scope::Machine, MODULE_VIEW, "Regsvr32", true},
};

std::wstring module_file()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(qb_module().dll, path, MAX_PATH);
    return path;
}

HRESULT register_case(const Case& c, const std::wstring& module, std::vector<KeptSlot>* kept)
{
    return c.through_module ? qb_module().DllRegisterServer()
                            : register_module(c.scope, c.view, module, kept);
}

HRESULT unregister_case(const Case& c)
{
    return c.through_module ? qb_module().DllUnregisterServer() : unregister_module(c.scope, c.view);
}

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

// The key's default value: text as REG_SZ, or its units' bytes as type.
void write_value(HKEY root, const std::wstring& path, const std::wstring& text, View view,
                 DWORD type = REG_SZ)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE | view_flag(view), nullptr, &key,
                                             nullptr));
    RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   DWORD((text.size() + (type == REG_SZ)) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

// The property names of a "prop:" list, without their "*" flags.
std::vector<std::wstring> list_names(const std::wstring& list)
{
    std::vector<std::wstring> names;
    if (list.compare(0, 5, L"prop:") != 0)
        return names;
    for (std::size_t at = 5; at <= list.size();) {
        std::size_t end = list.find(L';', at);
        if (end == std::wstring::npos)
            end = list.size();
        std::wstring name = list.substr(at, end - at);
        names.push_back(name.empty() || name[0] != L'*' ? name : name.substr(1));
        at = end + 1;
    }
    return names;
}

// The Details tab, tooltip and preview title keep the rows Windows gives
// every file, after the book's own.
void expect_property_lists(HKEY root, View view)
{
    const std::vector<std::wstring> file_system = {
        L"System.PropGroup.FileSystem", L"System.ItemNameDisplay", L"System.ItemTypeText",
        L"System.ItemFolderPathDisplay", L"System.Size", L"System.DateCreated",
        L"System.DateModified", L"System.FileAttributes", L"System.OfflineAvailability",
        L"System.OfflineStatus", L"System.SharedWith", L"System.FileOwner",
        L"System.ComputerName"};
    std::vector<std::wstring> full = {L"System.PropGroup.Description", L"System.Title",
                                      L"System.Author", L"System.Language"};
    full.insert(full.end(), file_system.begin(), file_system.end());
    const std::pair<const wchar_t*, std::vector<std::wstring>> lists[] = {
        {L"FullDetails", full},
        {L"InfoTip", {L"System.Title", L"System.Author", L"System.ItemTypeText", L"System.Size",
                      L"System.DateModified"}},
        {L"PreviewTitle", {L"System.Title", L"System.ItemTypeText"}},
    };
    for (const auto& [name, expected] : lists) {
        std::wstring text;
        EXPECT_TRUE(read_value(root, L"Software\\Classes\\SystemFileAssociations\\.mobi", name,
                               view, &text));
        EXPECT_EQ(expected, list_names(text)) << utf8(name);
    }
}

class Registration : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        if (GetParam().view == View::Bits64 && !is_64bit_windows())
            GTEST_SKIP() << "32-bit Windows has no 64-bit registry view";
        clear_options();
        for (const View view : {View::Bits64, View::Bits32})
            unregister_module(GetParam().scope, view);
    }
    // Removes the extension keys written for another program, however the
    // test ended: the prefix outlives it.
    void TearDown() override
    {
        for (const auto& [root, extension] : others_) {
            HKEY classes = nullptr;
            if (RegOpenKeyExW(root, L"Software\\Classes", 0,
                              KEY_ALL_ACCESS | view_flag(GetParam().view), &classes) == 0) {
                RegDeleteTreeW(classes, extension.c_str());
                RegCloseKey(classes);
            }
        }
    }
    std::vector<std::pair<HKEY, std::wstring>> others_;
};

TEST_P(Registration, RoundTripsAndLeavesNothingOfOurs)
{
    const Case& c = GetParam();
    const std::wstring module =
        c.through_module ? module_file() : L"C:\\Program Files\\Quirebinder\\quirebinder.dll";
    std::vector<KeptSlot> kept;
    ASSERT_EQ(S_OK, register_case(c, module, &kept));
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
        const auto machine =
            c.view == View::Bits64 ? registration::Machine::X64 : registration::Machine::X86;
        const auto system =
            is_64bit_windows() ? registration::Machine::X64 : registration::Machine::X86;
        EXPECT_EQ(utf16(registration::expand(entry.data, utf8(module), machine, system)), text)
            << utf8(path);
        // The preview host: the one under WOW64 only for the 32-bit module
        // on 64-bit Windows, else the system's own.
        if (entry.value_name == "AppID") {
            EXPECT_EQ(c.view == View::Bits32 && is_64bit_windows()
                          ? L"{534a1e02-d58f-44f0-b58b-36cbed287c7c}"
                          : L"{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}",
                      text);
        }
    }
    // The class, its server and threading model, the ProgID and its sheet
    // handler, the filter's class (three values) and persistent handler
    // (two); per extension the ProgID link, two thumbnail slots, the sheet
    // handler and the persistent handler; per machine also the approval and
    // property handlers. The preview class, its AppID, server and threading
    // model; per extension its slot and four property lists; per machine also
    // its approval and its line in the preview handlers' list.
    EXPECT_EQ(c.scope == Scope::Machine ? 11 + 3 * 6 + 6 + 3 * 5 : 10 + 3 * 5 + 4 + 3 * 5,
              written);
    expect_property_lists(c.scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                          c.view);
    // The module registers its own view only.
    if (c.through_module && is_64bit_windows()) {
        EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE,
                                L"Software\\Classes\\CLSID\\" + utf16(HANDLER_CLSID_TEXT),
                                MODULE_VIEW == View::Bits64 ? View::Bits32 : View::Bits64));
    }

    ASSERT_EQ(S_OK, unregister_case(c));
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
    EXPECT_EQ(S_OK, unregister_case(c));
}

TEST_P(Registration, KeepsAnotherProgramsHandlers)
{
    const Case& c = GetParam();
    const HKEY root = c.scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    // The last under the machine's keys: per user, the shell reads the
    // user's classes merged over them.
    struct Slot {
        HKEY root;
        std::wstring extension, below, value;
        std::wstring path() const { return L"Software\\Classes\\" + extension + below; }
    } const slots[] = {
        {root, L".azw", L"", L"Other.Book"},
        {root, L".azw", L"\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}",
         L"{00000000-0000-0000-0000-0000000000A1}"},
        {HKEY_LOCAL_MACHINE, L".azw3", L"\\ShellEx\\{BB2E617C-0920-11D1-9A0B-00C04FC2D6C1}",
         L"{00000000-0000-0000-0000-0000000000A2}"},
        {root, L".azw", L"\\PersistentHandler", L"{00000000-0000-0000-0000-0000000000A3}"},
    };
    for (const Slot& slot : slots) {
        others_.push_back({slot.root, slot.extension});
        write_value(slot.root, slot.path(), slot.value, c.view);
    }

    std::vector<KeptSlot> kept;
    ASSERT_EQ(S_OK, register_case(c, L"C:\\q.dll", &kept));
    if (!c.through_module) {
        ASSERT_EQ(4u, kept.size());
        EXPECT_EQ(L"Other.Book", kept[0].value);
    }
    std::wstring text;
    EXPECT_TRUE(read_value(root, L"Software\\Classes\\.mobi", L"", c.view, &text));
    EXPECT_EQ(L"Quirebinder.Book", text);  // an extension without a ProgID gets ours
    ASSERT_EQ(S_OK, unregister_case(c));

    for (const Slot& slot : slots) {
        EXPECT_TRUE(read_value(slot.root, slot.path(), L"", c.view, &text)) << utf8(slot.path());
        EXPECT_EQ(slot.value, text);
    }
    EXPECT_FALSE(key_exists(root, L"Software\\Classes\\.mobi", c.view));
}

// A slot holds another program's value whatever its type; ours is ours
// whatever the case of its GUID or ProgID.
TEST_P(Registration, TellsOurValuesFromOthersOfAnyTypeOrCase)
{
    const Case& c = GetParam();
    const HKEY root = c.scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    std::wstring lower = utf16(PERSISTENT_HANDLER_TEXT);
    CharLowerW(lower.data());
    struct Slot {
        std::wstring path, data;
        DWORD type;
        bool others;
    } const slots[] = {
        {L"Software\\Classes\\.azw\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}",
         std::wstring(L"\x0001\x0000", 2), REG_DWORD, true},
        {L"Software\\Classes\\.azw\\ShellEx\\{BB2E617C-0920-11D1-9A0B-00C04FC2D6C1}", L"",
         REG_BINARY, true},
        {L"Software\\Classes\\.azw\\PersistentHandler", lower, REG_SZ, false},
        {L"Software\\Classes\\.azw3", L"quirebinder.book", REG_SZ, false},
    };
    others_ = {{root, L".azw"}, {root, L".azw3"}};
    for (const Slot& slot : slots)
        write_value(root, slot.path, slot.data, c.view, slot.type);
    std::vector<KeptSlot> kept;
    ASSERT_EQ(S_OK, register_case(c, L"C:\\q.dll", &kept));
    if (!c.through_module) {
        EXPECT_EQ(2u, kept.size());
    }
    ASSERT_EQ(S_OK, unregister_case(c));
    for (const Slot& slot : slots) {
        const RegistryValue value = read_registry_value(root, slot.path, L"", c.view);
        EXPECT_EQ(slot.others ? slot.type : REG_NONE, value.type) << utf8(slot.path);
    }
}

INSTANTIATE_TEST_SUITE_P(Views, Registration, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

namespace {

// Both modules registered per machine, then the 32-bit one removed: what
// the views share stays (in both views, where Wine keeps them apart) until
// the 64-bit one goes too; the 32-bit module's own entries go at once.
TEST(RegistrationViews, SharedEntriesStayUntilTheLastModuleGoes)
{
    if (!is_64bit_windows())
        GTEST_SKIP() << "32-bit Windows has one registry view and one module";
    for (const View view : {View::Bits64, View::Bits32}) {
        unregister_module(Scope::Machine, view);
        ASSERT_EQ(S_OK, register_module(Scope::Machine, view, L"C:\\q.dll", nullptr));
    }
    for (const View removed : {View::Bits32, View::Bits64}) {
        ASSERT_EQ(S_OK, unregister_module(Scope::Machine, removed));
        for (const registration::Entry& entry : registration::entries()) {
            HKEY root = nullptr;
            std::wstring path;
            ASSERT_TRUE(entry_location(entry, Scope::Machine, &root, &path));
            for (const View view : {View::Bits64, View::Bits32}) {
                const bool kept = removed == View::Bits32 &&
                                  (view == View::Bits64 ||
                                   entry.views == registration::ViewSharing::BothViews);
                EXPECT_EQ(kept, read_value(root, path, utf16(entry.value_name), view, nullptr))
                    << utf8(path) << (view == View::Bits64 ? " 64" : " 32");
            }
        }
    }
}

}  // namespace

namespace {

// regsvr32 learns why the registration failed: a class key the module
// cannot write below (here a volatile one, which takes no lasting subkey)
// fails the registration with that write's status, not success.
TEST(RegistrationThroughTheModule, ReturnsTheFailingWritesStatus)
{
    unregister_module(Scope::Machine, MODULE_VIEW);
    const std::wstring clsid = L"Software\\Classes\\CLSID\\" + utf16(HANDLER_CLSID_TEXT);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, clsid.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS | view_flag(MODULE_VIEW), nullptr, &key, nullptr));
    RegCloseKey(key);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE), qb_module().DllRegisterServer());
    EXPECT_EQ(S_OK, qb_module().DllUnregisterServer());
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, clsid, MODULE_VIEW));
}

// regsvr32 /u on a copy of the module takes nothing from the registration
// of another file; the same file under another text of its path is the
// module's own.
TEST(RegistrationThroughTheModule, UnregistersOnlyWhereTheClassNamesItsFile)
{
    const std::wstring own = module_file();
    const std::size_t slash = own.rfind(L'\\');
    const std::size_t parent = own.rfind(L'\\', slash - 1);
    std::wstring upper = own;
    CharUpperW(upper.data());
    std::wstring short_name(MAX_PATH, L'\0');
    short_name.resize(GetShortPathNameW(own.c_str(), short_name.data(), MAX_PATH));
    const std::wstring clsid = L"Software\\Classes\\CLSID\\" + utf16(HANDLER_CLSID_TEXT);
    const struct {
        const char* name;
        std::wstring registered;
        HRESULT unregistered;
    } rows[] = {
        {"AnotherFile", L"C:\\qb\\" QB_MODULE_FILE, REGISTERED_ELSEWHERE},
        {"UpperCase", upper, S_OK},
        {"ThroughItsParent", own.substr(0, slash) + L"\\.." + own.substr(parent), S_OK},
        {"ShortName", short_name, S_OK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        unregister_module(Scope::Machine, MODULE_VIEW);
        ASSERT_EQ(S_OK, register_module(Scope::Machine, MODULE_VIEW, row.registered, nullptr));
        EXPECT_EQ(row.unregistered, qb_module().DllUnregisterServer());
        std::wstring server;
        read_value(HKEY_LOCAL_MACHINE, clsid + L"\\InprocServer32", L"", MODULE_VIEW, &server);
        EXPECT_EQ(FAILED(row.unregistered) ? row.registered : L"", server);
    }
    unregister_module(Scope::Machine, MODULE_VIEW);
}

// regsvr32 of the x64 module on Windows on ARM, whose Explorer loads ARM64
// modules only: the module is told the machine as IsWow64Process2 tells an
// emulated x64 process there, and writes nothing.
BOOL WINAPI arm64_windows(HANDLE, USHORT* process, USHORT* native)
{
    *process = IMAGE_FILE_MACHINE_UNKNOWN;
    *native = IMAGE_FILE_MACHINE_ARM64;
    return TRUE;
}

FARPROC WINAPI get_proc_address_on_arm64(HMODULE module, LPCSTR name)
{
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) && std::string(name) == "IsWow64Process2")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&arm64_windows));
    return system_function<decltype(&GetProcAddress)>(L"kernel32.dll", "GetProcAddress")(module,
                                                                                         name);
}

TEST(RegistrationThroughTheModule, RefusesAMachineItsViewsExplorerCannotLoad)
{
    if (MODULE_VIEW != View::Bits64)
        GTEST_SKIP() << "the 32-bit view's programs load x86 modules on every Windows";
    unregister_module(Scope::Machine, MODULE_VIEW);
    ASSERT_TRUE(patch_import(qb_module().dll, "GetProcAddress",
                             reinterpret_cast<void*>(&get_proc_address_on_arm64)));
    const HRESULT hr = qb_module().DllRegisterServer();
    patch_import(qb_module().dll, "GetProcAddress",
                 reinterpret_cast<void*>(system_function<decltype(&GetProcAddress)>(
                     L"kernel32.dll", "GetProcAddress")));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_EXE_MACHINE_TYPE_MISMATCH), hr);
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE,
                            L"Software\\Classes\\CLSID\\" + utf16(HANDLER_CLSID_TEXT),
                            MODULE_VIEW));
}

}  // namespace
