// The registration table held against the registry: every row in each view
// this Windows has, per machine and (asked for) per user, each found ours,
// missing, held by another program, or hidden by the other scope's value.
#include <algorithm>

#include "host/console.h"
#include "host/doctor.h"

using registration::Entry;
using registration::Hive;

namespace {

constexpr wchar_t CLASSES[] = L"Software\\Classes\\";

bool is_clsid(const std::wstring& text)
{
    GUID clsid;
    return parse_guid(text, &clsid);
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
    const RegistryValue held = read_registry_value(root, path, row.value_name, view);
    row.found = value_label(held);
    row.expected = module_row ? row.found : utf16(registration::expand(entry.data, "", machine,
                                                                       system));
    row.decides = entry.role == registration::Role::Feature;
    if (!held.present || (held.is_text() && held.data.empty()))
        row.state = L"missing";
    else if (held.is_text() && (module_row || same_data(held.data, row.expected)))
        row.state = L"ours";
    else
        row.state = L"other";

    // The shell reads the user's classes over the machine's; elevated
    // programs and services (the indexer) read the machine's alone. A
    // user's class of ours naming its own module hides the machine's too:
    // Explorer loads the user's file.
    const RegistryValue beside =
        entry.hive == Hive::Classes
            ? read_registry_value(scope == Scope::Machine ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                                  CLASSES + utf16(entry.path()), row.value_name, view)
            : RegistryValue{};
    const bool same = beside.is_text() && (module_row ? same_module_file(beside.data, row.found)
                                                      : same_data(beside.data, row.found));
    if (row.state == L"ours" && beside.present && !(beside.is_text() && beside.data.empty()) &&
        !same && (!module_row || scope == Scope::Machine)) {
        row.state = L"hidden";
        row.found = value_label(beside);
        if (module_row) {
            row.other_module = row.found;
            row.other_module_exists = module_file_exists(row.found);
            row.decides = false;
            return row;
        }
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
    if (row.other_module == row.found)
        holder += row.other_module_exists ? L"" : L", which is missing";
    else if (!row.other_module.empty())
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
                        report->add(false, blocking && row->decides, L"registry",
                                    where + L": " + row_problem(*row), row_advice(*row));
                }
            }
        }
    }
}
