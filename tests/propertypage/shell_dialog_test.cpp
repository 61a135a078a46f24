// A host we did not write: Wine's own file Properties dialog, opened through
// the shell with the "properties" verb, with the handler registered in the
// test prefix as a property sheet handler for .mobi the way an installer
// registers it (through the file type's ProgID, the only place Wine's dialog
// looks).
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/propertypage/sheet_host.h"

using namespace page_test;

namespace {

const wchar_t CLSID_TEXT[] = L"{BA91BBAF-9243-49BD-B0DA-97BFC25EB976}";

std::wstring default_value(const std::wstring& key)
{
    wchar_t value[256] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return {};
    return value;
}

void set_value(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                              DWORD((value.size() + 1) * sizeof(wchar_t))));
}

// The keys the test adds, removed again when it ends; an existing .mobi
// association is used, never replaced.
class Registration {
public:
    Registration()
    {
        wchar_t module[MAX_PATH] = {};
        GetModuleFileNameW(qb_module().dll, module, MAX_PATH);
        prog_id_ = default_value(L".mobi");
        if (prog_id_.empty()) {
            prog_id_ = L"Quirebinder.TestBook";
            set_value(L".mobi", nullptr, prog_id_);
            added_extension_ = true;
        }
        handler_key_ = prog_id_ + L"\\shellex\\PropertySheetHandlers\\Quirebinder";
        set_value(handler_key_, nullptr, CLSID_TEXT);
        server_key_ = std::wstring(L"CLSID\\") + CLSID_TEXT + L"\\InprocServer32";
        set_value(server_key_, nullptr, module);
        set_value(server_key_, L"ThreadingModel", L"Apartment");
    }
    ~Registration()
    {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, server_key_.c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, handler_key_.c_str());
        if (added_extension_) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, prog_id_.c_str());
            RegDeleteTreeW(HKEY_CLASSES_ROOT, L".mobi");
        }
    }

private:
    std::wstring prog_id_, handler_key_, server_key_;
    bool added_extension_ = false;
};

std::wstring class_of(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring text_of(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// The first visible dialog window of a thread.
HWND dialog_of(DWORD thread)
{
    HWND found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM out) {
            if (IsWindowVisible(window) && class_of(window) == L"#32770") {
                *reinterpret_cast<HWND*>(out) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST(ShellPropertiesDialog, ShowsTheMobiTabWithTheBooksTitle)
{
    const std::wstring book = scratch_folder() + L"\\cafe-noir.mobi";
    ASSERT_TRUE(CopyFileW(book_path(L"cafe-noir.mobi").c_str(), book.c_str(), FALSE));
    Registration registration;

    // The shell's dialog runs on a thread of its own, as Explorer's does.
    std::atomic<DWORD> shell_thread{0};
    std::atomic<bool> stop{false};
    BOOL executed = FALSE;
    DWORD error = 0;
    HRESULT menu_result = E_PENDING;
    std::thread shell([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        shell_thread = GetCurrentThreadId();
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"properties";
        info.lpFile = book.c_str();
        info.nShow = SW_SHOWNORMAL;
        executed = ShellExecuteExW(&info);
        error = GetLastError();
        if (!executed) {
            // Wine's ShellExecuteExW knows no "properties" verb: the item's
            // context menu, as a right click gives it, carries it out.
            PIDLIST_ABSOLUTE item = nullptr;
            ComPtr<IShellFolder> folder;
            PCUITEMID_CHILD child = nullptr;
            ComPtr<IContextMenu> menu;
            if (SUCCEEDED(SHParseDisplayName(book.c_str(), nullptr, &item, 0, nullptr)) &&
                SUCCEEDED(SHBindToParent(item, IID_PPV_ARGS(&folder), &child)) &&
                SUCCEEDED(folder->GetUIObjectOf(nullptr, 1, &child, IID_IContextMenu, nullptr,
                                                reinterpret_cast<void**>(menu.GetAddressOf())))) {
                CMINVOKECOMMANDINFO command = {};
                command.cbSize = sizeof(command);
                command.lpVerb = "properties";
                command.nShow = SW_SHOWNORMAL;
                menu_result = menu->InvokeCommand(&command);
            }
            CoTaskMemFree(item);
        }
        // A dialog that does not block the call stays until the test closes it.
        while (!stop)
            pump();
        CoUninitialize();
    });

    HWND dialog = nullptr;
    for (int i = 0; i < 500 && !dialog; ++i) {
        Sleep(20);
        if (shell_thread)
            dialog = dialog_of(shell_thread);
    }
    std::vector<std::wstring> tabs;
    std::wstring title;
    if (dialog) {
        const HWND tab_control = PropSheet_GetTabControl(dialog);
        const int count = TabCtrl_GetItemCount(tab_control);
        int mobi = -1;
        for (int i = 0; i < count; ++i) {
            wchar_t caption[64] = {};
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = caption;
            item.cchTextMax = 64;
            TabCtrl_GetItem(tab_control, i, &item);
            tabs.push_back(caption);
            if (tabs.back() == L"MOBI")
                mobi = i;
        }
        if (mobi >= 0) {
            PropSheet_SetCurSel(dialog, nullptr, mobi);
            title = text_of(GetDlgItem(PropSheet_GetCurrentPageHwnd(dialog), 1005));
        }
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    for (int i = 0; i < 250 && dialog && IsWindow(dialog); ++i)
        Sleep(20);
    stop = true;
    shell.join();

    std::wstring seen;
    for (const std::wstring& tab : tabs)
        seen += L"[" + tab + L"]";
    std::printf("ShellExecuteExW %d (error %lu), context menu 0x%08lx; dialog \"%ls\"; tabs %ls\n", executed, error,
                static_cast<unsigned long>(menu_result), dialog ? text_of(dialog).c_str() : L"(none)", seen.c_str());
    ASSERT_TRUE(dialog) << "no Properties dialog";
    EXPECT_EQ(L"Caf\u00e9 Noir", title) << "tabs: " << testing::PrintToString(seen);
}

}  // namespace
