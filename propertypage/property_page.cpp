// The "MOBI" property page: creation, the dialog procedure, the release
// callback, and showing a book's fields and cover picture.
#include "propertypage/property_page.h"

#include <commctrl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "book/imaging.h"
#include "book/mobi_book.h"
#include "handler/quirebinder.h"
#include "server/module_context.h"
#include "propertypage/save_source.h"
#include "resources/resource.h"
#include "server/log.h"
#include "server/module.h"
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

HWND picture_control(const Quirebinder& handler)
{
    return GetDlgItem(handler.page_window, IDC_COVER);
}

// Shows new_picture in the cover control. The template's picture is never
// deleted; any other bitmap lives exactly as long as the control shows it.
void set_picture(Quirebinder& handler, HBITMAP new_picture)
{
    const HWND control = picture_control(handler);
    const auto previous = reinterpret_cast<HBITMAP>(SendMessageW(
        control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(new_picture)));
    if (previous && previous != handler.initial_cover_image && previous != new_picture)
        DeleteObject(previous);
    // The control may show a copy of new_picture (or nothing at all).
    const auto shown =
        reinterpret_cast<HBITMAP>(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
    if (new_picture && new_picture != handler.initial_cover_image && new_picture != shown)
        DeleteObject(new_picture);
}

// Size of a picture of width x height shown in a box, keeping its aspect
// ratio: unchanged when it fits and touches the box, else scaled to fit.
struct PictureSize {
    UINT width;
    UINT height;
    bool scaled;
};

PictureSize fit_picture(UINT width, UINT height, UINT box_width, UINT box_height)
{
    if (width <= box_width && height <= box_height &&
        (width == box_width || height == box_height))
        return {width, height, false};
    // 64-bit products: a stranger's image may be as wide as it likes.
    const UINT64 w = width, h = height, bw = box_width, bh = box_height;
    UINT64 tw, th;
    if (bh * w > bw * h) {
        tw = bw;
        th = (bw * h + w / 2) / w;
        th = th < 1 ? 1 : (th > bh ? bh : th);
    } else {
        th = bh;
        tw = (bh * w + h / 2) / h;
        tw = tw < 1 ? 1 : (tw > bw ? bw : tw);
    }
    return {static_cast<UINT>(tw), static_cast<UINT>(th), true};
}

// Makes the book's cover into a framed bitmap that fits the cover control
// and shows it. On failure the control keeps the picture it had.
HRESULT show_cover(Quirebinder& handler, MobiBook* book)
{
    if (!book || !book->is_valid() || book->cover_size == 0) {
        set_picture(handler, handler.initial_cover_image);
        return S_OK;
    }
    ComPtr<IWICImagingFactory> factory;
    ENSURE(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_PPV_ARGS(&factory)));
    ComPtr<IWICBitmapSource> source;
    RETURN_IF_FAILED(book->get_cover_image(source.GetAddressOf(), factory.Get()));

    RETURN_IF_FAILED(convert_to_bgr32(factory.Get(), source));

    UINT width = 0, height = 0;
    ENSURE(source->GetSize(&width, &height));
    if (width == 0 || height == 0)
        return E_FAIL;
    RECT rect = {};
    if (!GetWindowRect(picture_control(handler), &rect) || rect.right - rect.left <= 2 ||
        rect.bottom - rect.top <= 2)
        return E_FAIL;
    const PictureSize size = fit_picture(width, height, UINT(rect.right - rect.left - 2),
                                         UINT(rect.bottom - rect.top - 2));
    if (size.scaled) {
        ComPtr<IWICBitmapScaler> scaler;
        ENSURE(factory->CreateBitmapScaler(&scaler));
        ENSURE(scaler->Initialize(source.Get(), size.width, size.height,
                                  WICBitmapInterpolationModeFant));
        source = scaler;
    }

    // Black everywhere, the picture copied in from row 1, column 1: a
    // one-pixel frame on every side.
    const UINT framed_width = size.width + 2, framed_height = size.height + 2;
    std::vector<UINT32> pixels(std::size_t(framed_width) * framed_height, 0xFF000000u);
    const UINT stride = framed_width * 4;
    const UINT length = UINT(pixels.size() - (framed_width + 1)) * 4;
    ENSURE(source->CopyPixels(nullptr, stride, length,
                              reinterpret_cast<BYTE*>(pixels.data() + framed_width + 1)));

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = LONG(framed_width);
    header.biHeight = -LONG(framed_height);
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    const HDC dc = GetDC(handler.page_window);
    if (!dc)
        return E_FAIL;
    const HBITMAP bitmap = CreateDIBitmap(dc, &header, CBM_INIT, pixels.data(),
                                          reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    ReleaseDC(handler.page_window, dc);
    if (!bitmap)
        return E_OUTOFMEMORY;
    set_picture(handler, bitmap);
    return S_OK;
}

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

// Shows books[current_book]: its fields for a valid book, only its file
// name and the message for any other file.
void show_book(Quirebinder& handler)
{
    if (handler.current_book >= handler.books.size())
        return;
    MobiBook* book = handler.books[handler.current_book];
    const HWND window = handler.page_window;
    const bool valid = book->is_valid();
    for (int id = IDC_BOOK_FIRST; id <= IDC_BOOK_LAST; ++id)
        show_control(window, id, valid);
    for (int id = IDC_INVALID_FIRST; id <= IDC_INVALID_LAST; ++id)
        show_control(window, id, !valid);
    SetDlgItemTextW(window, IDC_FILE_NAME, book->file_name.c_str());
    if (!valid)
        return;
    const bool mirrored = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    for (const int id : BOOK_WORDS_FIELDS)
        set_direction(window, id, book->right_to_left, book->right_to_left != mirrored);
    for (const TextField& field : TEXT_FIELDS)
        SetDlgItemTextW(window, field.id, (book->*field.text).c_str());
    for (const FlagField& field : FLAG_FIELDS)
        CheckDlgButton(window, field.id, book->*field.flag ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(window, IDC_SAVE_SOURCE), book->source_size > 0);
    show_cover(handler, book);
}

void init_page(Quirebinder& handler)
{
    const HWND window = handler.page_window;
    handler.current_book = 0;
    handler.initial_cover_image = reinterpret_cast<HBITMAP>(
        SendDlgItemMessageW(window, IDC_COVER, STM_GETIMAGE, IMAGE_BITMAP, 0));
    // A mirrored page would show the pictures mirrored too.
    const HWND cover = GetDlgItem(window, IDC_COVER);
    SetWindowLongW(cover, GWL_EXSTYLE, GetWindowLongW(cover, GWL_EXSTYLE) & ~WS_EX_LAYOUTRTL);
    const HWND updown = GetDlgItem(window, IDC_BOOK_UPDOWN);
    if (handler.books.size() < 2) {
        ShowWindow(updown, SW_HIDE);
    } else {
        // A reversed range: the down arrow (and the Down key in the file
        // name) steps to the next file, the up arrow back; no wrap-around.
        SendMessageW(updown, UDM_SETBUDDY,
                     reinterpret_cast<WPARAM>(GetDlgItem(window, IDC_FILE_NAME)), 0);
        SendMessageW(updown, UDM_SETRANGE32, WPARAM(handler.books.size() - 1), 0);
        SendMessageW(updown, UDM_SETPOS32, 0, 0);
    }
    show_book(handler);
}

void step_to(Quirebinder& handler, const NMUPDOWN& change)
{
    const LONGLONG last = LONGLONG(handler.books.size()) - 1;
    LONGLONG index = LONGLONG(change.iPos) + change.iDelta;
    index = index < 0 ? 0 : (index > last ? last : index);
    handler.current_book = UINT(index);
    show_book(handler);
}

// The sheet destroys the page's dialog before it releases the page, so the
// dialog's end is where its pictures go: the control gives up what it shows,
// a cover is deleted, and so is the template's picture, which the static
// control loaded from the dialog template but does not delete itself (not
// under Wine, at least); the control holds nothing that it could delete again.
void release_pictures(Quirebinder& handler)
{
    const auto shown = reinterpret_cast<HBITMAP>(
        SendMessageW(picture_control(handler), STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (shown && shown != handler.initial_cover_image)
        DeleteObject(shown);
    if (handler.initial_cover_image)
        DeleteObject(handler.initial_cover_image);
    handler.initial_cover_image = nullptr;
    handler.page_window = nullptr;
}

Quirebinder* handler_of(HWND window)
{
    return reinterpret_cast<Quirebinder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace

HRESULT add_property_page(Quirebinder& handler, LPFNSVADDPROPSHEETPAGE add_page, LPARAM param)
{
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);

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
    record.pfnDlgProc = page_dialog_proc;
    record.lParam = reinterpret_cast<LPARAM>(&handler);
    record.pfnCallback = page_callback;

    // The page keeps the context for its controls; page_callback releases it.
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

    handler.AddRef();
    if (add_page(page, param))
        return S_OK;
    DestroyPropertySheetPage(page);  // its release callback gives the reference back
    return E_FAIL;
}

INT_PTR CALLBACK page_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    try {
        if (message == WM_INITDIALOG) {
            const auto* record = reinterpret_cast<const PROPSHEETPAGEW*>(lparam);
            if (auto* handler = record ? reinterpret_cast<Quirebinder*>(record->lParam) : nullptr) {
                handler->page_window = window;
                SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(handler));
            }
        }
        Quirebinder* handler = handler_of(window);
        if (!handler)
            return FALSE;
        switch (message) {
        case WM_INITDIALOG:
            init_page(*handler);
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lparam);
            if (header && header->idFrom == IDC_BOOK_UPDOWN && header->code == UDN_DELTAPOS)
                step_to(*handler, *reinterpret_cast<const NMUPDOWN*>(lparam));
            return FALSE;
        }
        case WM_COMMAND:
            if (wparam == IDC_SAVE_SOURCE)
                save_source(*handler);
            return FALSE;
        case WM_DESTROY:
            if (handler->page_window == window)
                release_pictures(*handler);
            return FALSE;
        default:
            return FALSE;
        }
    } catch (...) {
        return FALSE;
    }
}

UINT CALLBACK page_callback(HWND window, UINT message, LPPROPSHEETPAGEW page)
{
    if (message != PSPCB_RELEASE || !page)
        return 1;
    try {
        auto* handler = reinterpret_cast<Quirebinder*>(page->lParam);
        if (!handler)
            return 1;
        if (handler->page_window && IsWindow(handler->page_window))
            set_picture(*handler, handler->initial_cover_image);
        handler->initial_cover_image = nullptr;
        if (window)
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if ((page->dwFlags & PSP_USEFUSIONCONTEXT) && page->hActCtx) {
            ReleaseActCtx(page->hActCtx);
            page->hActCtx = nullptr;
        }
        page->lParam = 0;
        handler->Release();
    } catch (...) {
    }
    return 1;
}
