#include "tests/support/propsys_stand_in.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr wchar_t PROPSYS_DLL[] = L"propsys.dll";

std::wstring utf8_to_wide(const char* text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<std::size_t>(length) - 1);
    return wide;
}

// The build tree as Windows sees it. QB_BINARY_DIR is the host's path: under
// Wine a Unix path, which Wine's own kernel32 export maps to its drive
// (Z: in a default prefix).
std::wstring binary_dir()
{
    const char* unix_path = QB_BINARY_DIR;
    if (unix_path[0] != '/')
        return utf8_to_wide(unix_path);
    using DosName = LPWSTR(CDECL*)(LPCSTR);
    const auto to_dos = reinterpret_cast<DosName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (to_dos) {
        if (LPWSTR dos = to_dos(unix_path)) {
            std::wstring path(dos);
            HeapFree(GetProcessHeap(), 0, dos);
            return path;
        }
    }
    std::wstring path = L"Z:" + utf8_to_wide(unix_path);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::wstring module_path(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string narrow(const std::wstring& text)
{
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], length, nullptr, nullptr);
    bytes.resize(static_cast<std::size_t>(length) - 1);
    return bytes;
}

bool same_path(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool is_known_variant(const char* variant)
{
    for (const char* known : {"full", "no-initvector", "no-two", "none"})
        if (std::strcmp(variant, known) == 0)
            return true;
    return false;
}

}  // namespace

std::wstring propsys_variant_folder(const char* variant)
{
    return binary_dir() + L"\\propsys\\" + utf8_to_wide(variant);
}

std::wstring loaded_propsys_path()
{
    const HMODULE loaded = GetModuleHandleW(PROPSYS_DLL);
    return loaded ? module_path(loaded) : std::wstring();
}

bool use_propsys_variant(const char* variant)
{
    if (!variant || !is_known_variant(variant)) {
        ADD_FAILURE() << "no propsys.dll variant named " << (variant ? variant : "(null)");
        return false;
    }
    const std::wstring loaded = loaded_propsys_path();
    if (!loaded.empty()) {
        ADD_FAILURE() << "cannot switch to the propsys.dll variant " << variant
                      << ": " << narrow(loaded) << " is still loaded";
        return false;
    }
    std::wstring program_folder = module_path(nullptr);
    program_folder.resize(program_folder.find_last_of(L'\\') + 1);
    if (GetFileAttributesW((program_folder + PROPSYS_DLL).c_str()) != INVALID_FILE_ATTRIBUTES) {
        ADD_FAILURE() << narrow(program_folder) << " holds a propsys.dll, which is found first";
        return false;
    }
    const std::wstring folder = propsys_variant_folder(variant);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ADD_FAILURE() << "no folder " << narrow(folder);
        return false;
    }
    if (!SetDllDirectoryW(folder.c_str())) {
        ADD_FAILURE() << "SetDllDirectoryW failed: " << GetLastError();
        return false;
    }

    // A trial load proves that the search finds the chosen file, or nothing.
    const HMODULE trial = LoadLibraryW(PROPSYS_DLL);
    const DWORD error = GetLastError();
    const std::wstring found = trial ? module_path(trial) : std::wstring();
    if (trial)
        FreeLibrary(trial);
    if (!loaded_propsys_path().empty()) {
        ADD_FAILURE() << narrow(found) << " stays loaded after the trial load";
        return false;
    }
    if (std::strcmp(variant, "none") == 0) {
        if (trial) {
            ADD_FAILURE() << "with no stand-in, " << narrow(found)
                          << " loads; run under WINEDLLOVERRIDES=propsys=n";
            return false;
        }
        return true;
    }
    if (!trial) {
        ADD_FAILURE() << "the propsys.dll of " << narrow(folder) << " does not load: " << error;
        return false;
    }
    if (!same_path(found, folder + L"\\" + PROPSYS_DLL)) {
        ADD_FAILURE() << "LoadLibrary(\"propsys.dll\") found " << narrow(found) << ", not the one in "
                      << narrow(folder);
        return false;
    }
    return true;
}

bool load_imaging_component()
{
    if (GetModuleHandleW(L"windowscodecs.dll"))
        return true;
    HMODULE stand_in = nullptr;
    if (!GetModuleHandleW(PROPSYS_DLL)) {
        const std::wstring path = propsys_variant_folder("full") + L"\\" + PROPSYS_DLL;
        stand_in = LoadLibraryW(path.c_str());
        if (!stand_in) {
            ADD_FAILURE() << narrow(path) << " does not load: " << GetLastError();
            return false;
        }
    }
    // Never freed: COM's later loads by path find this module.
    const HMODULE codecs = LoadLibraryW(L"windowscodecs.dll");
    const DWORD error = GetLastError();
    if (stand_in)
        FreeLibrary(stand_in);
    if (!codecs) {
        ADD_FAILURE() << "windowscodecs.dll does not load: " << error;
        return false;
    }
    return true;
}

long stand_in_live_objects()
{
    const HMODULE loaded = GetModuleHandleW(PROPSYS_DLL);
    if (!loaded)
        return -1;
    using LiveObjects = LONG(WINAPI*)();
    const auto live = reinterpret_cast<LiveObjects>(
        reinterpret_cast<void*>(GetProcAddress(loaded, "StandInLiveObjects")));
    return live ? live() : -1;
}
