#include "tests/support/module_under_test.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <string>

#include "server/module.h"
#include "server/utf8.h"

std::wstring handler_class_key()
{
    return L"CLSID\\" + utf16(HANDLER_CLSID_TEXT);
}

namespace {

const std::wstring OPTIONS_KEY = handler_class_key() + L"\\Options";

template <class Function>
void bind(HMODULE dll, const char* name, Function& target)
{
    target = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

HKEY open_options_key()
{
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, OPTIONS_KEY.c_str(), 0, nullptr, 0,
                                           KEY_SET_VALUE, nullptr, &key, nullptr);
    EXPECT_EQ(ERROR_SUCCESS, status);
    return key;
}

}  // namespace

const ModuleUnderTest& qb_module()
{
    static const ModuleUnderTest module = [] {
        ModuleUnderTest m;
        m.dll = LoadLibraryW(QB_MODULE_FILE);
        if (m.dll) {
            bind(m.dll, "DllGetClassObject", m.DllGetClassObject);
            bind(m.dll, "DllCanUnloadNow", m.DllCanUnloadNow);
            bind(m.dll, "DllRegisterServer", m.DllRegisterServer);
            bind(m.dll, "DllUnregisterServer", m.DllUnregisterServer);
        }
        return m;
    }();
    if (!module.dll || !module.DllGetClassObject || !module.DllCanUnloadNow)
        ADD_FAILURE() << "the module or its exports not found";
    return module;
}

ComPtr<IClassFactory> qb_factory()
{
    ComPtr<IClassFactory> factory;
    const ModuleUnderTest& module = qb_module();
    if (module.DllGetClassObject) {
        const HRESULT hr = module.DllGetClassObject(
            CLSID_Quirebinder, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
        EXPECT_EQ(S_OK, hr);
    }
    return factory;
}

void clear_options()
{
    RegDeleteKeyW(HKEY_CLASSES_ROOT, OPTIONS_KEY.c_str());
}

void set_option_raw(const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    const HKEY key = open_options_key();
    if (!key)
        return;
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void set_option_dword(const wchar_t* name, DWORD value)
{
    set_option_raw(name, REG_DWORD, &value, sizeof(value));
}

void set_option_string(const wchar_t* name, const wchar_t* text)
{
    set_option_raw(name, REG_SZ, text,
                   static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
}

std::wstring log_path()
{
    WCHAR folder[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_MYPICTURES | CSIDL_FLAG_CREATE, nullptr, 0,
                                     folder));
    return std::wstring(folder) + L"\\quirebinderlog.txt";
}

void delete_log()
{
    DeleteFileW(log_path().c_str());
}

bool log_exists()
{
    return GetFileAttributesW(log_path().c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string read_log_bytes()
{
    const HANDLE file =
        CreateFileW(log_path().c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

std::vector<std::string> log_lines()
{
    std::string bytes = read_log_bytes();
    std::vector<std::string> lines;
    if (bytes.size() < 5)
        return lines;
    bytes.erase(0, 5);
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> log_messages()
{
    std::vector<std::string> messages;
    for (const std::string& line : log_lines()) {
        // "pid:tid:" with at least four hex digits each
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        messages.push_back(second == std::string::npos ? line : line.substr(second + 1));
    }
    return messages;
}

void finalize_module_now()
{
    const ModuleUnderTest& module = qb_module();
    if (module.DllCanUnloadNow) {
        EXPECT_EQ(S_OK, module.DllCanUnloadNow());
    }
}

std::wstring windows_path(const char* unix_path)
{
    std::wstring path = L"Z:";
    for (const char* c = unix_path; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return path;
}

std::wstring source_path(const wchar_t* relative)
{
    std::wstring path = windows_path(QB_SOURCE_DIR) + L"\\" + relative;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::wstring scratch_folder()
{
    static std::atomic<int> counter{0};
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring path = windows_path(QB_BINARY_DIR) + L"\\scratch";
    CreateDirectoryW(path.c_str(), nullptr);
    // Wine reuses process ids from run to run: the clock keeps names apart.
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    path += L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(now.QuadPart) + L"-" + std::to_wstring(++counter);
    if (test) {
        path += L'-';
        for (const char* c = test->name(); *c; ++c)
            if (isalnum(static_cast<unsigned char>(*c)))
                path += static_cast<wchar_t>(*c);
    }
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

namespace {
bool g_started_in_process = false;
}

void start_module_in_process(DWORD debug)
{
    stop_module_in_process();
    g_started_in_process = true;
    clear_options();
    if (debug != 0)
        set_option_dword(L"Debug", debug);
    delete_log();
    module_attach(GetModuleHandleW(nullptr));
    initialize_module();
}

void stop_module_in_process()
{
    if (!g_started_in_process)
        return;
    g_started_in_process = false;
    finalize_module();
    module_detach();
    clear_options();
}
