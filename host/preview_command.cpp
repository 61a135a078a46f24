// quirebinder preview BOOK [--size WxH] [-o OUT.png] [--json] [--dll MODULE]:
// the preview handler hosted as the shell's preview host does, captured as
// PNG, described as JSON from its window's controls, or left open until the
// window is closed.
#include <windows.h>
#include <wrl/client.h>

#include "host/book_check.h"
#include "host/commands.h"
#include "host/console.h"
#include "host/handler_source.h"
#include "host/png_file.h"
#include "host/preview_host.h"
#include "preview/preview_handler.h"
#include "preview/preview_shown.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int LARGEST_SIDE = 4096;

// "WxH", each side 1 to LARGEST_SIDE; false for anything else.
bool parse_size(const std::wstring& text, int* width, int* height)
{
    const std::size_t x = text.find_first_of(L"xX");
    if (x == std::wstring::npos || x == 0 || x + 1 >= text.size() || text.size() > 9)
        return false;
    int sides[2] = {0, 0};
    const std::wstring parts[2] = {text.substr(0, x), text.substr(x + 1)};
    for (int i = 0; i < 2; ++i) {
        for (const wchar_t c : parts[i]) {
            if (c < L'0' || c > L'9')
                return false;
            sides[i] = sides[i] * 10 + (c - L'0');
        }
        if (sides[i] < 1 || sides[i] > LARGEST_SIDE)
            return false;
    }
    *width = sides[0];
    *height = sides[1];
    return true;
}

std::wstring window_text(HWND window)
{
    std::wstring text(std::size_t(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(std::size_t(GetWindowTextW(window, text.data(), int(text.size()))));
    return text;
}

// The text area's CR LF as '\n'.
std::wstring without_cr(const std::wstring& text)
{
    std::wstring out;
    for (const wchar_t c : text)
        if (c != L'\r')
            out += c;
    return out;
}

// What the pane in frame shows, as one JSON object.
std::wstring shown_as_json(const std::wstring& path, HWND frame)
{
    const HWND pane = FindWindowExW(frame, nullptr, PREVIEW_WINDOW_CLASS, nullptr);
    const HWND text = pane ? GetDlgItem(pane, PREVIEW_TEXT_ID) : nullptr;
    const bool valid = text && IsWindowVisible(text);
    std::wstring out = L"{\n  \"file\": " + json_string(path) + L",\n  \"valid\": " +
                       (valid ? L"true" : L"false");
    if (!valid)
        return out + L"\n}";
    out += L",\n  \"title\": " + json_string(window_text(pane)) + L",\n  \"details\": [";
    for (int i = 0; i < PREVIEW_ROWS_MAX; ++i) {
        const HWND label = GetDlgItem(pane, PREVIEW_LABEL_ID + i);
        const HWND value = GetDlgItem(pane, PREVIEW_VALUE_ID + i);
        if (!label || !value)
            break;
        out += std::wstring(i ? L"," : L"") + L"\n    {\"label\": " +
               json_string(window_text(label)) + L", \"value\": " +
               json_string(window_text(value)) + L"}";
    }
    const std::wstring all = window_text(text);
    std::size_t description = reinterpret_cast<std::size_t>(GetPropW(text, PREVIEW_DESCRIPTION_PROPERTY));
    if (description > all.size())
        description = all.size();
    std::size_t opening = description;
    while (opening < all.size() && (all[opening] == L'\r' || all[opening] == L'\n'))
        ++opening;
    out += L"\n  ],\n  \"description\": " + json_string(without_cr(all.substr(0, description))) +
           L",\n  \"opening\": " + json_string(without_cr(all.substr(opening)));
    const auto cover = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(GetPropW(pane, PREVIEW_COVER_PROPERTY)));
    out += L",\n  \"cover\": " +
           (cover ? L"{\"width\": " + std::to_wstring(LOWORD(cover)) + L", \"height\": " +
                        std::to_wstring(HIWORD(cover)) + L"}"
                  : std::wstring(L"null"));
    // The text area: its size, the average characters of its font a line
    // holds between its margins, its scroll bar.
    RECT area = {}, lines = {};
    GetWindowRect(text, &area);
    SendMessageW(text, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&lines));
    TEXTMETRICW metrics = {};
    if (const HDC dc = GetDC(text)) {
        const HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(text, WM_GETFONT, 0, 0));
        const HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
        GetTextMetricsW(dc, &metrics);
        if (old)
            SelectObject(dc, old);
        ReleaseDC(text, dc);
    }
    SCROLLBARINFO bar = {};
    bar.cbSize = sizeof(bar);
    const bool scroll_bar = GetScrollBarInfo(text, OBJID_VSCROLL, &bar) &&
                            !(bar.rgstate[0] & STATE_SYSTEM_INVISIBLE);
    const long characters = metrics.tmAveCharWidth > 0 ? (lines.right - lines.left) / metrics.tmAveCharWidth : 0;
    out += L",\n  \"text_area\": {\"width\": " + std::to_wstring(area.right - area.left) +
           L", \"height\": " + std::to_wstring(area.bottom - area.top) +
           L", \"characters\": " + std::to_wstring(characters) + L", \"scroll_bar\": " +
           (scroll_bar ? L"true" : L"false") + L"}";
    return out + L"\n}";
}

}  // namespace

ExitCode run_preview(const Arguments& args)
{
    if (args.positional.size() != 1) {
        print_error(L"preview needs one BOOK (see quirebinder preview --help)");
        return EXIT_USAGE;
    }
    const std::wstring path = full_path(args.positional[0]);
    int width = 0, height = 0;
    if (!parse_size(args.option(L"--size", L"720x480"), &width, &height)) {
        print_error(L"--size must be WxH, each side from 1 to 4096");
        return EXIT_USAGE;
    }
    const std::wstring output = args.option(L"-o");
    if (!output.empty()) {
        if (const ExitCode code = check_output(output, path))
            return code;
    }
    ComPtr<IStream> stream;
    HRESULT hr = open_read_only_stream(path, &stream);
    if (FAILED(hr)) {
        print_error(L"cannot read " + path + L": " + describe(hr));
        return EXIT_NO_FILE;
    }
    ComPtr<IUnknown> handler;
    if (const ExitCode code = create_handler(args.option(L"--dll"), IID_PPV_ARGS(&handler),
                                             CLSID_QuirebinderPreview))
        return code;

    PreviewHost host;
    hr = host.start(handler.Get(), stream.Get(), width, height);
    if (FAILED(hr)) {
        print_error(L"the handler shows no preview of " + path + L": " + describe(hr));
        return EXIT_FAILED;
    }
    if (args.has(L"--json")) {
        pump_preview_messages();
        print(shown_as_json(path, host.frame()));
        if (output.empty())
            return EXIT_OK;
    }
    if (output.empty()) {
        host.run();
        return EXIT_OK;
    }
    const UniqueBitmap capture = host.capture();
    UINT written_width = 0, written_height = 0;
    hr = capture ? write_png(capture.get(), output, &written_width, &written_height) : E_FAIL;
    if (FAILED(hr)) {
        print_error(L"cannot write " + output + L": " + describe(hr));
        return EXIT_FAILED;
    }
    print(L"Wrote " + output + L" (" + std::to_wstring(written_width) + L"x" +
          std::to_wstring(written_height) + L")");
    return EXIT_OK;
}
