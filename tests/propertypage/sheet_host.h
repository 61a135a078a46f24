// A real property sheet hosting the handler's "MOBI" page: the handler is
// initialised with a selection through IShellExtInit, as the shell does, its
// page goes into a modeless PropertySheetW, and the test reads the page's
// controls by id and drives it with the messages clicks and keys produce.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/handler/handler_test_support.h"

namespace page_test {

using handler_test::book_path;

// Collects pages; answers as told.
struct PageSink {
    std::vector<HPROPSHEETPAGE> pages;
    BOOL answer = TRUE;
    static BOOL CALLBACK add(HPROPSHEETPAGE page, LPARAM self)
    {
        auto* sink = reinterpret_cast<PageSink*>(self);
        if (sink->answer)
            sink->pages.push_back(page);
        return sink->answer;
    }
};

// Dispatches the thread's waiting messages.
inline void pump()
{
    MSG message;
    for (int round = 0; round < 3; ++round) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(1);
    }
}

// A handler initialised with paths (a drop list, as the shell hands over a
// selection).
inline ComPtr<IShellPropSheetExt> handler_for(const std::vector<std::wstring>& paths)
{
    ComPtr<IShellExtInit> init = qb_create<IShellExtInit>();
    ComPtr<IShellPropSheetExt> sheet_ext;
    if (!init)
        return sheet_ext;
    EXPECT_EQ(S_OK, init->Initialize(nullptr, handler_test::DropData::drop_list(paths).Get(),
                                     nullptr));
    EXPECT_EQ(S_OK, init.As(&sheet_ext));
    return sheet_ext;
}

class Sheet {
public:
    explicit Sheet(const std::vector<std::wstring>& paths) : handler(handler_for(paths))
    {
        PageSink sink;
        if (!handler || handler->AddPages(PageSink::add, reinterpret_cast<LPARAM>(&sink)) != S_OK ||
            sink.pages.size() != 1) {
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
        if (!sheet) {
            ADD_FAILURE() << "PropertySheetW failed";
            return;
        }
        SetWindowPos(sheet, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
        page = PropSheet_GetCurrentPageHwnd(sheet);
        EXPECT_TRUE(page);
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
    std::wstring text(int id) const
    {
        wchar_t buffer[512] = {};
        GetWindowTextW(control(id), buffer, 512);
        return buffer;
    }
    bool visible(int id) const { return IsWindowVisible(control(id)) != FALSE; }
    bool enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }
    bool checked(int id) const
    {
        return SendMessageW(control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    HBITMAP picture() const
    {
        return reinterpret_cast<HBITMAP>(
            SendMessageW(control(1020), STM_GETIMAGE, IMAGE_BITMAP, 0));
    }
    SIZE picture_size() const
    {
        BITMAP bitmap = {};
        GetObjectW(picture(), sizeof(bitmap), &bitmap);
        return {bitmap.bmWidth, bitmap.bmHeight};
    }

    // A click on the up-down control's lower (down) or upper (up) arrow.
    void click_arrow(bool down)
    {
        const HWND updown = control(1002);
        RECT rect = {};
        GetClientRect(updown, &rect);
        const LPARAM at = MAKELPARAM(rect.right / 2, down ? rect.bottom * 3 / 4 : rect.bottom / 4);
        SendMessageW(updown, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(updown, WM_LBUTTONUP, 0, at);
        pump();
    }
    void click_down() { click_arrow(true); }
    void click_up() { click_arrow(false); }
    // A key pressed in the file name field (the up-down control's buddy).
    void key_in_file_name(UINT key)
    {
        SendMessageW(control(1000), WM_KEYDOWN, key, 1);
        SendMessageW(control(1000), WM_KEYUP, key, 0xC0000001);
        pump();
    }

    ComPtr<IShellPropSheetExt> handler;
    HWND sheet = nullptr;
    HWND page = nullptr;
};

}  // namespace page_test
