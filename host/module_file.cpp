// A module's version from the fixed part of its version resource, read
// without running any of its code.
#include "host/module_file.h"

#include <cstring>

#include "server/unique_handle.h"

std::wstring machine_name(WORD machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64: return L"x64";
    case IMAGE_FILE_MACHINE_I386: return L"x86";
    case IMAGE_FILE_MACHINE_ARM64: return L"ARM64";
    default: return L"machine " + std::to_wstring(machine);
    }
}

std::wstring file_version(const std::wstring& path)
{
    // As data only: a module of another machine loads this way too.
    const UniqueLibrary library(LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!library)
        return {};
    const HMODULE module = library.get();
    std::wstring version;
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* bytes = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = found ? SizeofResource(module, found) : 0;
    // The fixed part follows the key "VS_VERSION_INFO", DWORD-aligned: found
    // by its signature within the resource.
    for (DWORD at = 0; bytes && size >= sizeof(VS_FIXEDFILEINFO) &&
                       at <= size - sizeof(VS_FIXEDFILEINFO);
         at += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, bytes + at, sizeof(info));
        if (info.dwSignature == 0xFEEF04BD) {
            version = std::to_wstring(HIWORD(info.dwFileVersionMS)) + L"." +
                      std::to_wstring(LOWORD(info.dwFileVersionMS)) + L"." +
                      std::to_wstring(HIWORD(info.dwFileVersionLS)) + L"." +
                      std::to_wstring(LOWORD(info.dwFileVersionLS));
            break;
        }
    }
    return version;
}
