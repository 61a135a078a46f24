// What turns the shell's features off outside our keys: Explorer's
// icons-only setting, the thumbnail policies, an enforced approval list,
// the indexer's reach, and a thumbnail cache older than the registration.
#include <shlobj.h>

#include "host/console.h"
#include "host/doctor.h"
#include "server/unique_handle.h"

namespace {

constexpr wchar_t POLICIES[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t APPROVED[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// A nonzero DWORD policy, per user or per machine; the first that is set.
const wchar_t* policy_set(const wchar_t* name)
{
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        DWORD number = 0;
        if (read_registry_number(root, POLICIES, name, running_view(), &number) && number != 0)
            return root == HKEY_CURRENT_USER ? L"HKCU" : L"HKLM";
    }
    return nullptr;
}

void check_explorer(DoctorReport* report)
{
    DWORD icons_only = 0;
    if (read_registry_number(HKEY_CURRENT_USER,
                             L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced",
                             L"IconsOnly", running_view(), &icons_only) &&
        icons_only != 0)
        report->add(false, true, L"explorer",
                    L"Explorer always shows icons, never thumbnails (IconsOnly)",
                    L"in Explorer's Folder Options, View tab, clear \"Always show icons, never "
                    L"thumbnails\"");
    else
        report->add(true, false, L"explorer", L"Explorer shows thumbnails (IconsOnly not set)");

    struct Policy {
        const wchar_t* name;
        const wchar_t* effect;
        bool blocking;
    };
    const Policy policies[] = {
        {L"DisableThumbnails", L"no thumbnails anywhere", true},
        {L"DisableThumbnailsOnNetworkFolders", L"no thumbnails in network folders", false},
        {L"NoThumbnailCache", L"thumbnails are made anew on every view, never cached", false},
    };
    bool any = false;
    for (const Policy& policy : policies) {
        if (const wchar_t* root = policy_set(policy.name)) {
            any = true;
            report->add(false, policy.blocking, L"policy",
                        std::wstring(L"policy ") + policy.name + L" (" + root + L"): " +
                            policy.effect,
                        L"set by an administrator or Group Policy (" + std::wstring(root) + L"\\" +
                            POLICIES + L"); ask them to lift it");
        }
    }
    if (!any)
        report->add(true, false, L"policy", L"no policy turns thumbnails off");
}

void check_approval(DoctorReport* report)
{
    DWORD enforced = 0;
    bool on = false;
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        on = on || (read_registry_number(root, POLICIES, L"EnforceShellExtensionSecurity",
                                         running_view(), &enforced) &&
                    enforced != 0);
    if (!on) {
        report->add(true, false, L"policy", L"the approval list of shell extensions is not "
                                            L"enforced");
        return;
    }
    for (const char* clsid : {HANDLER_CLSID_TEXT, PREVIEW_CLSID_TEXT}) {
        std::wstring name;
        if (read_registry_text(HKEY_LOCAL_MACHINE, APPROVED, utf16(clsid), running_view(), &name))
            report->add(true, false, L"policy", L"the enforced approval list holds " +
                                                    utf16(clsid));
        else
            report->add(false, true, L"policy",
                        L"the machine enforces the approval list and " + utf16(clsid) +
                            L" is not on it",
                        L"run \"quirebinder register\" as administrator");
    }
}

// The indexer is a service of the system's own machine: it reads the
// machine-wide registration of its view only.
void check_index(DoctorReport* report)
{
    const View view = windows_views().front();
    std::wstring filter;
    const bool registered = read_registry_text(
        HKEY_LOCAL_MACHINE,
        L"Software\\Classes\\CLSID\\" + utf16(FILTER_CLSID_TEXT) +
            L"\\InprocServer32",
        L"", view, &filter);
    const bool blocking = view == running_view();
    if (!registered) {
        report->add(false, blocking, L"index",
                    L"the search filter is not registered for the whole machine: the indexer "
                    L"cannot read books",
                    L"run \"quirebinder register\" as administrator");
        return;
    }
    for (const std::string& extension : registration::extensions()) {
        std::wstring handler;
        const std::wstring ext = utf16(extension);
        if (read_registry_text(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + ext +
                                                       L"\\PersistentHandler",
                               L"", view, &handler) &&
            same_data(handler, utf16(PERSISTENT_HANDLER_TEXT)))
            report->add(true, false, L"index", L"the indexer reads " + ext + L" books");
        else
            report->add(false, blocking, L"index",
                        L"the indexer does not read " + ext + L" books: its persistent handler "
                        L"is " + (handler.empty() ? L"missing" : handler),
                        handler.empty() ? L"run \"quirebinder register\" as administrator"
                                        : L"another program's filter serves " + ext);
    }
}

// A cache file written before the registration may still hold the icons
// Explorer showed before it.
void check_cache(DoctorReport* report)
{
    UniqueKey key;
    FILETIME registered = {};
    const std::wstring path =
        L"Software\\Classes\\CLSID\\" + utf16(HANDLER_CLSID_TEXT) + L"\\InprocServer32";
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                      KEY_QUERY_VALUE | view_flag(running_view()), key.out()) != ERROR_SUCCESS)
        return;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, &registered);

    wchar_t* local = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local)))
        return;
    const std::wstring folder = std::wstring(local) + L"\\Microsoft\\Windows\\Explorer\\";
    CoTaskMemFree(local);
    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileW((folder + L"thumbcache_*.db").c_str(), &found));
    if (!search) {
        report->add(true, false, L"cache", L"no thumbnail cache yet");
        return;
    }
    bool older = false;
    do
        older = older || CompareFileTime(&found.ftLastWriteTime, &registered) < 0;
    while (FindNextFileW(search.get(), &found));
    if (older)
        report->add(false, false, L"cache",
                    L"the thumbnail cache is older than the registration and may still hold "
                    L"the icons shown before it",
                    L"Disk Cleanup: tick \"Thumbnails\" and clean up");
    else
        report->add(true, false, L"cache", L"the thumbnail cache is newer than the registration");
}

}  // namespace

void check_settings(DoctorReport* report)
{
    check_explorer(report);
    check_approval(report);
    check_index(report);
    check_cache(report);
}
