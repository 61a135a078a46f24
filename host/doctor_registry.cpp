// The registration table held against the registry: every row in each view
// this Windows has, per machine and (asked for) per user, each found ours,
// missing, held by another program, or hidden by the other scope's value.
#include <objbase.h>

#include <algorithm>

#include "host/console.h"
#include "host/doctor.h"

using registration::Entry;
using registration::Hive;

namespace {

constexpr wchar_t CLASSES[] = L"Software\\Classes\\";

bool same_text(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool is_clsid(const std::wstring& text)
{
    CLSID clsid;
    return text.size() == 38 && text[0] == L'{' && SUCCEEDED(CLSIDFromString(text.c_str(), &clsid));
}


// Names another program's class and its module, as the view holds them.
void describe_other(RowState* row)
{
    std::wstring clsid = row->found;
    // A ProgID's own class, where the value is a file type.
    if (!is_clsid(clsid) &&
        !read_registry_text(HKEY_CLASSES_ROOT, clsid + L"\\CLSID", L"", row->view, &clsid))
        return;
    read_registry_text(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid, L"", row->view, &row->other_name);
    if (read_registry_text(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32", L"",
                           row->view, &row->other_module))
        row->other_module_exists = module_file_exists(row->other_module);
}

RowState check_row(const Entry& entry, Scope scope, View view)
{
    RowState row;
    row.view = view;
    row.scope = scope;
    row.value_name = utf16(entry.value_name);
    HKEY root = nullptr;
    std::wstring path;
    entry_location(entry, scope, &root, &path);
    row.path = (root == HKEY_CURRENT_USER ? L"HKCU\\" : L"HKLM\\") + path;
    row.needed = view == running_view() && scope == Scope::Machine;
    const auto machine = view == View::Bits64 ? registration::Machine::X64
                                              : registration::Machine::X86;
    const auto system = is_64bit_windows() ? registration::Machine::X64
                                            : registration::Machine::X86;
    const bool module_row = entry.data == registration::MODULE_PATH;
    const bool present = read_registry_text(root, path, row.value_name, view, &row.found) &&
                         !row.found.empty();
    row.expected = module_row ? row.found : utf16(registration::expand(entry.data, "", machine,
                                                                       system));
    if (!present)
        row.state = L"missing";
    else if (module_row || same_text(row.found, row.expected))
        row.state = L"ours";
    else
        row.state = L"other";

    // The shell reads the user's classes over the machine's; elevated
    // programs and services (the indexer) read the machine's alone.
    std::wstring beside;
    if (entry.hive == Hive::Classes && row.state == L"ours" &&
        read_registry_text(scope == Scope::Machine ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                           CLASSES + utf16(entry.path()), row.value_name, view, &beside) &&
        !beside.empty() && !same_text(beside, row.found) && !module_row) {
        row.state = L"hidden";
        row.found = beside;
    }
    if (row.state == L"other" || row.state == L"hidden")
        describe_other(&row);
    return row;
}

std::wstring scope_label(Scope scope)
{
    return scope == Scope::Machine ? L"this machine" : L"this user";
}

std::wstring register_advice(Scope scope)
{
    return scope == Scope::Machine ? L"run \"quirebinder register\" as administrator"
                                   : L"run \"quirebinder register --user\"";
}

std::wstring row_problem(const RowState& row)
{
    std::wstring text = row.path + (row.value_name.empty() ? L"" : L" [" + row.value_name + L"]");
    if (row.state == L"missing")
        return text + L": missing";
    std::wstring holder = row.found;
    if (!row.other_name.empty())
        holder += L" \"" + row.other_name + L"\"";
    if (!row.other_module.empty())
        holder += L" (" + row.other_module + (row.other_module_exists ? L")" : L", missing)");
    if (row.state == L"hidden")
        return text + L": hidden by the " +
               (row.scope == Scope::Machine ? L"per-user" : L"machine-wide") + L" value " + holder;
    return text + L": held by another program: " + holder;
}

std::wstring row_advice(const RowState& row)
{
    if (row.state == L"missing")
        return register_advice(row.scope);
    if (row.state == L"hidden")
        return row.scope == Scope::Machine
                   ? L"the user's value wins in Explorer; \"quirebinder unregister --user\" "
                     L"removes ours, another program's is removed with that program"
                   : L"elevated programs and the indexer read the machine-wide value; "
                     L"\"quirebinder register\" as administrator where the slot is free";
    return L"another program handles this; uninstall it or change its settings to give "
           L"the slot back, then run \"quirebinder register\"";
}

}  // namespace

std::wstring expand_environment(const std::wstring& path)
{
    std::wstring expanded(MAX_PATH, L'\0');
    const DWORD length = ExpandEnvironmentStringsW(path.c_str(), expanded.data(), MAX_PATH);
    return length > 0 && length <= MAX_PATH ? std::wstring(expanded.c_str()) : path;
}

bool module_file_exists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(expand_environment(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

View running_view()
{
    return sizeof(void*) == 8 ? View::Bits64 : View::Bits32;
}

const wchar_t* view_label(View view)
{
    return view == View::Bits64 ? L"64-bit" : L"32-bit";
}

std::vector<View> windows_views()
{
    if (is_64bit_windows())
        return {View::Bits64, View::Bits32};
    return {View::Bits32};
}

namespace {

// The value's type and bytes; false when the key or the value is missing.
bool read_registry_value(HKEY root, const std::wstring& path, const std::wstring& name, View view,
                         DWORD* type, std::wstring* data)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view_flag(view), &key) !=
        ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size / sizeof(wchar_t) + 1, L'\0');
        size = DWORD(data->size() * sizeof(wchar_t));
        status = RegQueryValueExW(key, name.c_str(), nullptr, type,
                                  reinterpret_cast<BYTE*>(data->data()), &size);
        data->resize(std::min<std::size_t>(data->size(), (size + 1) / sizeof(wchar_t)));
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}  // namespace

bool read_registry_text(HKEY root, const std::wstring& path, const std::wstring& name, View view,
                        std::wstring* text)
{
    DWORD type = 0;
    std::wstring data;
    if (!read_registry_value(root, path, name, view, &type, &data) ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    *text = data.c_str();
    return true;
}

bool read_registry_number(HKEY root, const std::wstring& path, const wchar_t* name, View view,
                          DWORD* number)
{
    DWORD type = 0;
    std::wstring data;
    if (!read_registry_value(root, path, name, view, &type, &data))
        return false;
    if (type == REG_DWORD && data.size() >= 2) {
        *number = DWORD(data[0]) | DWORD(data[1]) << 16;
        return true;
    }
    const std::wstring text = data.c_str();
    if ((type != REG_SZ) || text.empty() || text.size() > 9 ||
        text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    *number = DWORD(std::stoul(text));
    return true;
}

void check_registry(bool user, DoctorReport* report)
{
    std::vector<Scope> scopes = {Scope::Machine};
    if (user)
        scopes.push_back(Scope::User);
    for (const View view : windows_views()) {
        for (const Scope scope : scopes) {
            const std::size_t first = report->rows.size();
            // Registered: a class of ours names its module in this view.
            bool registered = false;
            for (const Entry& entry : registration::entries()) {
                HKEY root = nullptr;
                std::wstring path;
                if (!entry_location(entry, scope, &root, &path))
                    continue;
                report->rows.push_back(check_row(entry, scope, view));
                registered = registered || (entry.data == registration::MODULE_PATH &&
                                            report->rows.back().state != L"missing");
            }
            const auto begin = report->rows.begin() + std::ptrdiff_t(first);
            const auto ours = std::count_if(begin, report->rows.end(), [](const RowState& r) {
                return r.state == L"ours";
            });
            const auto total = report->rows.end() - begin;
            const std::wstring where = std::wstring(view_label(view)) + L" view, " +
                                       scope_label(scope);
            const bool blocking = view == running_view() && scope == Scope::Machine;
            if (ours == total) {
                report->add(true, false, L"registry",
                            where + L": all " + std::to_wstring(total) + L" entries in place");
            } else if (!registered) {
                report->add(false, blocking, L"registry",
                            where + L": not registered" +
                                (view == running_view() ? L""
                                                        : L" (programs of this view show no "
                                                          L"covers in their Open and Save "
                                                          L"dialogs)"),
                            register_advice(scope));
            } else {
                for (auto row = begin; row != report->rows.end(); ++row) {
                    if (row->state != L"ours")
                        report->add(false, blocking, L"registry",
                                    where + L": " + row_problem(*row), row_advice(*row));
                }
            }
        }
    }
}
