// The diagnostics log: which lines each level writes, the file's header and
// line layout, cut lines, and several writers at once.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "server/log.h"
#include "server/module.h"
#include "tests/support/import_patch.h"
#include "tests/support/module_under_test.h"

namespace {

const char HEADER[] = "\xEF\xBB\xBF\r\n";

class Log : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_options();
        delete_log();
    }
    void TearDown() override { clear_options(); }

    // Makes a factory, fails a checked step inside the handler (a thumbnail of
    // an uninitialised handler), lets a handler refuse an interface, then
    // stops the module.
    static void exercise_module()
    {
        {
            ComPtr<IThumbnailProvider> thumbnails = qb_create<IThumbnailProvider>();
            ASSERT_TRUE(thumbnails);
            HBITMAP bitmap = nullptr;
            WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
            EXPECT_EQ(E_FAIL, thumbnails->GetThumbnail(64, &bitmap, &alpha));
            ComPtr<IClassFactory> refused;
            EXPECT_EQ(E_NOINTERFACE, thumbnails.As(&refused));
        }
        finalize_module_now();
    }

    static bool any_line_starts_with(const std::vector<std::string>& lines, const char* text)
    {
        for (const std::string& line : lines)
            if (line.rfind(text, 0) == 0)
                return true;
        return false;
    }
};

TEST_F(Log, LevelZeroCreatesNoFile)
{
    set_option_dword(L"Debug", 0);
    exercise_module();
    EXPECT_FALSE(log_exists());
}

TEST_F(Log, LevelOneWritesBannerAndErrorLinesOnly)
{
    set_option_dword(L"Debug", 1);
    exercise_module();
    const std::vector<std::string> lines = log_messages();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(LOG_BANNER, lines[0]);
    EXPECT_TRUE(any_line_starts_with(lines, "ENSURE failed:"));
    const std::regex trace("^[0-9]{4,}:.*");
    for (const std::string& line : lines) {
        EXPECT_FALSE(std::regex_match(line, trace)) << line;
        EXPECT_NE("Finalizing module", line);
    }
}

TEST_F(Log, TraceLevelsWriteTraceLines)
{
    for (const DWORD level : {2ul, 0xFFFFFFFFul}) {
        delete_log();
        set_option_dword(L"Debug", level);
        exercise_module();
        const std::string bytes = read_log_bytes();
        for (const char* pattern : {":[0-9]{4}:CClassFactoryBase\r\n", ":[0-9]{4}:GetThumbnail\r\n",
                                    ":[0-9]{4}:QueryInterface:\\{[0-9A-F-]{36}\\}:\\(unsupported\\)\r\n",
                                    ":ENSURE failed:[a-z_]+\\.cpp:[0-9]+:0x80004005\r\n"})
            EXPECT_TRUE(std::regex_search(bytes, std::regex(pattern))) << level << " " << pattern;
        EXPECT_EQ("Finalizing module", log_messages().back()) << level;
    }
}

TEST_F(Log, NewFileStartsWithHeaderAndPrefixedBanner)
{
    set_option_dword(L"Debug", 1);
    exercise_module();
    const std::string bytes = read_log_bytes();
    ASSERT_EQ(0u, bytes.rfind(HEADER, 0));
    char expected_prefix[32];
    snprintf(expected_prefix, sizeof(expected_prefix), "%04lx:%04lx:", GetCurrentProcessId(),
             GetCurrentThreadId());
    const std::string expected = std::string(HEADER) + expected_prefix + LOG_BANNER + "\r\n";
    EXPECT_EQ(expected, bytes.substr(0, expected.size()));
}

TEST_F(Log, ExistingFileKeepsItsLinesAndIsAppendedTo)
{
    const std::string old = std::string(HEADER) + "0001:0002:an earlier line\r\n";
    const HANDLE file = CreateFileW(log_path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, old.data(), static_cast<DWORD>(old.size()), &written, nullptr);
    CloseHandle(file);

    set_option_dword(L"Debug", 1);
    exercise_module();
    const std::string bytes = read_log_bytes();
    ASSERT_EQ(0u, bytes.rfind(old, 0));
    EXPECT_NE(std::string::npos, bytes.find(LOG_BANNER + "\r\n", old.size()));
}

TEST_F(Log, UnopenableFileSwitchesTheLogOffSilently)
{
    // A folder where the file should be: the log cannot be opened.
    ASSERT_TRUE(CreateDirectoryW(log_path().c_str(), nullptr));
    set_option_dword(L"Debug", 2);
    exercise_module();
    EXPECT_TRUE(GetFileAttributesW(log_path().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(log_path().c_str());
}

TEST_F(Log, MissingPicturesFolderSwitchesTheLogOff)
{
    // The user's Pictures folder moved to a place that does not exist.
    const wchar_t folders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    const wchar_t missing[] = L"C:\\no such folder\\Pictures";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, folders, 0, nullptr, 0,
                                             KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr));
    wchar_t saved[MAX_PATH] = {};
    DWORD saved_size = sizeof(saved);
    DWORD saved_type = REG_NONE;
    const bool had_value = RegQueryValueExW(key, L"My Pictures", nullptr, &saved_type,
                                            reinterpret_cast<BYTE*>(saved), &saved_size) == ERROR_SUCCESS;
    RegSetValueExW(key, L"My Pictures", 0, REG_SZ, reinterpret_cast<const BYTE*>(missing), sizeof(missing));

    set_option_dword(L"Debug", 2);
    exercise_module();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"C:\\no such folder"));

    if (had_value)
        RegSetValueExW(key, L"My Pictures", 0, saved_type, reinterpret_cast<const BYTE*>(saved), saved_size);
    else
        RegDeleteValueW(key, L"My Pictures");
    RegCloseKey(key);
    EXPECT_FALSE(log_exists());
}

// White-box cases on the log writer itself, linked into this program.
class LogWriter : public Log {
protected:
    void TearDown() override
    {
        stop_module_in_process();
        Log::TearDown();
    }
};

TEST_F(LogWriter, OverlongLineIsCutTo1023UnitsWithoutLineEnd)
{
    start_module_in_process(1);
    const std::string prefix = [] {
        char text[32];
        snprintf(text, sizeof(text), "%04lx:%04lx:", GetCurrentProcessId(), GetCurrentThreadId());
        return std::string(text);
    }();
    // 1021 units get CR LF; 1022 only CR; longer ones are cut to 1023 units.
    const std::string fits(1021 - prefix.size(), 'a');
    const std::string only_cr(1022 - prefix.size(), 'b');
    const std::string cut(1500, 'c');
    const std::size_t start = read_log_bytes().size();
    debug_log("%hs", fits.c_str());
    debug_log("%hs", only_cr.c_str());
    debug_log("%hs", cut.c_str());
    debug_log("%hs", "next");
    const std::string bytes = read_log_bytes();
    const std::string expected = prefix + fits + "\r\n" + prefix + only_cr + "\r" + prefix +
                                 std::string(1023 - prefix.size(), 'c') + prefix + "next\r\n";
    EXPECT_EQ(expected, bytes.substr(start));
}

TEST_F(LogWriter, WideArgumentsAreWrittenAsUtf8)
{
    start_module_in_process(1);
    debug_log("%04lu:%hs:%ls", 7ul, "GetValue", L"Caf\u00e9 \u732b");
    EXPECT_EQ("0007:GetValue:Caf\xC3\xA9 \xE7\x8C\xAB", log_messages().back());
}

// A replacement for StringFromIID that fails, patched into this program's
// import table (the module's code is linked into it).
HRESULT WINAPI failing_string_from_iid(REFIID, LPOLESTR* text)
{
    *text = nullptr;
    return E_OUTOFMEMORY;
}

bool patch_import(const char* function, void* replacement)
{
    return patch_import(GetModuleHandleW(nullptr), function, replacement);
}

TEST_F(LogWriter, InterfaceTracesNameTheIidOrFallBack)
{
    start_module_in_process(2);
    trace_query_interface(3, IID_IUnknown, "IUnknown");
    trace_query_interface(3, IID_IClassFactory, nullptr);
    ASSERT_TRUE(patch_import("StringFromIID", reinterpret_cast<void*>(&failing_string_from_iid)));
    trace_query_interface(12, IID_IUnknown, "IUnknown");
    const std::vector<std::string> lines = log_messages();
    ASSERT_GE(lines.size(), 3u);
    const std::vector<std::string> tail(lines.end() - 3, lines.end());
    EXPECT_EQ("0003:QueryInterface:{00000000-0000-0000-C000-000000000046}:IUnknown", tail[0]);
    EXPECT_EQ("0003:QueryInterface:{00000001-0000-0000-C000-000000000046}:(unsupported)", tail[1]);
    EXPECT_EQ("0012:QueryInterface:{?}:IUnknown", tail[2]);
}

// Several writers share the log: each line must reach the file in one
// write on a handle that can only append, so no writer ever places bytes
// by a file position of its own.

struct WriteCall {
    HANDLE file;
    std::string bytes;
};
std::vector<WriteCall> g_writes;
// Taken from kernel32 itself: this program's own WriteFile goes through the
// import slot that the test replaces.
const auto g_real_write_file = system_function<decltype(&WriteFile)>(L"kernel32.dll", "WriteFile");

BOOL WINAPI recording_write_file(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                                 LPOVERLAPPED overlapped)
{
    g_writes.push_back({file, std::string(static_cast<const char*>(data), size)});
    return g_real_write_file(file, data, size, written, overlapped);
}

ACCESS_MASK granted_access(HANDLE handle)
{
    struct BasicInformation {
        ULONG attributes;
        ACCESS_MASK granted_access;
        ULONG reserved[20];
    } information = {};
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    ULONG size = 0;
    if (!query || query(handle, 0 /* ObjectBasicInformation */, &information,
                        sizeof(information), &size) != 0)
        return 0;
    return information.granted_access;
}

TEST_F(LogWriter, EachLineIsOneWriteOnAHandleThatCanOnlyAppend)
{
    start_module_in_process(1);
    const ACCESS_MASK access = granted_access(g_module.log_file);
    EXPECT_EQ(static_cast<ACCESS_MASK>(FILE_APPEND_DATA), access & (FILE_APPEND_DATA | FILE_WRITE_DATA));

    ASSERT_TRUE(patch_import("WriteFile", reinterpret_cast<void*>(&recording_write_file)));
    const std::string long_text(2000, 'z');
    debug_log("%hs", "short");
    debug_log("%hs", long_text.c_str());
    debug_log("%ls", L"Caf\u00e9");
    ASSERT_TRUE(patch_import("WriteFile", reinterpret_cast<void*>(g_real_write_file)));

    ASSERT_EQ(3u, g_writes.size());
    const std::string bytes = read_log_bytes();
    std::size_t end = bytes.size();
    for (auto call = g_writes.rbegin(); call != g_writes.rend(); ++call) {
        EXPECT_EQ(g_module.log_file, call->file);
        ASSERT_LE(call->bytes.size(), end);
        end -= call->bytes.size();
        EXPECT_EQ(call->bytes, bytes.substr(end, call->bytes.size()));
    }
    EXPECT_EQ("short\r\n", g_writes[0].bytes.substr(g_writes[0].bytes.size() - 7));
    EXPECT_EQ(2u, std::count(g_writes[1].bytes.begin(), g_writes[1].bytes.end(), ':'));
    EXPECT_EQ("Caf\xC3\xA9\r\n", g_writes[2].bytes.substr(g_writes[2].bytes.size() - 7));
}

// Two processes with the log open take turns line by line: each line lands
// after the other process's last one, never over it.
constexpr int CHILD_LINES = 200;

std::wstring turn_event_name(DWORD parent, char role)
{
    return L"Local\\quirebinder-log-turn-" + std::to_wstring(parent) + L"-" +
           static_cast<wchar_t>(role);
}

// Not a test of its own: the body of each child process of the next test.
TEST(LogChild, DISABLED_Writer)
{
    const char* role = getenv("QB_LOG_CHILD");
    const char* parent = getenv("QB_LOG_PARENT");
    if (!role || !parent)
        GTEST_SKIP() << "runs only as a child of TwoProcessesTakingTurnsKeepEveryLine";
    const DWORD parent_id = strtoul(parent, nullptr, 10);
    const char other = role[0] == 'x' ? 'y' : 'x';
    const HANDLE mine = OpenEventW(SYNCHRONIZE, FALSE, turn_event_name(parent_id, role[0]).c_str());
    const HANDLE theirs =
        OpenEventW(EVENT_MODIFY_STATE, FALSE, turn_event_name(parent_id, other).c_str());
    ASSERT_TRUE(mine && theirs);
    module_attach(GetModuleHandleW(nullptr));
    initialize_module();  // the parent set Debug
    const std::string filler(300, role[0]);
    for (int i = 0; i < CHILD_LINES; ++i) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mine, 20000));
        debug_log("child %hs line %04d %hs", role, i, filler.c_str());
        SetEvent(theirs);
    }
    finalize_module();
    module_detach();
    CloseHandle(mine);
    CloseHandle(theirs);
}

TEST_F(LogWriter, TwoProcessesTakingTurnsKeepEveryLine)
{
    set_option_dword(L"Debug", 1);
    const DWORD self = GetCurrentProcessId();
    const HANDLE turns[2] = {CreateEventW(nullptr, FALSE, FALSE, turn_event_name(self, 'x').c_str()),
                             CreateEventW(nullptr, FALSE, FALSE, turn_event_name(self, 'y').c_str())};
    ASSERT_TRUE(turns[0] && turns[1]);
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    PROCESS_INFORMATION children[2] = {};
    const char* roles[2] = {"x", "y"};
    SetEnvironmentVariableA("QB_LOG_PARENT", std::to_string(self).c_str());
    for (int i = 0; i < 2; ++i) {
        SetEnvironmentVariableA("QB_LOG_CHILD", roles[i]);
        std::wstring command = std::wstring(L"\"") + program +
                               L"\" --gtest_filter=LogChild.DISABLED_Writer --gtest_also_run_disabled_tests";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &children[i]));
    }
    SetEnvironmentVariableA("QB_LOG_CHILD", nullptr);
    SetEnvironmentVariableA("QB_LOG_PARENT", nullptr);
    SetEvent(turns[0]);
    DWORD child_ids[2] = {};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(children[i].hProcess, 60000));
        DWORD code = 1;
        GetExitCodeProcess(children[i].hProcess, &code);
        EXPECT_EQ(0u, code);
        child_ids[i] = children[i].dwProcessId;
        CloseHandle(children[i].hThread);
        CloseHandle(children[i].hProcess);
    }
    CloseHandle(turns[0]);
    CloseHandle(turns[1]);

    // Each child writes its banner when it opens the log; after those, the
    // lines alternate x, y, x, y, each whole and in its place.
    const std::regex banner("^[0-9a-f]{4,}:[0-9a-f]{4,}:(?:Quirebinder 1\\.1\\.1271.*|"
                            "Missing DLL:propsys\\.dll)$");
    std::vector<std::string> turns_taken;
    for (const std::string& text : log_lines())
        if (!std::regex_match(text, banner))
            turns_taken.push_back(text);
    ASSERT_EQ(static_cast<std::size_t>(2 * CHILD_LINES), turns_taken.size());
    for (int i = 0; i < 2 * CHILD_LINES; ++i) {
        const int child = i % 2;
        char expected[128];
        snprintf(expected, sizeof(expected), ":child %s line %04d ", roles[child], i / 2);
        char pid[16];
        snprintf(pid, sizeof(pid), "%04lx:", child_ids[child]);
        const std::string& text = turns_taken[static_cast<std::size_t>(i)];
        ASSERT_EQ(0u, text.find(pid)) << i << ": " << text.substr(0, 80);
        ASSERT_NE(std::string::npos, text.find(expected)) << i << ": " << text.substr(0, 80);
        ASSERT_EQ(text.substr(text.size() - 300), std::string(300, roles[child][0])) << i;
    }
}

}  // namespace
