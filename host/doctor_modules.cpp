// The modules the registration names: each file there, of the machine its
// view's programs load, with its version; and, in the running host's view,
// each class created through COM as the shell creates it.
#include <objbase.h>

#include <set>
#include <utility>

#include "host/console.h"
#include "host/doctor.h"
#include "host/module_file.h"

namespace {

// The classes, each asked for the interface its shell client asks for.
struct ShellClass {
    const wchar_t* label;
    const char* clsid;
    const wchar_t* iid;
};

const ShellClass CLASSES[] = {
    {L"thumbnails and properties", HANDLER_CLSID_TEXT,
     L"{E357FCCD-A995-4576-B01F-234630154E96}"},  // IThumbnailProvider
    {L"search filter", FILTER_CLSID_TEXT,
     L"{89BCB740-6119-101A-BCB7-00DD010655AF}"},  // IFilter
    {L"preview", PREVIEW_CLSID_TEXT,
     L"{8895B1C6-B41F-4C1C-A562-0D564250836F}"},  // IPreviewHandler
};

bool is_module_row(const RowState& row)
{
    const std::wstring tail = L"\\InprocServer32";
    return row.value_name.empty() && !row.found.empty() && row.path.size() > tail.size() &&
           row.path.compare(row.path.size() - tail.size(), tail.size(), tail) == 0 &&
           (row.state == L"ours" || row.state == L"hidden");
}

void check_file(View view, const std::wstring& path, bool needed, DoctorReport* report)
{
    const std::wstring where = std::wstring(view_label(view)) + L" view: ";
    if (!module_file_exists(path)) {
        report->add(false, needed, L"module", where + L"the registered module " + path +
                                                  L" is missing",
                    L"reinstall, or run \"quirebinder register\" from the folder that holds "
                    L"the modules");
        return;
    }
    const std::wstring file = expand_environment(path);
    const WORD machine = pe_machine(file);
    const WORD wanted = view_module_machine(view);
    if (machine != wanted) {
        report->add(false, needed, L"module",
                    where + path + L" is " +
                        (machine ? L"an " + machine_name(machine) + L" module" : L"no module") +
                        L"; the " +
                        view_label(view) + L" view's programs load " + machine_name(wanted) +
                        L" modules only",
                    L"run \"quirebinder register\": it registers the module of each view's "
                    L"machine from beside quirebinder.exe");
        return;
    }
    const std::wstring version = file_version(file);
    report->add(true, false, L"module",
                where + path + L" (" + machine_name(machine) + L", version " +
                    (version.empty() ? L"unknown" : version) + L")");
}

void check_classes(DoctorReport* report)
{
    for (const ShellClass& shell_class : CLASSES) {
        CLSID clsid;
        IID iid;
        if (!parse_guid(utf16(shell_class.clsid), &clsid) || !parse_guid(shell_class.iid, &iid))
            continue;
        IUnknown* object = nullptr;
        const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                            reinterpret_cast<void**>(&object));
        if (object)
            object->Release();
        const std::wstring what = std::wstring(view_label(running_view())) + L" view: " +
                                  shell_class.label;
        if (SUCCEEDED(hr))
            report->add(true, false, L"class", what + L": created through COM");
        else
            report->add(false, true, L"class", what + L": not created through COM: " + describe(hr),
                        L"run \"quirebinder register\" as administrator; see the module "
                        L"findings above");
    }
}

}  // namespace

void check_modules(DoctorReport* report)
{
    std::set<std::pair<int, std::wstring>> seen;
    bool running_registered = false;
    bool other_registered = false;
    for (const RowState& row : report->rows) {
        if (!is_module_row(row))
            continue;
        (row.view == running_view() ? running_registered : other_registered) = true;
        // Where a per-user class hides the machine's, the files of both.
        for (const std::wstring& path : {row.found, row.expected}) {
            if (seen.insert({int(row.view), path}).second)
                check_file(row.view, path, row.view == running_view(), report);
        }
    }
    if (running_registered)
        check_classes(report);
    if (other_registered)
        report->add(true, false, L"class",
                    std::wstring(view_label(running_view() == View::Bits64 ? View::Bits32
                                                                           : View::Bits64)) +
                        L" view: its classes are created by the " +
                        (running_view() == View::Bits64 ? L"32-bit" : L"64-bit") +
                        L" quirebinder.exe; run \"quirebinder doctor\" with that one");
}
