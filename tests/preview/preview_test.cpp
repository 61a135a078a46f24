// The preview handler hosted as the shell's preview host does (the host's
// PreviewHost): each fixture book, built books for the cases the fixtures
// lack, the cover's framed size, the text area's contents, the keyboard,
// captures for a person to look at, and 500 cycles that leave nothing.
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "imaging/fit.h"
#include "host/png_file.h"
#include "host/preview_host.h"
#include "preview/preview_handler.h"
#include "tests/book/book_test_support.h"
#include "tests/handler/handler_test_support.h"
#include "tests/support/fixture_books.h"
#include "tests/support/process_counts.h"
#include "tests/support/propsys_stand_in.h"

namespace {

using handler_test::book_path;
using handler_test::memory_stream;
using mobi_test::Bytes;

ComPtr<IUnknown> new_preview_handler()
{
    ComPtr<IClassFactory> factory;
    ComPtr<IUnknown> handler;
    EXPECT_EQ(S_OK, qb_module().DllGetClassObject(CLSID_QuirebinderPreview,
                                                  IID_PPV_ARGS(&factory)));
    if (factory) {
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&handler)));
    }
    return handler;
}

// The handler's window in the frame, and its text area.
HWND child_of_class(HWND parent, const wchar_t* name)
{
    return parent ? FindWindowExW(parent, nullptr, name, nullptr) : nullptr;
}
HWND text_area(const PreviewHost& host)
{
    return child_of_class(child_of_class(host.frame(), L"QuirebinderPreview"), L"EDIT");
}
std::wstring text_of(HWND window)
{
    std::wstring text(std::size_t(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(std::size_t(GetWindowTextW(window, text.data(), int(text.size()))));
    return text;
}
// The detail rows' labels, each followed by '|'.
std::wstring labels_of(const PreviewHost& host)
{
    const HWND pane = child_of_class(host.frame(), L"QuirebinderPreview");
    std::wstring labels;
    for (int id = 100; GetDlgItem(pane, id); ++id)
        labels += text_of(GetDlgItem(pane, id)) + L"|";
    return labels;
}

Bytes utf8(const wchar_t* text)
{
    std::string out(std::size_t(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), int(out.size()), nullptr, nullptr);
    out.pop_back();
    return Bytes(out.begin(), out.end());
}

// A book with a banded cover, a description and one uncompressed text record.
Bytes built_book(bool encrypted, std::uint32_t code_page, const Bytes& title,
                 const Bytes& description, const Bytes& text, std::uint32_t locale = 9)
{
    mobi_test::MobiBuilder builder;
    builder.locale = locale;
    builder.encryption = encrypted ? 2 : 0;
    builder.compression = 1;
    builder.text_encoding = code_page;
    builder.title = std::string(title.begin(), title.end());
    builder.exth(100, title);
    builder.exth(103, description);
    builder.exth_u32(201, 0);
    builder.add_text(text.size());
    builder.add_image(handler_test::banded_image(GUID_ContainerFormatPng, 300, 400, {40, 90, 200},
                                                 {200, 160, 40}));
    mobi_test::MobiFile file = builder.build();
    file.put(file.offsets[1], text);
    file.put4(file.r0(4), std::uint32_t(text.size()));  // the text's length
    return file.bytes;
}

// A book of markup cut into 4,096-byte records whose reading starts past
// its front matter (by its guide, or by EXTH 116 when exth_start): its
// first "@" is where, as filepos digits; "#" where that points.
Bytes started_book(std::string markup, bool exth_start)
{
    const std::size_t at = markup.find('@');
    if (at != std::string::npos)
        markup.replace(at, 1, "0123456789");  // the digits' room
    const std::size_t target = markup.find('#');
    markup.erase(target, 1);
    char digits[11];
    std::snprintf(digits, sizeof digits, "%010zu", target);
    if (at != std::string::npos)
        markup.replace(at, 10, digits);
    mobi_test::MobiBuilder builder;
    builder.exth(100, std::string("Ann Writer"));
    if (exth_start)
        builder.exth_u32(116, std::uint32_t(target));
    builder.add_book_text(Bytes(markup.begin(), markup.end()));
    return builder.build().bytes;
}

Bytes encrypted_book()
{
    return built_book(true, 65001, utf8(L"Sealed Letters"), utf8(L"<p>Kept under lock.</p>"),
                      Bytes(64, ' '));
}

Bytes chinese_book()
{
    return built_book(false, 65001, utf8(L"\u5e84\u5b50\u00b7\u9053\u9065\u6e38"),
                      utf8(L"<p>\u5317\u51a5\u6709\u9c7c\uff0c<b>\u5176\u540d\u4e3a\u9cb2</b>\u3002</p>"),
                      utf8(L"<html><body><p>\u5317\u51a5\u6709\u9c7c\uff0c\u5176\u540d\u4e3a\u9cb2\u3002"
                           L"\u9cb2\u4e4b\u5927\uff0c\u4e0d\u77e5\u5176\u51e0\u5343\u91cc\u4e5f\u3002</p>"
                           L"</body></html>"),
                      0x804);
}

// A book with a cover whose table of contents comes first, then chapters
// of a few paragraphs.
Bytes contents_first_book()
{
    std::string text = "<html><head><title>Lanterns</title></head><body><h2>Contents</h2>";
    for (int chapter = 1; chapter <= 3; ++chapter)
        text += "<p><a filepos=0000000001>Chapter " + std::to_string(chapter) + "</a></p>";
    for (int chapter = 1; chapter <= 3; ++chapter) {
        text += "<h1>Chapter " + std::to_string(chapter) + "</h1>";
        for (int paragraph = 0; paragraph < 3; ++paragraph)
            text += "<p>The lanterns along the quay were lit one by one as the boats came in, and the "
                    "harbour master walked the length of the wall counting them, as he had every "
                    "evening for thirty years.</p>";
    }
    text += "</body></html>";
    return built_book(false, 65001, utf8(L"Lanterns on the Quay"),
                      utf8(L"<p>A harbour town, one evening.</p>"), Bytes(text.begin(), text.end()));
}

Bytes file_book(const wchar_t* name)
{
    return file_bytes(book_path(name));
}

// Frame's capture, as 0x00RRGGBB pixels, saved in build/x64/screenshots.
struct Capture {
    LONG width = 0, height = 0;
    std::vector<DWORD> rgb;
    DWORD at(LONG x, LONG y) const { return rgb[std::size_t(y) * width + x]; }
};
Capture capture(PreviewHost& host, const wchar_t* name)
{
    Capture shot;
    const UniqueBitmap captured = host.capture();
    const HBITMAP bitmap = captured.get();
    BITMAP shape = {};
    GetObjectW(bitmap, sizeof(shape), &shape);
    shot.width = shape.bmWidth, shot.height = shape.bmHeight;
    shot.rgb.resize(std::size_t(shot.width) * shot.height);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), shot.width, -shot.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, UINT(shot.height), shot.rgb.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    for (DWORD& pixel : shot.rgb)
        pixel &= 0xFFFFFF;
    const std::wstring folder = windows_path(QB_BINARY_DIR) + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    UINT width = 0, height = 0;
    EXPECT_EQ(S_OK, write_png(bitmap, folder + L"\\" + name + L".png", &width, &height));
    std::printf("screenshot %ls\\%ls.png\n", folder.c_str(), name);
    return shot;
}

struct Shown {
    const wchar_t* name;
    Bytes book;
    bool valid;
    UINT cover_width, cover_height;  // 0: no cover
    const wchar_t* text_start;       // the text area's first characters
};

TEST(PreviewCaptures, WideAndTallPanesOfEachKindOfBook)
{
    ASSERT_TRUE(load_imaging_component());
    const Shown cases[] = {
        {L"cover", file_book(L"cafe-noir.mobi"), true, 600, 800, L""},
        {L"no-cover", file_book(L"no-cover.mobi"), true, 0, 0, L""},
        {L"encrypted", encrypted_book(), true, 300, 400,
         L"Kept under lock.\r\n\r\nThe text of this book is encrypted."},
        {L"invalid", file_book(L"palmdoc.pdb"), false, 0, 0, L""},
        {L"chinese", chinese_book(), true, 300, 400,
         L"\u5317\u51a5\u6709\u9c7c\uff0c\u5176\u540d\u4e3a\u9cb2\u3002\r\n\r\n\u5317\u51a5"},
        {L"contents-first", contents_first_book(), true, 300, 400,
         L"A harbour town, one evening.\r\n\r\nChapter 1\r\n\r\nThe lanterns"},
    };
    const struct {
        const wchar_t* shape;
        int width, height;
    } panes[] = {{L"wide", 640, 320}, {L"tall", 320, 560}, {L"widest", 1000, 360}};
    for (const Shown& c : cases) {
        for (const auto& pane : panes) {
            SCOPED_TRACE(std::wstring(c.name) + L" " + pane.shape);
            PreviewHost host;
            ASSERT_EQ(S_OK, host.start(new_preview_handler().Get(), memory_stream(c.book).Get(),
                                       pane.width, pane.height));
            const HWND text = text_area(host);
            ASSERT_TRUE(text);
            EXPECT_EQ(c.valid, IsWindowVisible(text) != FALSE);
            EXPECT_EQ(c.text_start, text_of(text).substr(0, wcslen(c.text_start)));
            const Capture shot = capture(host, (std::wstring(L"preview-") + c.name + L"-" + pane.shape).c_str());
            ASSERT_EQ(pane.width, shot.width);
            if (c.cover_width == 0)
                continue;
            // The box: two fifths of the pane beside or above the text,
            // 10 pixels of margin at 96 dpi; the frame is one pixel.
            const bool wide = pane.width > pane.height;
            const PictureSize fitted = fit_picture(
                c.cover_width, c.cover_height,
                UINT(wide ? (pane.width - 30) * 2 / 5 : pane.width - 20) - 2,
                UINT(wide ? pane.height - 20 : (pane.height - 30) * 2 / 5) - 2, FitRule::shrink);
            const LONG w = LONG(fitted.width) + 2, h = LONG(fitted.height) + 2;
            const LONG x = wide ? 10 : (pane.width - w) / 2, y = 10;
            const DWORD frame = shot.at(x, y);
            EXPECT_EQ(0x000000u, frame);
            EXPECT_EQ(frame, shot.at(x + w - 1, y + h - 1));
            EXPECT_NE(frame, shot.at(x + w / 2, y + h / 4));  // the picture inside
            EXPECT_NE(frame, shot.at(x + w, y + h - 1));      // past the frame
            EXPECT_NE(frame, shot.at(x + w - 1, y + h));
        }
    }
}

TEST(PreviewText, MarkupGoneAccentsOfA1252BookAndEveryFixtureHosted)
{
    ASSERT_TRUE(load_imaging_component());
    const Bytes accents = {'R', 0xE9, 's', 'u', 'm', 0xE9, ' ', 'n', 'a', 0xEF, 'v', 'e'};
    std::string front = "<p>Copyright 2024. All rights reserved.</p>";
    for (int i = 0; i < 120; ++i)
        front += "<p>Front matter, page " + std::to_string(i) + ".</p>";
    const std::string contents =
        "<h2>Contents</h2><p><a filepos=0000000010>One</a></p><p>2. <a filepos=0000000020>Two</a></p>";
    const std::string kf8_contents =
        "<div><a href=\"kindle:pos:fid:0000:off:0000000000\">One</a></div>"
        "<div><a href=\"kindle:pos:fid:0001:off:0000000000\">Two</a></div>";
    const struct {
        const char* name;
        Bytes book;
        const wchar_t* text_start;
    } built[] = {
        {"markup", built_book(false, 65001, utf8(L"Tags"),
                              utf8(L"<div><p>A <b>bold</b>&#160;tale &amp; <i>more</i></p>"
                                   L"<!-- note --><script>x<y</script><p>Second&#x2026;</p></div>"),
                              Bytes(8, ' ')),
         L"A bold tale & more\r\n\r\nSecond\u2026"},
        {"1252", built_book(false, 1252, accents, accents, accents),
         L"R\u00e9sum\u00e9 na\u00efve\r\n\r\nR\u00e9sum\u00e9 na\u00efve"},
        // Where reading starts: the guide's text reference past 4 KiB of
        // front matter, then past the table of contents standing there;
        // EXTH 116; a table of contents first without a start.
        {"guide", started_book("<html><head><guide><reference type=\"text\" title=\"Start\" filepos=@ />"
                               "</guide></head><body>" + front + "#" + contents +
                               "<p>Chapter One begins here.</p></body></html>", false),
         L"Chapter One begins here."},
        {"exth 116", started_book("<html><body>" + front + "<mbp:pagebreak/>#<h1>Chapter One</h1><p>It "
                                  "begins.</p></body></html>", true),
         L"Chapter One\r\n\r\nIt begins."},
        {"contents first", started_book("<html><head><title>T</title></head><body>#" + contents +
                                        "<p>It began in the rain.</p></body></html>", false),
         L"It began in the rain."},
        {"kf8 contents first", started_book("<html><body>#" + kf8_contents + "<p>Text of its own.</p></body></html>",
                                            false),
         L"Text of its own."},
    };
    for (const auto& c : built) {
        SCOPED_TRACE(c.name);
        PreviewHost host;
        ASSERT_EQ(S_OK, host.start(new_preview_handler().Get(), memory_stream(c.book).Get(), 500, 300));
        EXPECT_EQ(c.text_start, text_of(text_area(host)).substr(0, wcslen(c.text_start)));
        // No date published: the date created stands in.
        EXPECT_EQ(L"Author:|Created:|Language:|", labels_of(host));
    }
    // A missing value leaves out its row (no publisher); the labels of
    // other languages: tests/propertypage/language_test.cpp.
    for (const auto& [name, labels] : {std::pair(L"cafe-noir.mobi", L"Author:|Publisher:|Published:|Language:|"),
                                       std::pair(L"no-cover.mobi", L"Author:|Published:|Language:|")}) {
        PreviewHost host;
        ASSERT_EQ(S_OK, host.start(new_preview_handler().Get(), memory_stream(file_book(name)).Get(), 500, 300));
        EXPECT_EQ(labels, labels_of(host)) << name;
    }
    for (const FixtureBook& fixture : FIXTURE_BOOKS) {
        SCOPED_TRACE(fixture.file);
        PreviewHost host;
        ASSERT_EQ(S_OK, host.start(new_preview_handler().Get(),
                                   memory_stream(file_book(widen(fixture.file).c_str())).Get(), 500, 300));
        ASSERT_TRUE(text_area(host));
        EXPECT_EQ(fixture.valid, IsWindowVisible(text_area(host)) != FALSE);
    }
}

TEST(PreviewHost, NoParentIsRefusedFocusGoesToTheTextTabLeavesThroughTheFrameColoursAreTheHosts)
{
    PreviewHost host;
    ASSERT_EQ(S_OK, host.start(new_preview_handler().Get(),
                               memory_stream(file_book(L"no-cover.mobi")).Get(), 500, 300));
    // No parent: refused, and the pane stays in the frame.
    const RECT rect = {0, 0, 200, 100};
    EXPECT_EQ(E_INVALIDARG, host.handler()->SetWindow(nullptr, &rect));
    const HWND pane = child_of_class(host.frame(), L"QuirebinderPreview");
    ASSERT_TRUE(pane);
    EXPECT_EQ(host.frame(), GetParent(pane));
    ASSERT_EQ(S_OK, host.handler()->SetFocus());
    HWND focus = nullptr;
    EXPECT_EQ(S_OK, host.handler()->QueryFocus(&focus));
    EXPECT_EQ(text_area(host), focus);
    MSG key = {focus, WM_KEYDOWN, 'A', 0, 0, {}};
    EXPECT_EQ(S_FALSE, host.handler()->TranslateAccelerator(&key));
    key.wParam = VK_TAB;
    EXPECT_EQ(S_OK, host.handler()->TranslateAccelerator(&key));
    EXPECT_EQ(host.frame(), GetFocus());
    EXPECT_EQ(2, host.keys_from_handler());

    // The host's colours, as a dark theme gives them.
    ComPtr<IPreviewHandlerVisuals> visuals;
    ASSERT_EQ(S_OK, host.handler()->QueryInterface(IID_PPV_ARGS(&visuals)));
    EXPECT_EQ(S_OK, visuals->SetBackgroundColor(RGB(0x20, 0x30, 0x40)));
    EXPECT_EQ(S_OK, visuals->SetTextColor(RGB(0xF0, 0xE0, 0xD0)));
    EXPECT_EQ(0x203040u, capture(host, L"preview-host-colours").at(2, 2));
}

TEST(PreviewLeaks, FiveHundredSetRectDoPreviewUnloadCyclesLeaveNothing)
{
    ASSERT_TRUE(load_imaging_component());
    const Bytes books[] = {file_book(L"cafe-noir.mobi"), file_book(L"palmdoc.pdb"), encrypted_book()};
    DWORD gdi_before = 0, handles_before = 0;
    {
        PreviewHost host;
        ASSERT_EQ(S_OK, host.start(new_preview_handler().Get(), memory_stream(books[0]).Get(), 400, 300));
        ComPtr<IInitializeWithStream> initialize;
        ASSERT_EQ(S_OK, host.handler()->QueryInterface(IID_PPV_ARGS(&initialize)));
        for (int cycle = -20; cycle < 500; ++cycle) {
            if (cycle == 0)
                gdi_before = gdi_objects(), handles_before = handles();
            ASSERT_EQ(S_OK, host.handler()->Unload());
            ASSERT_EQ(S_OK, initialize->Initialize(memory_stream(books[(cycle + 21) % 3]).Get(), STGM_READ));
            const RECT rect = {0, 0, 200 + cycle % 7 * 60, 500 - cycle % 5 * 60};
            ASSERT_EQ(S_OK, host.handler()->SetRect(&rect));
            ASSERT_EQ(S_OK, host.handler()->DoPreview());
            ASSERT_EQ(S_OK, host.handler()->SetRect(&rect));
            pump_preview_messages();
        }
        ASSERT_EQ(S_OK, host.handler()->Unload());
    }
    const DWORD gdi_after = gdi_objects(), handles_after = handles();
    std::printf("GDI objects %lu -> %lu, handles %lu -> %lu\n", gdi_before, gdi_after,
                handles_before, handles_after);
    EXPECT_NE(0u, gdi_before);
    EXPECT_GE(gdi_before, gdi_after);
    EXPECT_GE(handles_before, handles_after);
    EXPECT_EQ(S_OK, qb_module().DllCanUnloadNow());  // no object alive
}

// Two hosts on two threads of one process: neither's Unload takes the window
// class from the other's DoPreview, and the last one leaves no class behind.
TEST(PreviewThreads, TwoHostsPreviewEveryTimeAndTheLastUnloadUnregistersTheClass)
{
    ASSERT_TRUE(load_imaging_component());
    // Not a book: an empty text area (Wine's edit control shapes text with
    // a script cache that two threads cannot fill at once).
    const Bytes book = file_book(L"palmdoc.pdb");
    std::atomic<int> previewed{0};
    const auto hosting = [&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            PreviewHost host;
            ComPtr<IInitializeWithStream> initialize;
            if (host.start(new_preview_handler().Get(), memory_stream(book).Get(), 300, 200) == S_OK &&
                SUCCEEDED(host.handler()->QueryInterface(IID_PPV_ARGS(&initialize))))
                ++previewed;
            for (int cycle = 1; cycle < 100 && initialize; ++cycle) {
                host.handler()->Unload();
                initialize->Initialize(memory_stream(book).Get(), STGM_READ);
                previewed += host.handler()->DoPreview() == S_OK;
                pump_preview_messages();
            }
        }
        CoUninitialize();
    };
    std::thread first(hosting), second(hosting);
    first.join();
    second.join();
    EXPECT_EQ(200, previewed.load());
    WNDCLASSEXW found = {};
    found.cbSize = sizeof(found);
    EXPECT_FALSE(GetClassInfoExW(qb_module().dll, L"QuirebinderPreview", &found));
}

}  // namespace
