// The registration table applied to the registry through the Win32 registry
// functions, each entry in the view and under the root its scope gives.
#include "registration/registration.h"

#include <objbase.h>
#include <shlobj.h>

#include "server/file_identity.h"
#include "server/log.h"
#include "server/unique_handle.h"
#include "server/utf8.h"

using registration::Entry;
using registration::Hive;
using registration::Ownership;
using registration::ViewSharing;

namespace {

constexpr wchar_t CLASSES[] = L"Software\\Classes\\";

HRESULT from_status(LSTATUS status)
{
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

// A slot another program holds: any value but an empty string or ours.
bool holds_other(const RegistryValue& held, const std::wstring& ours)
{
    return held.present && !(held.is_text() && (held.data.empty() || same_data(held.data, ours)));
}

// The text with its environment variables expanded, as the loader expands
// a REG_EXPAND_SZ server path.
std::wstring expand_variables(const std::wstring& text)
{
    std::wstring expanded(ExpandEnvironmentStringsW(text.c_str(), nullptr, 0), L'\0');
    if (expanded.empty() ||
        ExpandEnvironmentStringsW(text.c_str(), expanded.data(), DWORD(expanded.size())) == 0)
        return text;
    return expanded.c_str();
}

// The full path, in its long form where the file exists.
std::wstring normal_path(const std::wstring& path)
{
    std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    if (full.empty() ||
        GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr) == 0)
        return path;
    full = full.c_str();
    std::wstring long_path(GetLongPathNameW(full.c_str(), nullptr, 0), L'\0');
    if (long_path.empty() ||
        GetLongPathNameW(full.c_str(), long_path.data(), DWORD(long_path.size())) == 0)
        return full;
    return long_path.c_str();
}

std::wstring root_name(HKEY root)
{
    return root == HKEY_CURRENT_USER ? L"HKCU\\" : L"HKLM\\";
}

// True when the key holds no value and no subkey.
bool is_empty(HKEY root, const std::wstring& path, REGSAM view)
{
    UniqueKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, key.out()) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subkeys == 0 && values == 0;
}

// Deletes path and then each of its parents while they are empty, stopping
// at stop (never deleted).
void prune(HKEY root, std::wstring path, const std::wstring& stop, REGSAM view)
{
    while (path.size() > stop.size() && is_empty(root, path, view)) {
        if (RegDeleteKeyExW(root, path.c_str(), view, 0) != ERROR_SUCCESS)
            return;
        const std::size_t slash = path.rfind(L'\\');
        if (slash == std::wstring::npos)
            return;
        path.resize(slash);
    }
}

// Removes one entry in one view: its value where it is ours (own values
// always, shared slots only while they hold our value), then the keys left
// empty below the entry's parent. Missing keys and values are not errors.
HRESULT remove_entry(const Entry& entry, Scope scope, REGSAM flag)
{
    HKEY root = nullptr;
    std::wstring path;
    if (!entry_location(entry, scope, &root, &path))
        return S_OK;
    const std::wstring name = utf16(entry.value_name);
    {
        UniqueKey key;
        const LSTATUS opened = RegOpenKeyExW(root, path.c_str(), 0,
                                             KEY_QUERY_VALUE | KEY_SET_VALUE | flag, key.out());
        if (opened == ERROR_FILE_NOT_FOUND)
            return S_OK;
        if (opened != ERROR_SUCCESS)
            return from_status(opened);
        const RegistryValue held = read_registry_value(key.get(), name);
        const bool ours = entry.ownership == Ownership::Own ||
                          (held.is_text() && same_data(held.data, utf16(entry.data)));
        if (ours) {
            const LSTATUS deleted = RegDeleteValueW(key.get(), name.c_str());
            if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND)
                return from_status(deleted);
        }
    }
    HKEY parent_root = nullptr;
    std::wstring stop;
    Entry parent = entry;
    parent.key.clear();
    entry_location(parent, scope, &parent_root, &stop);
    prune(root, path, stop, flag);
    return S_OK;
}

// The module paths view holds, for scope, in the values that name a module
// of ours (the classes' servers); none where view no longer registers it.
std::vector<std::wstring> registered_module_paths(Scope scope, View view)
{
    std::vector<std::wstring> paths;
    for (const Entry& entry : registration::entries()) {
        HKEY root = nullptr;
        std::wstring path;
        if (entry.data != registration::MODULE_PATH || !entry_location(entry, scope, &root, &path))
            continue;
        const RegistryValue held = read_registry_value(root, path, utf16(entry.value_name), view);
        if (held.is_text() && !held.data.empty())
            paths.push_back(held.data);
    }
    return paths;
}

// True when view still registers a module of ours, for scope.
bool module_registered(Scope scope, View view)
{
    return !registered_module_paths(scope, view).empty();
}

}  // namespace

REGSAM view_flag(View view)
{
    return view == View::Bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

// The machine of the Windows that runs the program: IMAGE_FILE_MACHINE_AMD64,
// _ARM64 or _I386. Windows on ARM also runs x64 and x86 programs, under
// emulation; IsWow64Process2 (Windows 10) tells its machine to them too.
View running_view()
{
    return sizeof(void*) == 8 ? View::Bits64 : View::Bits32;
}

WORD windows_machine()
{
    using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto is_wow64_process2 = reinterpret_cast<IsWow64Process2Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                               "IsWow64Process2")));
    USHORT process = 0;
    USHORT native = 0;
    if (is_wow64_process2 && is_wow64_process2(GetCurrentProcess(), &process, &native))
        return native;
#ifdef _WIN64
    return IMAGE_FILE_MACHINE_AMD64;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? IMAGE_FILE_MACHINE_AMD64
                                                                : IMAGE_FILE_MACHINE_I386;
#endif
}

bool is_64bit_windows()
{
    return windows_machine() != IMAGE_FILE_MACHINE_I386;
}

WORD view_module_machine(View view)
{
    if (view == View::Bits32)
        return IMAGE_FILE_MACHINE_I386;
    const WORD machine = windows_machine();
    return machine == IMAGE_FILE_MACHINE_I386 ? 0 : machine;
}

WORD pe_machine(const std::wstring& path)
{
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 0;
    IMAGE_DOS_HEADER dos = {};
    DWORD read = 0;
    if (!ReadFile(file.get(), &dos, sizeof(dos), &read, nullptr) || read != sizeof(dos) ||
        dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0)
        return 0;
    struct {
        DWORD signature;
        IMAGE_FILE_HEADER header;
    } nt = {};
    LARGE_INTEGER at;
    at.QuadPart = dos.e_lfanew;
    if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), &nt, sizeof(nt), &read, nullptr) || read != sizeof(nt) ||
        nt.signature != IMAGE_NT_SIGNATURE)
        return 0;
    return nt.header.Machine;
}

bool module_fits_view(const std::wstring& path, View view)
{
    const WORD machine = pe_machine(path);
    return machine != 0 && machine == view_module_machine(view);
}

RegistryValue read_registry_value(HKEY key, const std::wstring& name)
{
    RegistryValue value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size) !=
        ERROR_SUCCESS)
        return value;
    value.data.assign(size / sizeof(wchar_t) + 1, L'\0');
    size = DWORD(value.data.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type,
                         reinterpret_cast<BYTE*>(value.data.data()), &size) != ERROR_SUCCESS)
        return RegistryValue{};
    value.present = true;
    value.data.resize((size + 1) / sizeof(wchar_t));
    if (value.is_text())
        value.data = value.data.c_str();
    return value;
}

RegistryValue read_registry_value(HKEY root, const std::wstring& path, const std::wstring& name,
                                  View view)
{
    UniqueKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view_flag(view), key.out()) !=
        ERROR_SUCCESS)
        return {};
    return read_registry_value(key.get(), name);
}

bool read_registry_text(HKEY root, const std::wstring& path, const std::wstring& name, View view,
                        std::wstring* text)
{
    const RegistryValue value = read_registry_value(root, path, name, view);
    if (!value.is_text())
        return false;
    *text = value.data;
    return true;
}

bool read_registry_number(HKEY root, const std::wstring& path, const std::wstring& name,
                          View view, DWORD* number)
{
    const RegistryValue value = read_registry_value(root, path, name, view);
    if (value.type == REG_DWORD && value.data.size() >= 2) {
        *number = DWORD(value.data[0]) | DWORD(value.data[1]) << 16;
        return true;
    }
    if (value.type != REG_SZ || value.data.empty() || value.data.size() > 9 ||
        value.data.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    *number = DWORD(std::stoul(value.data));
    return true;
}

std::wstring value_label(const RegistryValue& value)
{
    if (!value.present)
        return {};
    if (value.is_text())
        return value.data;
    if (value.type == REG_DWORD && value.data.size() >= 2)
        return L"REG_DWORD " + std::to_wstring(DWORD(value.data[0]) | DWORD(value.data[1]) << 16);
    return L"a value of type " + std::to_wstring(value.type);
}

bool parse_guid(const std::wstring& text, GUID* guid)
{
    return text.size() == 38 && text[0] == L'{' && SUCCEEDED(IIDFromString(text.c_str(), guid));
}

bool same_data(const std::wstring& a, const std::wstring& b)
{
    GUID first;
    GUID second;
    if (parse_guid(a, &first) && parse_guid(b, &second))
        return IsEqualGUID(first, second) != FALSE;
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool same_module_file(const std::wstring& a, const std::wstring& b)
{
    const std::wstring first = normal_path(expand_variables(a));
    const std::wstring second = normal_path(expand_variables(b));
    return CompareStringOrdinal(first.c_str(), int(first.size()), second.c_str(),
                                int(second.size()), TRUE) == CSTR_EQUAL ||
           same_file(first.c_str(), second.c_str());
}

bool entry_location(const Entry& entry, Scope scope, HKEY* root, std::wstring* path)
{
    if (entry.hive == Hive::Machine) {
        if (scope == Scope::User)
            return false;
        *root = HKEY_LOCAL_MACHINE;
        *path = utf16(entry.path());
        return true;
    }
    *root = scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    *path = CLASSES + utf16(entry.path());
    return true;
}

HRESULT register_module(Scope scope, View view, const std::wstring& module_path,
                        std::vector<KeptSlot>* kept)
{
    const REGSAM flag = view_flag(view);
    const auto module = view == View::Bits64 ? registration::Machine::X64
                                             : registration::Machine::X86;
    const auto system = is_64bit_windows() ? registration::Machine::X64
                                           : registration::Machine::X86;
    for (const Entry& entry : registration::entries()) {
        HKEY root = nullptr;
        std::wstring path;
        if (!entry_location(entry, scope, &root, &path))
            continue;
        const std::wstring name = utf16(entry.value_name);
        const std::wstring data =
            utf16(registration::expand(entry.data, utf8(module_path), module, system));

        UniqueKey key;
        HRESULT hr = from_status(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0,
                                                 KEY_QUERY_VALUE | KEY_SET_VALUE | flag, nullptr,
                                                 key.out(), nullptr));
        if (FAILED(hr))
            return hr;
        if (entry.ownership == Ownership::Shared) {
            RegistryValue held = read_registry_value(key.get(), name);
            // The shell reads the user's classes merged over the machine's,
            // the user's value winning: a user's slot left free still holds
            // what the machine's holds, and filling it would hide that.
            const bool free = !held.present || (held.is_text() && held.data.empty());
            if (free && root == HKEY_CURRENT_USER) {
                const RegistryValue machine =
                    read_registry_value(HKEY_LOCAL_MACHINE, path, name, view);
                if (holds_other(machine, data)) {
                    held = machine;
                    root = HKEY_LOCAL_MACHINE;
                }
            }
            if (holds_other(held, data)) {
                if (kept)
                    kept->push_back({root_name(root) + path, value_label(held)});
                continue;
            }
        }
        hr = from_status(RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(data.c_str()),
                                        DWORD((data.size() + 1) * sizeof(wchar_t))));
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT unregister_module(Scope scope, View view)
{
    const View other = view == View::Bits64 ? View::Bits32 : View::Bits64;
    const std::vector<Entry>& entries = registration::entries();
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->views == ViewSharing::PerView)
            RETURN_IF_FAILED(remove_entry(*entry, scope, view_flag(view)));
    }
    // The entries both views share serve the other view's module too: they
    // go with the last registration, from both views (where a registry keeps
    // the views apart, as Wine's does, each view has a copy). 32-bit Windows
    // has one view, which both flags open: there is no other module.
    const bool two_views = is_64bit_windows();
    if (two_views && module_registered(scope, other))
        return S_OK;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->views == ViewSharing::BothViews) {
            RETURN_IF_FAILED(remove_entry(*entry, scope, view_flag(view)));
            if (two_views)
                RETURN_IF_FAILED(remove_entry(*entry, scope, view_flag(other)));
        }
    }
    return S_OK;
}

HRESULT unregister_module_file(Scope scope, View view, const std::wstring& module_path,
                               std::wstring* registered)
{
    for (const std::wstring& held : registered_module_paths(scope, view))
        if (!same_module_file(held, module_path)) {
            if (registered)
                *registered = held;
            return REGISTERED_ELSEWHERE;
        }
    return unregister_module(scope, view);
}

void notify_association_change()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
