// Dialog 102 in English, Japanese and Chinese: a Japanese or Chinese user
// interface language gets a page with its own texts and font and the same
// controls, in the same order, with the same styles.
#include "tests/propertypage/sheet_host.h"

using namespace page_test;

namespace {

struct Language {
    LANGID id;
    const wchar_t* font;
    WORD points;
    // Texts of 1001, 1004, 1006, 1009, 1011, 1013, 1015, 1017, 1018, 1019, 1021, 1031.
    std::vector<std::wstring> texts;
};

const Language LANGUAGES[] = {
    {0x0409, L"MS Shell Dlg 2", 8,
     {L"&Name:", L"Title:", L"Creator:", L"Publisher:", L"Created:", L"Published:", L"Language:",
      L"Sample", L"Personal", L"Encrypted", L"&Save Source...",
      L"This file does not appear to be a valid MOBI-format eBook."}},
    {0x0411, L"MS UI Gothic", 9,
     {L"ファイル名(&N):", L"タイトル:", L"作者:", L"出版者:", L"作成:", L"出版:", L"言語:",
      L"サンプル", L"パーソナル", L"暗号化", L"ソース保存(&S)...",
      L"このファイルはMOBI形式の電子書籍でないようです。"}},
    {0x0804, L"MS Shell Dlg 2", 8,
     {L"名称(&N):", L"题名:", L"创建者:", L"出版者:", L"创建日期:", L"发布日期:", L"语种:",
      L"样本", L"个人", L"加密", L"保存源件(&S)...",
      L"此文件不似乎是一个有效MOBI格式的电子书。"}},
};
const int TEXT_IDS[] = {1001, 1004, 1006, 1009, 1011, 1013, 1015, 1017, 1018, 1019, 1021, 1031};

TEST(PageTemplates, TheUserInterfaceLanguageChoosesThePage)
{
    const LANGID before = GetThreadUILanguage();
    const LCID locale = GetThreadLocale();
    std::wstring english_controls;
    for (const Language& language : LANGUAGES) {
        SCOPED_TRACE(language.id);
        SetThreadUILanguage(language.id);
        SetThreadLocale(MAKELCID(language.id, SORT_DEFAULT));
        Sheet sheet({book_path(L"palmdoc.pdb")});
        for (std::size_t k = 0; k < std::size(TEXT_IDS); ++k)
            EXPECT_EQ(language.texts[k], sheet.text(TEXT_IDS[k])) << TEXT_IDS[k];
        // Every control's id, class and style, in tab order, as in English.
        std::wstring controls;
        for (HWND child = GetWindow(sheet.page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t name[32] = {};
            GetClassNameW(child, name, 32);
            controls += std::to_wstring(GetDlgCtrlID(child)) + L" " + name + L" " +
                        std::to_wstring(GetWindowLongW(child, GWL_STYLE) & ~WS_VISIBLE) + L"\n";
        }
        if (english_controls.empty())
            english_controls = controls;
        EXPECT_EQ(english_controls, controls);
        EXPECT_NE(std::wstring::npos, controls.find(L"1020 Static"));
        LOGFONTW font = {};
        const auto handle = reinterpret_cast<HFONT>(SendMessageW(sheet.page, WM_GETFONT, 0, 0));
        ASSERT_TRUE(GetObjectW(handle, sizeof(font), &font));
        EXPECT_EQ(std::wstring(language.font), font.lfFaceName);
        const HDC screen = GetDC(nullptr);
        EXPECT_EQ(-MulDiv(language.points, GetDeviceCaps(screen, LOGPIXELSY), 72), font.lfHeight);
        ReleaseDC(nullptr, screen);
    }
    SetThreadUILanguage(before);
    SetThreadLocale(locale);
}

}  // namespace
