// The "MOBI" property page: creation, the dialog procedure, the release
// callback, and showing a book's fields and cover picture.
#include "propertypage/property_page.h"

#include <commctrl.h>

#include <memory>
#include <string>

#include "imaging/cover_bitmap.h"
#include "propertypage/save_source.h"
#include "resources/resource.h"
#include "server/log.h"
#include "server/module.h"
#include "server/module_context.h"
#include "server/ui_language.h"

using Microsoft::WRL::ComPtr;

namespace {

// The text fields of a valid book.
struct TextField {
    int id;
    std::wstring MobiBook::*text;
};
const TextField TEXT_FIELDS[] = {
    {IDC_TITLE, &MobiBook::title},
    {IDC_CREATOR, &MobiBook::creator},
    {IDC_PUBLISHER, &MobiBook::publisher},
    {IDC_CREATED, &MobiBook::created_date},
    {IDC_PUBLISHED, &MobiBook::published_date},
    {IDC_LANGUAGE, &MobiBook::language},
};

struct FlagField {
    int id;
    bool MobiBook::*flag;
};
const FlagField FLAG_FIELDS[] = {
    {IDC_SAMPLE, &MobiBook::is_sample},
    {IDC_PERSONAL, &MobiBook::is_personal},
    {IDC_ENCRYPTED, &MobiBook::is_encrypted},
};

// The fields of the book's own words read in the book's direction
// (right-to-left reading order for a book written so, the bidirectional
// algorithm placing its runs of other scripts), aligned to the side the
// book's writing starts from: right-aligned where the book's direction
// differs from the page's, which a mirrored page shows on its left. An edit
// control takes its alignment only when it is made, so a field of another
// direction is made anew in the old one's place.
const int BOOK_WORDS_FIELDS[] = {IDC_TITLE, IDC_CREATOR, IDC_PUBLISHER};

void set_direction(HWND window, int id, bool right_to_left, bool right_aligned)
{
    const HWND old = GetDlgItem(window, id);
    if (!old)
        return;
    const DWORD ex_style = DWORD(GetWindowLongW(old, GWL_EXSTYLE));
    DWORD style = DWORD(GetWindowLongW(old, GWL_STYLE));
    if (((ex_style & WS_EX_RTLREADING) != 0) == right_to_left && ((style & ES_RIGHT) != 0) == right_aligned)
        return;
    style = right_aligned ? style | ES_RIGHT : style & ~DWORD(ES_RIGHT);
    const DWORD new_ex_style = right_to_left ? ex_style | WS_EX_RTLREADING : ex_style & ~DWORD(WS_EX_RTLREADING);
    RECT rect = {};
    GetWindowRect(old, &rect);
    // Two points, a rectangle: mapped into a mirrored window, left stays left.
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    const HWND made = CreateWindowExW(
        new_ex_style & ~DWORD(WS_EX_LAYOUTRTL), L"EDIT", L"", style, rect.left, rect.top,
        rect.right - rect.left, rect.bottom - rect.top, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_module.instance, nullptr);
    if (!made)
        return;
    SendMessageW(made, WM_SETFONT, SendMessageW(old, WM_GETFONT, 0, 0), FALSE);
    SetWindowPos(made, old, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    DestroyWindow(old);
}

void show_control(HWND window, int id, bool show)
{
    if (const HWND control = GetDlgItem(window, id))
        ShowWindow(control, show ? SW_SHOW : SW_HIDE);
}

// The cover's frame: one black pixel on every side.
constexpr Frame COVER_FRAME = {1, 0xFF000000u};

}  // namespace

PropertyPage::PropertyPage(const std::vector<ComPtr<MobiBook>>& books, IUnknown* owner)
    : books_(books), owner_(owner)
{
}

HWND PropertyPage::picture_control() const
{
    return GetDlgItem(window_, IDC_COVER);
}

void PropertyPage::set_picture(HBITMAP picture)
{
    const HWND control = picture_control();
    const auto previous = reinterpret_cast<HBITMAP>(SendMessageW(
        control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture)));
    if (previous && previous != initial_cover_image_ && previous != picture)
        DeleteObject(previous);
    // The control may show a copy of picture (or nothing at all).
    const auto shown =
        reinterpret_cast<HBITMAP>(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
    if (picture && picture != initial_cover_image_ && picture != shown)
        DeleteObject(picture);
}

HRESULT PropertyPage::show_cover(MobiBook& book)
{
    if (!book.is_valid() || book.cover_size == 0) {
        set_picture(initial_cover_image_);
        return S_OK;
    }
    RECT rect = {};
    if (!GetWindowRect(picture_control(), &rect) || rect.right - rect.left <= 2 ||
        rect.bottom - rect.top <= 2)
        return E_FAIL;
    HBITMAP bitmap = nullptr;
    RETURN_IF_FAILED(cover_bitmap(book, UINT(rect.right - rect.left), UINT(rect.bottom - rect.top),
                                  FitRule::grow, COVER_FRAME, &bitmap));
    set_picture(bitmap);
    return S_OK;
}

void PropertyPage::show_book()
{
    if (current_book_ >= books_.size())
        return;
    MobiBook& book = *books_[current_book_].Get();
    const bool valid = book.is_valid();
    for (int id = IDC_BOOK_FIRST; id <= IDC_BOOK_LAST; ++id)
        show_control(window_, id, valid);
    for (int id = IDC_INVALID_FIRST; id <= IDC_INVALID_LAST; ++id)
        show_control(window_, id, !valid);
    SetDlgItemTextW(window_, IDC_FILE_NAME, book.file_name.c_str());
    if (!valid)
        return;
    const bool mirrored = (GetWindowLongW(window_, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    for (const int id : BOOK_WORDS_FIELDS)
        set_direction(window_, id, book.right_to_left, book.right_to_left != mirrored);
    for (const TextField& field : TEXT_FIELDS)
        SetDlgItemTextW(window_, field.id, (book.*field.text).c_str());
    for (const FlagField& field : FLAG_FIELDS)
        CheckDlgButton(window_, field.id, book.*field.flag ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(window_, IDC_SAVE_SOURCE), book.source_size > 0);
    show_cover(book);
}

void PropertyPage::init()
{
    current_book_ = 0;
    initial_cover_image_ = reinterpret_cast<HBITMAP>(
        SendDlgItemMessageW(window_, IDC_COVER, STM_GETIMAGE, IMAGE_BITMAP, 0));
    // A mirrored page would show the pictures mirrored too.
    const HWND cover = GetDlgItem(window_, IDC_COVER);
    SetWindowLongW(cover, GWL_EXSTYLE, GetWindowLongW(cover, GWL_EXSTYLE) & ~WS_EX_LAYOUTRTL);
    const HWND updown = GetDlgItem(window_, IDC_BOOK_UPDOWN);
    if (books_.size() < 2) {
        ShowWindow(updown, SW_HIDE);
    } else {
        // A reversed range: the down arrow (and the Down key in the file
        // name) steps to the next file, the up arrow back; no wrap-around.
        SendMessageW(updown, UDM_SETBUDDY,
                     reinterpret_cast<WPARAM>(GetDlgItem(window_, IDC_FILE_NAME)), 0);
        SendMessageW(updown, UDM_SETRANGE32, WPARAM(books_.size() - 1), 0);
        SendMessageW(updown, UDM_SETPOS32, 0, 0);
    }
    show_book();
}

void PropertyPage::step_to(const NMUPDOWN& change)
{
    const LONGLONG last = LONGLONG(books_.size()) - 1;
    LONGLONG index = LONGLONG(change.iPos) + change.iDelta;
    index = index < 0 ? 0 : (index > last ? last : index);
    current_book_ = UINT(index);
    show_book();
}

// The sheet destroys the page's dialog before it releases the page, so the
// dialog's end is where its pictures go: the control gives up what it shows,
// a cover is deleted, and so is the template's picture, which the static
// control loaded from the dialog template but does not delete itself (not
// under Wine, at least); the control holds nothing that it could delete again.
void PropertyPage::release_pictures()
{
    const auto shown = reinterpret_cast<HBITMAP>(
        SendMessageW(picture_control(), STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (shown && shown != initial_cover_image_)
        DeleteObject(shown);
    if (initial_cover_image_)
        DeleteObject(initial_cover_image_);
    initial_cover_image_ = nullptr;
    window_ = nullptr;
}

HRESULT PropertyPage::add(const std::vector<ComPtr<MobiBook>>& books, IUnknown* owner,
                          LPFNSVADDPROPSHEETPAGE add_page, LPARAM param)
{
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);

    // Owned by the sheet's page from here: its release callback deletes it.
    std::unique_ptr<PropertyPage> made(new PropertyPage(books, owner));
    PROPSHEETPAGEW record = {};
    record.dwSize = sizeof(record);
    record.dwFlags = PSP_USECALLBACK;
    record.hInstance = g_module.instance;
    // The page in the user interface's language, found as Windows finds a
    // program's (server/ui_language.h); else the template Windows finds.
    if (const DLGTEMPLATE* page_template = ui_dialog(IDD_MOBI_PAGE)) {
        record.dwFlags |= PSP_DLGINDIRECT;
        record.pResource = page_template;
    } else {
        record.pszTemplate = MAKEINTRESOURCEW(IDD_MOBI_PAGE);
    }
    record.pfnDlgProc = dialog_proc;
    record.lParam = reinterpret_cast<LPARAM>(made.get());
    record.pfnCallback = callback;

    // The page keeps the context for its controls; the callback releases it.
    ModuleContext context;
    if (context.valid()) {
        record.dwFlags |= PSP_USEFUSIONCONTEXT;
        record.hActCtx = context.handle();
    }
    HPROPSHEETPAGE page;
    {
        ContextActivation active(context);
        page = CreatePropertySheetPageW(&record);
    }
    if (!page)
        return E_OUTOFMEMORY;
    context.release();
    made.release();

    if (add_page(page, param))
        return S_OK;
    DestroyPropertySheetPage(page);  // its release callback deletes the page
    return E_FAIL;
}

INT_PTR CALLBACK PropertyPage::dialog_proc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam)
{
    try {
        if (message == WM_INITDIALOG) {
            const auto* record = reinterpret_cast<const PROPSHEETPAGEW*>(lparam);
            if (auto* page = record ? reinterpret_cast<PropertyPage*>(record->lParam) : nullptr) {
                page->window_ = window;
                SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(page));
            }
        }
        auto* page = reinterpret_cast<PropertyPage*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!page)
            return FALSE;
        switch (message) {
        case WM_INITDIALOG:
            page->init();
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lparam);
            if (header && header->idFrom == IDC_BOOK_UPDOWN && header->code == UDN_DELTAPOS)
                page->step_to(*reinterpret_cast<const NMUPDOWN*>(lparam));
            return FALSE;
        }
        case WM_COMMAND:
            if (wparam == IDC_SAVE_SOURCE && page->current_book_ < page->books_.size())
                save_source(window, *page->books_[page->current_book_].Get());
            return FALSE;
        case WM_DESTROY:
            if (page->window_ == window)
                page->release_pictures();
            return FALSE;
        default:
            return FALSE;
        }
    } catch (...) {
        return FALSE;
    }
}

UINT CALLBACK PropertyPage::callback(HWND, UINT message, LPPROPSHEETPAGEW record)
{
    if (message != PSPCB_RELEASE || !record)
        return 1;
    try {
        auto* page = reinterpret_cast<PropertyPage*>(record->lParam);
        if (!page)
            return 1;
        if (page->window_ && IsWindow(page->window_)) {
            page->set_picture(page->initial_cover_image_);
            SetWindowLongPtrW(page->window_, GWLP_USERDATA, 0);
        }
        if ((record->dwFlags & PSP_USEFUSIONCONTEXT) && record->hActCtx) {
            ReleaseActCtx(record->hActCtx);
            record->hActCtx = nullptr;
        }
        record->lParam = 0;
        delete page;  // and with it the books and the owner's reference
    } catch (...) {
    }
    return 1;
}
