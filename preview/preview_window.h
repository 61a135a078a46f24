// The preview's window, a child of the host's: the cover beside the text in
// a wide pane and above it in a tall one, the title painted, the details as
// rows of a label and a value, the description and opening text in a
// read-only edit control, in a column of at most TEXT_COLUMN_CHARS average
// characters; or the message for a file that is not a book.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "preview/preview_book.h"
#include "server/module_context.h"

// The host's colours and font (IPreviewHandlerVisuals).
constexpr int TEXT_COLUMN_CHARS = 80;

struct PreviewVisuals {
    COLORREF background = GetSysColor(COLOR_WINDOW);
    COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    bool has_font = false;
    LOGFONTW font = {};
};

class PreviewWindow {
public:
    // Makes the window in parent at rect, showing book.
    static HRESULT create(HWND parent, const RECT& rect, PreviewBook book,
                          const PreviewVisuals& visuals, std::unique_ptr<PreviewWindow>& out);
    ~PreviewWindow();
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // Moves the window to rect (in parent's client coordinates) and lays it
    // out again.
    void move(HWND parent, const RECT& rect);
    void set_visuals(const PreviewVisuals& visuals);

    HWND window() const { return window_; }
    HWND text_area() const { return edit_; }

private:
    PreviewWindow(PreviewBook book, const PreviewVisuals& visuals);
    // The window class is registered while any preview window lives or is
    // being made: use_class counts one more user, registering the class for
    // the first; release_class counts one fewer, unregistering it after the
    // last.
    static HRESULT use_class();
    static void release_class();
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    int scaled(int pixels) const { return MulDiv(pixels, int(dpi_), 96); }
    // The body font to the text area and the detail rows, and the text
    // area's margins (which a new font resets).
    void give_body_font();
    // The text area's scroll bar only while its text is longer than it.
    void fit_scroll_bar();
    void make_gdi_objects();
    void release_gdi_objects();
    void make_cover(int box_width, int box_height);
    void layout();
    void paint(HDC target);

    PreviewBook book_;
    PreviewVisuals visuals_;
    ModuleContext context_;
    std::wstring message_;  // for a file that is not a book
    bool uses_class_ = false;
    bool mirrored_ = false;  // the pane is laid out right to left
    bool reversed_ = false;  // the book's words read against the pane's direction
    HWND window_ = nullptr;
    HWND edit_ = nullptr;
    UINT dpi_ = 96;
    HFONT body_font_ = nullptr;
    HFONT title_font_ = nullptr;
    HBRUSH background_ = nullptr;
    // The framed cover, its size with the frame and where it is drawn.
    HBITMAP cover_ = nullptr;
    SIZE cover_size_ = {};
    POINT cover_at_ = {};
    RECT title_rect_ = {};
    // Each detail row's label and value controls.
    std::vector<std::pair<HWND, HWND>> rows_;
    int line_height_ = 0;
    int text_line_height_ = 0;  // of the text area's lines
};
