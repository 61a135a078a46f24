// A real property sheet hosting the handler's "MOBI" page: the handler is
// initialised with a selection through IShellExtInit, as the shell does, its
// page goes into a modeless PropertySheetW, and the test reads the page's
// controls by id and drives it with the messages clicks and keys produce.
// Also the window and file helpers the page's tests share.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/book/book_test_support.h"
#include "tests/handler/handler_test_support.h"
#include "tests/support/fixture_books.h"

namespace page_test {

using handler_test::book_path;
using handler_test::other_references;

// Collects the pages AddPages offers; accepts them or refuses as told.
struct PageSink {
    BOOL answer = TRUE;
    std::vector<HPROPSHEETPAGE> pages;
    HRESULT offer(IShellPropSheetExt* handler)
    {
        const auto add = [](HPROPSHEETPAGE page, LPARAM self) CALLBACK -> BOOL {
            auto* sink = reinterpret_cast<PageSink*>(self);
            if (sink->answer)
                sink->pages.push_back(page);
            return sink->answer;
        };
        return handler->AddPages(add, LPARAM(this));
    }
};

// Dispatches the thread's waiting messages.
inline void pump()
{
    MSG message;
    for (int round = 0; round < 3; ++round, Sleep(1))
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            TranslateMessage(&message), DispatchMessageW(&message);
}

inline std::wstring text_of(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

// A thread's visible dialog windows.
inline std::vector<HWND> dialogs_of(DWORD thread)
{
    std::vector<HWND> found;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM list) CALLBACK -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (IsWindowVisible(window) && std::wstring(name) == L"#32770")
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

inline std::vector<std::wstring> tab_captions(HWND sheet)
{
    std::vector<std::wstring> captions;
    const HWND tabs = PropSheet_GetTabControl(sheet);
    for (int i = 0; i < TabCtrl_GetItemCount(tabs); ++i) {
        wchar_t caption[64] = {};
        TCITEMW item = {TCIF_TEXT, 0, 0, caption, 64, 0, 0};
        TabCtrl_GetItem(tabs, i, &item);
        captions.push_back(caption);
    }
    return captions;
}

inline void write_file(const std::wstring& path, const Bytes& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

inline const FixtureBook& fixture(const std::string& file)
{
    for (const FixtureBook& book : FIXTURE_BOOKS)
        if (book.file == file)
            return book;
    throw std::runtime_error(file);
}

// A handler initialised with a drop list of paths, as the shell hands over a selection.
inline ComPtr<IShellPropSheetExt> handler_for(const std::vector<std::wstring>& paths)
{
    ComPtr<IShellExtInit> init = qb_create<IShellExtInit>();
    ComPtr<IShellPropSheetExt> sheet_ext;
    if (init) {
        EXPECT_EQ(S_OK, init->Initialize(nullptr, handler_test::DropData::drop_list(paths).Get(),
                                         nullptr));
        EXPECT_EQ(S_OK, init.As(&sheet_ext));
    }
    return sheet_ext;
}

class Sheet {
public:
    explicit Sheet(const std::vector<std::wstring>& paths) : handler(handler_for(paths))
    {
        PageSink sink;
        if (!handler || sink.offer(handler.Get()) != S_OK || sink.pages.size() != 1) {
            ADD_FAILURE() << "no page";
            return;
        }
        PROPSHEETHEADERW header = {};
        header.dwSize = sizeof(header);
        header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
        header.pszCaption = L"Book";
        header.nPages = 1;
        header.phpage = sink.pages.data();
        sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
        SetWindowPos(sheet, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
        page = PropSheet_GetCurrentPageHwnd(sheet);
        EXPECT_TRUE(page) << "no sheet";
        pump();
    }
    ~Sheet() { close(); }
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;

    void close()
    {
        if (sheet)
            DestroyWindow(sheet);
        sheet = page = nullptr;
        pump();
    }

    HWND control(int id) const { return GetDlgItem(page, id); }
    std::wstring text(int id) const { return text_of(control(id)); }
    bool visible(int id) const { return IsWindowVisible(control(id)) != FALSE; }
    bool enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }
    bool checked(int id) const { return SendMessageW(control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    HBITMAP picture() const
    {
        return reinterpret_cast<HBITMAP>(SendMessageW(control(1020), STM_GETIMAGE, IMAGE_BITMAP, 0));
    }

    // A click on the up-down control's upper or lower arrow, or the arrow
    // key pressed in the file name field (the up-down control's buddy).
    enum Step { Up, Down, KeyUp, KeyDown };
    void step(Step how)
    {
        if (how == Up || how == Down) {
            RECT rect = {};
            GetClientRect(control(1002), &rect);
            const LPARAM at = MAKELPARAM(rect.right / 2, rect.bottom * (how == Down ? 3 : 1) / 4);
            SendMessageW(control(1002), WM_LBUTTONDOWN, MK_LBUTTON, at);
            SendMessageW(control(1002), WM_LBUTTONUP, 0, at);
        } else {
            const WPARAM key = how == KeyDown ? VK_DOWN : VK_UP;
            SendMessageW(control(1000), WM_KEYDOWN, key, 1);
            SendMessageW(control(1000), WM_KEYUP, key, 0xC0000001);
        }
        pump();
    }

    ComPtr<IShellPropSheetExt> handler;
    HWND sheet = nullptr;
    HWND page = nullptr;
};

}  // namespace page_test
