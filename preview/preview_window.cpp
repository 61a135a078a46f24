// The preview's window: layout by the pane's shape and the window's DPI,
// painting through a memory bitmap (no flicker), and the text area.
#include "preview/preview_window.h"

#include <shlobj.h>

#include <cstddef>
#include <vector>

#include "imaging/cover_bitmap.h"
#include "preview/preview_shown.h"
#include "resources/resource.h"
#include "server/log.h"
#include "server/module.h"
#include "server/ui_language.h"


namespace {

const wchar_t* const WINDOW_CLASS = PREVIEW_WINDOW_CLASS;

// The preview windows alive or being made, over every thread of the process,
// and the lock over that count and the class's registration. The class stays
// registered while the count is above zero, so that one thread's last window
// cannot take the class from between another's registration and its
// CreateWindowEx; and it is gone once the last window is, before the module
// can unload (its procedure lives here).
SRWLOCK class_lock = SRWLOCK_INIT;
std::size_t class_users = 0;

class ClassLock {
public:
    ClassLock() { AcquireSRWLockExclusive(&class_lock); }
    ~ClassLock() { ReleaseSRWLockExclusive(&class_lock); }
    ClassLock(const ClassLock&) = delete;
    ClassLock& operator=(const ClassLock&) = delete;
};

constexpr UINT WM_DPICHANGED_AFTERPARENT_ = 0x02E3;

// The window's DPI: GetDpiForWindow where the system has it (bound at run
// time, the module also runs where it does not), else the screen's.
UINT window_dpi(HWND window)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    UINT dpi = 0;
    if (const HMODULE user = GetModuleHandleW(L"user32.dll")) {
        const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
            reinterpret_cast<void*>(GetProcAddress(user, "GetDpiForWindow")));
        if (get_dpi)
            dpi = get_dpi(window);
    }
    if (dpi == 0) {
        if (const HDC dc = GetDC(window)) {
            dpi = UINT(GetDeviceCaps(dc, LOGPIXELSY));
            ReleaseDC(window, dc);
        }
    }
    return dpi == 0 ? 96 : dpi;
}

// The rows under the title: the details the book has, each with its label;
// the date created stands in for a missing date published.
struct DetailRow {
    UINT label;
    const std::wstring* value;
};
std::vector<DetailRow> details_of(const PreviewBook& book)
{
    const DetailRow all[] = {
        {IDS_PREVIEW_AUTHOR, &book.creator},
        {IDS_PREVIEW_PUBLISHER, &book.publisher},
        book.published.empty() ? DetailRow{IDS_PREVIEW_CREATED, &book.created}
                               : DetailRow{IDS_PREVIEW_PUBLISHED, &book.published},
        {IDS_PREVIEW_LANGUAGE, &book.language},
    };
    std::vector<DetailRow> rows;
    for (const DetailRow& row : all)
        if (!row.value->empty())
            rows.push_back(row);
    return rows;
}

HWND make_control(const wchar_t* window_class, DWORD style, HWND parent, int id, DWORD ex_style = 0)
{
    return CreateWindowExW(ex_style, window_class, L"", WS_CHILD | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_module.instance,
                           nullptr);
}

// The text area's scroll bar dark on a dark background where the system
// draws dark ones (the "DarkMode_Explorer" theme; a system without it keeps
// its own), else the usual. Bound at run time from the theme library the
// host's common controls loaded; without it the scroll bar stays as it is.
void theme_scroll_bar(HWND edit, COLORREF background)
{
    using SetWindowThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    const HMODULE theme = GetModuleHandleW(L"uxtheme.dll");
    const auto set_theme = theme ? reinterpret_cast<SetWindowThemeFn>(reinterpret_cast<void*>(
                                       GetProcAddress(theme, "SetWindowTheme")))
                                 : nullptr;
    if (!set_theme)
        return;
    const unsigned luma = (GetRValue(background) * 299u + GetGValue(background) * 587u +
                           GetBValue(background) * 114u) / 1000u;
    set_theme(edit, luma < 128 ? L"DarkMode_Explorer" : nullptr, nullptr);
}

template <class Object>
void delete_object(Object& object)
{
    if (object)
        DeleteObject(object);
    object = nullptr;
}

// An object selected into a DC until the end of the scope.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(object ? SelectObject(dc, object) : nullptr) {}
    ~SelectedObject()
    {
        if (old_)
            SelectObject(dc_, old_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A window's DC until the end of the scope. Objects selected into it are
// held by SelectedObject holders declared after it, so they are put back
// before the DC is released.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC()
    {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

}  // namespace

PreviewWindow::PreviewWindow(PreviewBook book, const PreviewVisuals& visuals)
    : book_(std::move(book)), visuals_(visuals)
{
}

PreviewWindow::~PreviewWindow()
{
    if (window_)
        DestroyWindow(window_);
    release_gdi_objects();
    if (uses_class_)
        release_class();
}

HRESULT PreviewWindow::create(HWND parent, const RECT& rect, PreviewBook book,
                              const PreviewVisuals& visuals, std::unique_ptr<PreviewWindow>& out)
{
    std::unique_ptr<PreviewWindow> made(new PreviewWindow(std::move(book), visuals));
    if (!made->book_.valid)
        made->message_ = preview_text(IDS_PREVIEW_NOT_MOBI);

    RETURN_IF_FAILED(use_class());
    made->uses_class_ = true;

    ContextActivation active(made->context_);
    // Mirrored in a right-to-left user interface (the cover on the right,
    // the labels right of their values); the book's own words read in its
    // direction and aligned to the side its writing starts from:
    // right-aligned where that differs from the pane's, which a mirrored
    // pane shows on its left. The text area is not mirrored (a mirrored
    // edit control reads right to left whatever the book): it reads and
    // aligns by the book alone, its scroll bar on the pane's outer side.
    made->mirrored_ = is_right_to_left_language(ui_language());
    made->reversed_ = made->book_.right_to_left != made->mirrored_;
    const HWND window = CreateWindowExW(
        made->mirrored_ ? WS_EX_LAYOUTRTL : 0, WINDOW_CLASS, L"", WS_CHILD | WS_CLIPCHILDREN, rect.left, rect.top,
        rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, g_module.instance,
        made.get());
    ENSURE_THAT(window != nullptr, E_FAIL);
    // The window's name is the title, for screen readers and other tools.
    SetWindowTextW(window, made->book_.title.c_str());
    made->edit_ = make_control(
        L"EDIT",
        WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
            (made->book_.right_to_left ? ES_RIGHT : 0),
        window, PREVIEW_TEXT_ID,
        made->book_.right_to_left ? WS_EX_RTLREADING : 0);
    ENSURE_THAT(made->edit_ != nullptr, E_FAIL);
    if (made->mirrored_)
        SetWindowLongW(made->edit_, GWL_EXSTYLE,
                       (GetWindowLongW(made->edit_, GWL_EXSTYLE) & ~WS_EX_LAYOUTRTL) | WS_EX_LEFTSCROLLBAR);
    if (made->book_.valid) {
        int id = 0;
        for (const DetailRow& row : details_of(made->book_)) {
            const HWND label = make_control(L"STATIC", WS_VISIBLE | SS_NOPREFIX, window,
                                            PREVIEW_LABEL_ID + id);
            const HWND value = make_control(L"STATIC", WS_VISIBLE | SS_NOPREFIX | SS_ENDELLIPSIS,
                                            window, PREVIEW_VALUE_ID + id);
            ENSURE_THAT(label && value, E_FAIL);
            SetWindowTextW(label, preview_text(row.label).c_str());
            SetWindowTextW(value, row.value->c_str());
            made->rows_.emplace_back(label, value);
            ++id;
        }
    }
    made->dpi_ = window_dpi(window);
    made->make_gdi_objects();
    made->give_body_font();
    theme_scroll_bar(made->edit_, visuals.background);
    SetWindowTextW(made->edit_, made->book_.text.c_str());
    SetPropW(made->edit_, PREVIEW_DESCRIPTION_PROPERTY,
             reinterpret_cast<HANDLE>(made->book_.description_size));
    made->layout();
    if (made->book_.valid)
        ShowWindow(made->edit_, SW_SHOWNA);
    ShowWindow(window, SW_SHOWNA);
    out = std::move(made);
    return S_OK;
}

HRESULT PreviewWindow::use_class()
{
    ClassLock locked;
    if (class_users == 0) {
        WNDCLASSEXW window_class = {};
        window_class.cbSize = sizeof(window_class);
        window_class.lpfnWndProc = procedure;
        window_class.hInstance = g_module.instance;
        window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        window_class.lpszClassName = WINDOW_CLASS;
        // Found registered only when the last user's window outlived it
        // (DestroyWindow from another thread fails); it is still this one.
        if (!RegisterClassExW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return HRESULT_FROM_WIN32(GetLastError());
    }
    ++class_users;
    return S_OK;
}

void PreviewWindow::release_class()
{
    ClassLock locked;
    if (class_users != 0 && --class_users == 0)
        UnregisterClassW(WINDOW_CLASS, g_module.instance);
}

void PreviewWindow::move(HWND parent, const RECT& rect)
{
    if (GetParent(window_) != parent)
        SetParent(window_, parent);
    // WM_SIZE lays the window out again when its size changes.
    SetWindowPos(window_, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void PreviewWindow::set_visuals(const PreviewVisuals& visuals)
{
    visuals_ = visuals;
    release_gdi_objects();
    make_gdi_objects();
    give_body_font();
    theme_scroll_bar(edit_, visuals_.background);
    layout();
    InvalidateRect(edit_, nullptr, TRUE);
    for (const auto& row : rows_) {
        InvalidateRect(row.first, nullptr, TRUE);
        InvalidateRect(row.second, nullptr, TRUE);
    }
}

void PreviewWindow::give_body_font()
{
    SendMessageW(edit_, WM_SETFONT, WPARAM(body_font_), FALSE);
    SendMessageW(edit_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                 MAKELPARAM(0, scaled(12)));
    for (const auto& row : rows_) {
        SendMessageW(row.first, WM_SETFONT, WPARAM(body_font_), FALSE);
        SendMessageW(row.second, WM_SETFONT, WPARAM(body_font_), FALSE);
    }
}

void PreviewWindow::fit_scroll_bar()
{
    // Without the bar first: the lines wrap at the wider width, and a text
    // that fits then needs none.
    ShowScrollBar(edit_, SB_VERT, FALSE);
    RECT area = {};
    SendMessageW(edit_, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    const LRESULT lines = SendMessageW(edit_, EM_GETLINECOUNT, 0, 0);
    if (text_line_height_ > 0 && lines > (area.bottom - area.top) / text_line_height_)
        ShowScrollBar(edit_, SB_VERT, TRUE);
    else
        SendMessageW(edit_, EM_LINESCROLL, 0, -lines);
}

void PreviewWindow::make_gdi_objects()
{
    LOGFONTW body = visuals_.font;
    if (!visuals_.has_font) {
        // The size of the structure before Vista, which every system takes.
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
            body = metrics.lfMessageFont;
        else
            GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(body), &body);
        body.lfHeight = -MulDiv(9, int(dpi_), 72);
        body.lfWidth = 0;
    }
    LOGFONTW title = body;
    title.lfHeight = body.lfHeight != 0 ? body.lfHeight * 3 / 2 : -MulDiv(14, int(dpi_), 72);
    title.lfWidth = 0;
    title.lfWeight = FW_BOLD;
    body_font_ = CreateFontIndirectW(&body);
    title_font_ = CreateFontIndirectW(&title);
    background_ = CreateSolidBrush(visuals_.background);
}

void PreviewWindow::release_gdi_objects()
{
    delete_object(body_font_);
    delete_object(title_font_);
    delete_object(background_);
    delete_object(cover_);
    cover_size_ = {};
    if (window_)
        RemovePropW(window_, PREVIEW_COVER_PROPERTY);
}

// Fits the cover into the box less the frame, never enlarged, and makes it
// a bitmap framed in the text colour; kept while the fitted size stays.
void PreviewWindow::make_cover(int box_width, int box_height)
{
    if (!book_.cover || box_width <= 2 || box_height <= 2) {
        delete_object(cover_);
        cover_size_ = {};
        RemovePropW(window_, PREVIEW_COVER_PROPERTY);
        return;
    }
    UINT width = 0, height = 0;
    if (FAILED(book_.cover->GetSize(&width, &height)))
        return;
    const PictureSize fitted =
        fit_picture(width, height, UINT(box_width - 2), UINT(box_height - 2), FitRule::shrink);
    const LONG framed_width = LONG(fitted.width) + 2, framed_height = LONG(fitted.height) + 2;
    if (cover_ && cover_size_.cx == framed_width && cover_size_.cy == framed_height)
        return;
    delete_object(cover_);
    cover_size_ = {};
    RemovePropW(window_, PREVIEW_COVER_PROPERTY);

    const Frame frame = {1, UINT32(GetRValue(visuals_.text)) << 16 |
                                UINT32(GetGValue(visuals_.text)) << 8 | GetBValue(visuals_.text)};
    if (FAILED(framed_picture(book_.factory.Get(), book_.cover.Get(), UINT(box_width),
                              UINT(box_height), FitRule::shrink, frame, &cover_)))
        return;
    cover_size_ = {framed_width, framed_height};
    SetPropW(window_, PREVIEW_COVER_PROPERTY,
             reinterpret_cast<HANDLE>(static_cast<INT_PTR>(MAKELONG(fitted.width, fitted.height))));
}

void PreviewWindow::layout()
{
    const UINT dpi = window_dpi(window_);
    if (dpi != dpi_) {
        dpi_ = dpi;
        release_gdi_objects();
        make_gdi_objects();
        give_body_font();
    }
    RECT client = {};
    GetClientRect(window_, &client);
    const int width = client.right, height = client.bottom;
    const int margin = scaled(10), gap = scaled(10);
    RECT column = {margin, margin, width - margin, height - margin};
    if (book_.valid && book_.cover) {
        const bool wide = width > height;
        if (wide)
            make_cover((width - 2 * margin - gap) * 2 / 5, height - 2 * margin);
        else
            make_cover(width - 2 * margin, (height - 2 * margin - gap) * 2 / 5);
        if (cover_ && wide) {
            cover_at_ = {margin, margin};
            column.left = margin + cover_size_.cx + gap;
        } else if (cover_) {
            cover_at_ = {(width - cover_size_.cx) / 2, margin};
            column.top = margin + cover_size_.cy + gap;
        }
    }

    // The column is at most TEXT_COLUMN_CHARS average characters of the
    // body font wide, and the text area's right margin (a scroll bar takes
    // its width from the text); the
    // title wraps to at most three lines; one line per detail row, the
    // values aligned after the longest label.
    int label_width = 0;
    {
        const WindowDC window_dc(window_);
        if (const HDC dc = window_dc.get()) {
            TEXTMETRICW metrics = {};
            {
                SelectedObject font(dc, body_font_);
                GetTextMetricsW(dc, &metrics);
                for (const auto& row : rows_) {
                    wchar_t label[64] = {};
                    const int length = GetWindowTextW(row.first, label, 64);
                    SIZE extent = {};
                    if (GetTextExtentPoint32W(dc, label, length, &extent) && extent.cx > label_width)
                        label_width = extent.cx;
                }
            }
            line_height_ = int(metrics.tmHeight + metrics.tmExternalLeading);
            text_line_height_ = int(metrics.tmHeight);
            const int widest = TEXT_COLUMN_CHARS * int(metrics.tmAveCharWidth) + scaled(12);
            if (column.right - column.left > widest)
                column.right = column.left + widest;
            SelectedObject font(dc, title_font_);
            TEXTMETRICW title_metrics = {};
            GetTextMetricsW(dc, &title_metrics);
            title_rect_ = {column.left, column.top, column.right, column.top};
            DrawTextW(dc, book_.title.c_str(), int(book_.title.size()), &title_rect_,
                      DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL |
                          (book_.right_to_left ? DT_RTLREADING : 0));
            title_rect_.right = column.right;
            const LONG most = column.top + 3 * title_metrics.tmHeight;
            if (title_rect_.bottom > most)
                title_rect_.bottom = most;
        }
    }
    int row_top = title_rect_.bottom + scaled(4);
    const int value_left = column.left + label_width + scaled(8);
    for (const auto& row : rows_) {
        MoveWindow(row.first, column.left, row_top, label_width, line_height_, TRUE);
        MoveWindow(row.second, value_left, row_top,
                   column.right > value_left ? column.right - value_left : 0, line_height_, TRUE);
        row_top += line_height_;
    }
    const int top = row_top + gap;
    const int bottom = column.bottom > top ? column.bottom : top;
    MoveWindow(edit_, column.left, top, column.right > column.left ? column.right - column.left : 0,
               bottom - top, TRUE);
    fit_scroll_bar();
    InvalidateRect(window_, nullptr, FALSE);
}

void PreviewWindow::paint(HDC target)
{
    RECT client = {};
    GetClientRect(window_, &client);
    if (client.right <= 0 || client.bottom <= 0)
        return;
    const HDC dc = CreateCompatibleDC(target);
    if (!dc)
        return;
    const HBITMAP canvas = CreateCompatibleBitmap(target, client.right, client.bottom);
    if (!canvas) {
        DeleteDC(dc);
        return;
    }
    // In a mirrored pane the canvas is mirrored as the window is, and the
    // pictures are copied as they are.
    const DWORD copy = mirrored_ ? SRCCOPY | NOMIRRORBITMAP : SRCCOPY;
    {
        SelectedObject on_canvas(dc, canvas);
        if (mirrored_)
            SetLayout(dc, LAYOUT_RTL);  // across the canvas's width
        FillRect(dc, &client, background_);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, visuals_.text);
        if (!book_.valid) {
            // Centred, a third of the way down.
            const int margin = scaled(10);
            RECT box = {margin, margin, client.right - margin, client.bottom - margin};
            SelectedObject font(dc, body_font_);
            RECT needed = box;
            DrawTextW(dc, message_.c_str(), int(message_.size()), &needed,
                      DT_CALCRECT | DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
            const LONG room = box.bottom - box.top - (needed.bottom - needed.top);
            if (room > 0)
                box.top += room / 3;
            DrawTextW(dc, message_.c_str(), int(message_.size()), &box,
                      DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
        } else {
            if (cover_) {
                const HDC picture = CreateCompatibleDC(dc);
                if (picture) {
                    SelectedObject shown(picture, cover_);
                    BitBlt(dc, cover_at_.x, cover_at_.y, cover_size_.cx, cover_size_.cy, picture,
                           0, 0, copy);
                }
                if (picture)
                    DeleteDC(picture);
            }
            {
                SelectedObject font(dc, title_font_);
                RECT box = title_rect_;
                DrawTextW(dc, book_.title.c_str(), int(book_.title.size()), &box,
                          DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL | DT_END_ELLIPSIS |
                              (reversed_ ? DT_RIGHT : 0) | (book_.right_to_left ? DT_RTLREADING : 0));
            }
        }
        BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, copy);
    }
    DeleteObject(canvas);
    DeleteDC(dc);
}

LRESULT CALLBACK PreviewWindow::procedure(HWND window, UINT message, WPARAM wparam,
                                          LPARAM lparam)
{
    try {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
            auto* self = static_cast<PreviewWindow*>(create->lpCreateParams);
            self->window_ = window;
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        auto* self = reinterpret_cast<PreviewWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!self)
            return DefWindowProcW(window, message, wparam, lparam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            self->window_ = nullptr;
            self->edit_ = nullptr;
            return DefWindowProcW(window, message, wparam, lparam);
        }
        return self->handle(message, wparam, lparam);
    } catch (...) {
        return 0;
    }
}

LRESULT PreviewWindow::handle(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_SIZE:
        if (edit_)
            layout();
        return 0;
    case WM_DPICHANGED_AFTERPARENT_:
        if (edit_)
            layout();
        return 0;
    case WM_DESTROY:
        // Before the children go: the properties this window set.
        RemovePropW(window_, PREVIEW_COVER_PROPERTY);
        if (edit_)
            RemovePropW(edit_, PREVIEW_DESCRIPTION_PROPERTY);
        return DefWindowProcW(window_, message, wparam, lparam);
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT covers every pixel
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (const HDC dc = BeginPaint(window_, &ps)) {
            paint(dc);
            EndPaint(window_, &ps);
        }
        return 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        const HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, visuals_.text);
        SetBkColor(dc, visuals_.background);
        return reinterpret_cast<LRESULT>(background_);
    }
    case WM_SETFOCUS:
        if (edit_ && IsWindowVisible(edit_))
            SetFocus(edit_);
        return 0;
    default:
        return DefWindowProcW(window_, message, wparam, lparam);
    }
}
