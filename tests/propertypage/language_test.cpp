// The MOBI tab and the preview pane in each of Windows' display languages:
// the user interface's language (the thread's preferred UI languages, which
// the test gives the module in place of Windows', as Wine's are fixed)
// chooses the page and the texts, with Windows' fallbacks; Arabic and Hebrew
// mirror both; a book written right to left reads so; and every label fits
// its control at 96 and 144 DPI.
#include "tests/propertypage/sheet_host.h"

#include <cstring>

#include "host/preview_host.h"
#include "preview/preview_handler.h"
#include "tests/support/import_patch.h"
#include "tests/support/mobi_builder.h"

using namespace page_test;

namespace {

struct Language {
    const char* tag;
    LANGID id;
};
const Language LANGUAGES[] = {
    {"ar-SA", 0x0401}, {"bg-BG", 0x0402}, {"cs-CZ", 0x0405}, {"da-DK", 0x0406}, {"de-DE", 0x0407},
    {"el-GR", 0x0408}, {"en-GB", 0x0809}, {"en-US", 0x0409}, {"es-ES", 0x0C0A}, {"es-MX", 0x080A},
    {"et-EE", 0x0425}, {"fi-FI", 0x040B}, {"fr-CA", 0x0C0C}, {"fr-FR", 0x040C}, {"he-IL", 0x040D},
    {"hr-HR", 0x041A}, {"hu-HU", 0x040E}, {"it-IT", 0x0410}, {"ja-JP", 0x0411}, {"ko-KR", 0x0412},
    {"lt-LT", 0x0427}, {"lv-LV", 0x0426}, {"nb-NO", 0x0414}, {"nl-NL", 0x0413}, {"pl-PL", 0x0415},
    {"pt-BR", 0x0416}, {"pt-PT", 0x0816}, {"ro-RO", 0x0418}, {"ru-RU", 0x0419}, {"sk-SK", 0x041B},
    {"sl-SI", 0x0424}, {"sr-Latn-RS", 0x241A}, {"sv-SE", 0x041D}, {"th-TH", 0x041E}, {"tr-TR", 0x041F},
    {"uk-UA", 0x0422}, {"zh-CN", 0x0804}, {"zh-TW", 0x0404},
};

// The module asks for the thread's preferred UI languages through
// GetProcAddress; its import of that is pointed here.
LANGID g_wanted = 0x0409;
BOOL WINAPI preferred_languages(DWORD, PULONG count, PZZWSTR buffer, PULONG size)
{
    wchar_t list[6] = {};
    wsprintfW(list, L"%04X", g_wanted);
    *count = 1;
    if (buffer && *size < 6)
        return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    if (buffer)
        std::memcpy(buffer, list, sizeof list);
    *size = 6;
    return TRUE;
}
FARPROC WINAPI get_proc_address(HMODULE module, LPCSTR name)
{
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) && !lstrcmpA(name, "GetThreadPreferredUILanguages"))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&preferred_languages));
    return GetProcAddress(module, name);
}
void use_ui_language(LANGID language)
{
    g_wanted = language;
    ASSERT_TRUE(patch_import(qb_module().dll, "GetProcAddress", reinterpret_cast<void*>(&get_proc_address)));
}

// Dialog 102 of one language as its template holds it.
struct Control {
    int id;
    std::wstring window_class, text;
    DWORD style;
    RECT units;  // dialog units
};
struct Template {
    DWORD ex_style = 0;
    WORD points = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::wstring face;
    std::vector<Control> controls;
};
std::wstring sz_or_ord(const WORD*& at)
{
    std::wstring text;
    if (*at == 0xFFFF)
        return at += 2, L"#" + std::to_wstring(at[-1]);
    for (; *at; ++at)
        text += wchar_t(*at);
    ++at;
    return text;
}
Template page_template(LANGID language)
{
    Template page;
    const HMODULE dll = qb_module().dll;
    const HRSRC found = FindResourceExW(dll, RT_DIALOG, MAKEINTRESOURCEW(102), language);
    if (!found)
        return ADD_FAILURE() << "no dialog 102 in " << language, page;
    const auto* at = static_cast<const WORD*>(LockResource(LoadResource(dll, found)));
    std::memcpy(&page.ex_style, at + 4, 4);
    const WORD count = at[8];
    at += 13;
    sz_or_ord(at), sz_or_ord(at), sz_or_ord(at);  // menu, class, caption
    page.points = at[0], page.weight = at[1];
    page.italic = LOBYTE(at[2]), page.charset = HIBYTE(at[2]);
    at += 3;
    page.face = sz_or_ord(at);
    for (WORD i = 0; i < count; ++i) {
        at = reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(at) + 3) & ~ULONG_PTR(3));
        Control control = {};
        std::memcpy(&control.style, at + 4, 4);
        const auto* place = reinterpret_cast<const short*>(at + 6);
        control.units = {place[0], place[1], place[0] + place[2], place[1] + place[3]};
        std::memcpy(&control.id, at + 10, 4);
        at += 12;
        control.window_class = sz_or_ord(at);
        control.text = sz_or_ord(at);
        at = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(at + 1) + *at);
        page.controls.push_back(control);
    }
    return page;
}

std::wstring without_prefix(std::wstring text)
{
    for (std::size_t at = text.find(L'&'); at != std::wstring::npos; at = text.find(L'&', at + 1))
        text.erase(at, 1);
    return text;
}

// The module's text id in language, straight from its string table.
std::wstring text_in(LANGID language, UINT id)
{
    const HMODULE dll = qb_module().dll;
    const HRSRC found = FindResourceExW(dll, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!found)
        return L"";
    const auto* at = static_cast<const WCHAR*>(LockResource(LoadResource(dll, found)));
    for (UINT i = 0; i < id % 16; ++i)
        at += *at + 1;
    return std::wstring(at + 1, *at);
}

ComPtr<IUnknown> preview_handler()
{
    ComPtr<IClassFactory> factory;
    ComPtr<IUnknown> handler;
    if (SUCCEEDED(qb_module().DllGetClassObject(CLSID_QuirebinderPreview, IID_PPV_ARGS(&factory))))
        factory->CreateInstance(nullptr, IID_PPV_ARGS(&handler));
    return handler;
}
HWND pane_of(const PreviewHost& host)
{
    return FindWindowExW(host.frame(), nullptr, L"QuirebinderPreview", nullptr);
}
DWORD ex_style(HWND window)
{
    return DWORD(GetWindowLongW(window, GWL_EXSTYLE));
}

// A book in a language written right to left: by its locale (Arabic), or
// by its EXTH language tag in an English locale (Hebrew).
std::wstring right_to_left_book(bool by_tag)
{
    mobi_test::MobiBuilder builder;
    builder.locale = by_tag ? 9 : 0x0401;
    if (by_tag)
        builder.exth(524, std::string("he-IL"));
    builder.text_encoding = 65001;
    builder.title = by_tag ? "\xd7\xa1\xd7\xa4\xd7\xa8" : "\xd9\x83\xd8\xaa\xd8\xa7\xd8\xa8 1";
    builder.add_book_text(mobi_test::Bytes(40, 'a'));
    const std::wstring path = scratch_folder() + L"\\rtl.mobi";
    write_file(path, builder.build().bytes);
    return path;
}

TEST(Languages, EachShowsItsOwnPageAndTextsMirroredWhereWrittenRightToLeft)
{
    const std::wstring english_title = page_template(0x0409).controls[4].text;
    const struct {
        LANGID wanted, shown;
    } fallbacks[] = {{0x0C07, 0x0407}, {0x2C0A, 0x080A}, {0x0C04, 0x0404}, {0x0C1A, 0x241A},
                     {0x1009, 0x0409}, {0x0C09, 0x0809}, {0x0436, 0x0409}, {0x0816, 0x0816}};
    std::vector<std::pair<LANGID, LANGID>> rows;
    for (const Language& language : LANGUAGES)
        rows.emplace_back(language.id, language.id);
    for (const auto& fallback : fallbacks)
        rows.emplace_back(fallback.wanted, fallback.shown);
    for (const auto& [wanted, shown] : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << wanted);
        use_ui_language(wanted);
        const Template expected = page_template(shown);
        const bool mirrored = PRIMARYLANGID(shown) == LANG_ARABIC || PRIMARYLANGID(shown) == LANG_HEBREW;
        EXPECT_EQ(mirrored, (expected.ex_style & WS_EX_LAYOUTRTL) != 0);
        Sheet sheet({book_path(L"cafe-noir.mobi")});
        for (const Control& control : expected.controls) {
            if (!control.text.empty() && control.text[0] != L'#') {
                EXPECT_EQ(control.text, sheet.text(control.id)) << control.id;
            }
        }
        EXPECT_EQ(mirrored, (ex_style(sheet.page) & WS_EX_LAYOUTRTL) != 0);
        if (PRIMARYLANGID(shown) != LANG_ENGLISH) {
            EXPECT_NE(english_title, sheet.text(1004));
        }
        ASSERT_NE(L"", text_in(shown, 209));  // Save Source's message
        PreviewHost host;
        ASSERT_EQ(S_OK, host.start(preview_handler().Get(), handler_test::memory_stream(file_bytes(book_path(L"cafe-noir.mobi"))).Get(),
                                   500, 300));
        EXPECT_EQ(text_in(shown, 202), text_of(GetDlgItem(pane_of(host), 100)));
        EXPECT_EQ(mirrored, (ex_style(pane_of(host)) & WS_EX_LAYOUTRTL) != 0);
    }

    // A book written right to left reads so, in a left-to-right page and
    // pane right-aligned; in a mirrored one, a book written left to right is
    // the one aligned to the other side.
    for (const bool by_tag : {false, true}) {
        for (const LANGID language : {LANGID(0x0409), LANGID(0x0401)}) {
            SCOPED_TRACE(testing::Message() << by_tag << " " << std::hex << language);
            use_ui_language(language);
            const bool mirrored = language == 0x0401;
            Sheet sheet({right_to_left_book(by_tag), book_path(L"cafe-noir.mobi")});
            const auto right_aligned = [](HWND control) { return (GetWindowLongW(control, GWL_STYLE) & ES_RIGHT) != 0; };
            for (const int id : {1005, 1007, 1010}) {
                EXPECT_NE(0u, ex_style(sheet.control(id)) & WS_EX_RTLREADING) << id;
                EXPECT_EQ(!mirrored, right_aligned(sheet.control(id))) << id;
            }
            EXPECT_EQ(0u, ex_style(sheet.control(1012)) & WS_EX_RTLREADING);
            sheet.step(Sheet::Down);
            EXPECT_EQ(0u, ex_style(sheet.control(1005)) & WS_EX_RTLREADING);
            EXPECT_EQ(mirrored, right_aligned(sheet.control(1005)));
            EXPECT_EQ(L"Caf\u00e9 Noir", sheet.text(1005).substr(0, 9));
            PreviewHost host;
            ASSERT_EQ(S_OK, host.start(preview_handler().Get(),
                                       handler_test::memory_stream(file_bytes(right_to_left_book(by_tag))).Get(), 500, 300));
            const HWND text = FindWindowExW(pane_of(host), nullptr, L"EDIT", nullptr);
            EXPECT_NE(0u, ex_style(text) & WS_EX_RTLREADING);
            EXPECT_EQ(0u, ex_style(text) & WS_EX_LAYOUTRTL);
            EXPECT_TRUE(right_aligned(text));
        }
    }
}

// The pixels of a control of the page at dpi, as Windows lays a dialog out:
// dialog units times the base units of the dialog's font at that DPI.
struct Layout {
    HDC dc;
    HFONT font;
    LONG base_x, base_y;
    Layout(const Template& page, int dpi) : dc(CreateCompatibleDC(nullptr))
    {
        font = CreateFontW(-MulDiv(page.points, dpi, 72), 0, 0, 0, page.weight, page.italic, 0, 0,
                           page.charset, 0, 0, 0, 0, page.face.c_str());
        SelectObject(dc, font);
        TEXTMETRICW metrics = {};
        GetTextMetricsW(dc, &metrics);
        SIZE alphabet = {};
        GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &alphabet);
        base_x = (alphabet.cx / 26 + 1) / 2;
        base_y = metrics.tmHeight;
    }
    ~Layout()
    {
        DeleteDC(dc);
        DeleteObject(font);
    }
    LONG width(const RECT& units) const { return MulDiv(units.right, base_x, 4) - MulDiv(units.left, base_x, 4); }
    LONG height(const RECT& units) const { return MulDiv(units.bottom, base_y, 8) - MulDiv(units.top, base_y, 8); }
};

// The room a label's text has in its control: a check box's box and gap
// and a push button's edges take their share.
LONG room_for_text(const Control& control, const Layout& layout, int dpi)
{
    const LONG width = layout.width(control.units);
    if (control.window_class == L"#128" || _wcsicmp(control.window_class.c_str(), L"BUTTON") == 0)
        return width - MulDiv((control.style & 0xF) == BS_CHECKBOX ? 17 : 8, dpi, 96);
    return width;
}

TEST(Languages, EveryLabelFitsItsControlAt96And144Dpi)
{
    std::vector<std::string> clipped;
    for (const Language& language : LANGUAGES) {
        const Template page = page_template(language.id);
        for (const int dpi : {96, 144}) {
            const Layout layout(page, dpi);
            for (const Control& control : page.controls) {
                if (control.text.empty() || control.text[0] == L'#')
                    continue;
                const std::wstring text = without_prefix(control.text);
                RECT needed = {0, 0, room_for_text(control, layout, dpi), 0};
                const bool wraps = control.id == 1031;
                DrawTextW(layout.dc, text.c_str(), int(text.size()), &needed,
                          DT_CALCRECT | DT_NOPREFIX | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
                if (needed.right > room_for_text(control, layout, dpi) ||
                    (wraps && needed.bottom > layout.height(control.units)))
                    clipped.push_back(std::string(language.tag) + " " + std::to_string(dpi) + " dpi: " +
                                      std::to_string(control.id) + " needs " + std::to_string(needed.right) +
                                      "x" + std::to_string(needed.bottom) + ", has " +
                                      std::to_string(room_for_text(control, layout, dpi)));
            }
            // The computed layout is the one Wine makes of the template.
            if (dpi == 96) {
                use_ui_language(language.id);
                Sheet sheet({book_path(L"palmdoc.pdb")});
                RECT client = {};
                GetClientRect(sheet.control(1004), &client);
                EXPECT_NEAR(layout.width(page.controls[4].units), client.right, 1) << language.tag;
            }
        }
        // The preview's labels, in the host's font at each DPI.
        use_ui_language(language.id);
        for (const int dpi : {96, 144}) {
            PreviewHost host;
            ComPtr<IUnknown> handler = preview_handler();
            ComPtr<IPreviewHandlerVisuals> visuals;
            ASSERT_EQ(S_OK, handler.As(&visuals));
            LOGFONTW font = {};
            font.lfHeight = -MulDiv(9, dpi, 72);
            lstrcpyW(font.lfFaceName, L"Tahoma");
            visuals->SetFont(&font);
            ASSERT_EQ(S_OK, host.start(handler.Get(), handler_test::memory_stream(file_bytes(book_path(L"cafe-noir.mobi"))).Get(),
                                       700, 400));
            for (int id = 100; const HWND label = GetDlgItem(pane_of(host), id); ++id) {
                const std::wstring text = text_of(label);
                const HDC dc = GetDC(label);
                SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
                SIZE extent = {};
                GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
                ReleaseDC(label, dc);
                RECT client = {};
                GetClientRect(label, &client);
                if (extent.cx > client.right)
                    clipped.push_back(std::string(language.tag) + " preview " + std::to_string(dpi) +
                                      " dpi: label " + std::to_string(id));
            }
        }
    }
    for (const std::string& line : clipped)
        ADD_FAILURE() << line;
}

}  // namespace
