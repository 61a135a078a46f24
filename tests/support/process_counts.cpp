#include "tests/support/process_counts.h"

#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <vector>

// GDI objects of this process. Wine's GetGuiResources answers 0 for every
// process, so under Wine the objects are counted in the GDI handle table
// that the PEB points to (offset 0xF8 on x64, 0x94 on x86), one entry of 24
// bytes per handle in both, whose type byte is nonzero while the object lives.
DWORD gdi_objects()
{
#ifdef _WIN64
    constexpr std::size_t GDI_TABLE_OFFSET = 0xF8;
#else
    constexpr std::size_t GDI_TABLE_OFFSET = 0x94;
#endif
    const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported != 0)
        return reported;
    struct Entry {
        UINT64 object;
        ULONG owner;
        USHORT unique;
        UCHAR type;
        UCHAR flags;
        UINT64 user;
    };
    static_assert(sizeof(Entry) == 24, "GDI handle table entry");
    using QueryProcess = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryProcess>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic),
                        nullptr) != 0)
        return 0;
    const BYTE* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    const Entry* table = *reinterpret_cast<const Entry* const*>(peb + GDI_TABLE_OFFSET);
    DWORD count = 0;
    for (std::size_t i = 0; table && i < 0x10000; ++i)
        count += table[i].type != 0;
    return count;
}

// Handles of this process. Wine's GetProcessHandleCount answers 0; the
// system's handle list has them under Wine as under Windows.
DWORD handles()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return count;
    struct Entry {
        PVOID object;
        ULONG_PTR process_id;
        ULONG_PTR handle;
        ULONG access;
        USHORT back_trace;
        USHORT type;
        ULONG attributes;
        ULONG reserved;
    };
    using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG SYSTEM_EXTENDED_HANDLE_INFORMATION = 64;
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    LONG status = 0;
    for (int attempt = 0; query && attempt < 6; ++attempt) {
        status = query(SYSTEM_EXTENDED_HANDLE_INFORMATION, buffer.data(), ULONG(buffer.size()),
                       &needed);
        if (status != LONG(0xC0000004))  // STATUS_INFO_LENGTH_MISMATCH
            break;
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
    }
    if (!query || status != 0)
        return 0;
    const ULONG_PTR entries = *reinterpret_cast<const ULONG_PTR*>(buffer.data());
    const Entry* entry = reinterpret_cast<const Entry*>(buffer.data() + 2 * sizeof(ULONG_PTR));
    for (ULONG_PTR i = 0; i < entries; ++i)
        count += entry[i].process_id == GetCurrentProcessId();
    return count;
}
