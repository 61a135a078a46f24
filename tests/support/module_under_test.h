// Test access to the module of the build (quirebinder64.dll or
// quirebinder32.dll, QB_MODULE_FILE) through its exports, as the shell uses it,
// plus the registry settings and the diagnostics log it reads and writes.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "identity.h"

using Microsoft::WRL::ComPtr;

// The module, loaded by LoadLibraryW from the test program's folder on first
// use and kept for the life of the process.
struct ModuleUnderTest {
    HMODULE dll = nullptr;
    HRESULT(STDAPICALLTYPE* DllGetClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* DllCanUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* DllRegisterServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* DllUnregisterServer)() = nullptr;
};
const ModuleUnderTest& qb_module();

// A class factory for CLSID_Quirebinder (fails the test when there is none).
ComPtr<IClassFactory> qb_factory();

// A new handler asked for interface I through a fresh factory; null (with a
// failed expectation) when creation fails.
template <class I>
ComPtr<I> qb_create()
{
    ComPtr<I> object;
    ComPtr<IClassFactory> factory = qb_factory();
    if (factory)
        factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf()));
    return object;
}

// The log's first line at each initialisation of the module.
inline const std::string LOG_BANNER = std::string("Quirebinder ") + QUIREBINDER_VERSION;

// The handler's class key below HKCR, "CLSID\{...}".
std::wstring handler_class_key();

// HKCR\CLSID\{...}\Options. Changes take effect at the module's next
// initialisation.
void clear_options();  // deletes the Options key
void set_option_dword(const wchar_t* name, DWORD value);
void set_option_string(const wchar_t* name, const wchar_t* text);
void set_option_raw(const wchar_t* name, DWORD type, const void* data, DWORD size);

// The log file quirebinderlog.txt in the Pictures folder.
std::wstring log_path();
void delete_log();
std::string read_log_bytes();            // whole file, empty when absent
bool log_exists();
// The log's lines (split at CR LF) after the five header bytes.
std::vector<std::string> log_lines();
// Lines with their "pid:tid:" prefix removed.
std::vector<std::string> log_messages();

// Finalises the module (DllCanUnloadNow must answer S_OK) so that the next
// DllGetClassObject reads the settings again.
void finalize_module_now();

// Absolute Windows path of a file in the source tree (e.g. L"tests/data/books/a.mobi").
std::wstring source_path(const wchar_t* relative);
// A fresh empty folder for one test's files, under the build tree.
std::wstring scratch_folder();

// For white-box tests that link the module's code into the test program:
// writes the Debug option, then runs the module's own initialisation in this
// process (the log opens when debug is nonzero). stop_module_in_process
// finalises it again.
void start_module_in_process(DWORD debug);
void stop_module_in_process();

// Windows form ("Z:\...") of a Unix path.
std::wstring windows_path(const char* unix_path);
