// A host we did not write: Wine's own file Properties dialog, opened through
// the shell, with the module registered in the test prefix by the host's
// registration code (the file type's ProgID carries the property sheet
// handler, the only place Wine's dialog looks).
#include <algorithm>
#include <atomic>
#include <thread>

#include "host/commands.h"
#include "registration/registration.h"
#include "tests/propertypage/sheet_host.h"

using namespace page_test;

namespace {

// The module registered as an installer registers it, and removed again. An
// existing .mobi association is kept, and Wine's dialog would then not find
// the handler: the slots kept are shown if the test fails.
struct Registration {
    Registration()
    {
        wchar_t module[MAX_PATH] = {};
        GetModuleFileNameW(qb_module().dll, module, MAX_PATH);
        EXPECT_EQ(S_OK, register_module(Scope::Machine, View::Bits64, module, &kept));
        for (const KeptSlot& slot : kept)
            std::printf("kept %ls = %ls\n", slot.path.c_str(), slot.value.c_str());
    }
    ~Registration() { unregister_module(Scope::Machine, View::Bits64); }
    std::vector<KeptSlot> kept;
};

TEST(ShellPropertiesDialog, ShowsTheMobiTabWithTheBooksTitle)
{
    const std::wstring book = scratch_folder() + L"\\cafe-noir.mobi";
    ASSERT_TRUE(CopyFileW(book_path(L"cafe-noir.mobi").c_str(), book.c_str(), FALSE));
    Registration registration;

    // The shell's dialog runs on a thread of its own, as Explorer's does; one
    // that does not block the call stays until the test closes it.
    std::atomic<DWORD> shell_thread{0};
    std::atomic<bool> stop{false};
    HRESULT invoked = E_PENDING;
    std::thread shell([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        shell_thread = GetCurrentThreadId();
        invoked = show_properties({book});  // Wine's ShellExecuteExW knows no "properties" verb
        while (!stop)
            pump();
        CoUninitialize();
    });
    HWND dialog = nullptr;
    for (int i = 0; i < 500 && !dialog; ++i, Sleep(20))
        if (const std::vector<HWND> open = dialogs_of(shell_thread); shell_thread && !open.empty())
            dialog = open[0];
    std::vector<std::wstring> tabs;
    std::wstring caption, title;
    if (dialog) {
        caption = text_of(dialog);
        tabs = tab_captions(dialog);
        if (const auto mobi = std::find(tabs.begin(), tabs.end(), L"MOBI"); mobi != tabs.end()) {
            PropSheet_SetCurSel(dialog, nullptr, (mobi - tabs.begin()));
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
    std::printf("context menu 0x%08lx; dialog \"%ls\"; tabs %ls\n", static_cast<unsigned long>(invoked),
                caption.c_str(), seen.c_str());
    ASSERT_TRUE(dialog) << "no Properties dialog";
    EXPECT_EQ(L"Caf\u00e9 Noir", title) << "tabs: " << testing::PrintToString(seen);
}

}  // namespace
