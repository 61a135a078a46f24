// Dialog 102 in English, Japanese and Chinese: every template has the same
// controls, positions and styles with its own texts and font, and a
// Japanese or Chinese user interface language gets its own page.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/propertypage/sheet_host.h"

using namespace page_test;

namespace {

struct Control {
    DWORD id;
    std::wstring window_class;
    DWORD style;
    short x, y, cx, cy;
    std::wstring text;  // "#100" for a resource ordinal
};

struct Template {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring caption, font;
    WORD points = 0;
    std::vector<Control> controls;
};

// Reads a DLGTEMPLATEEX.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, std::size_t size) : data_(data), size_(size) {}

    Template read()
    {
        Template t;
        skip(2);
        if (word() != 0xFFFF)
            ADD_FAILURE() << "not an extended dialog template";
        skip(8);
        t.style = dword();
        const WORD count = word();
        skip(4);
        t.cx = short(word());
        t.cy = short(word());
        name_or_ordinal();  // menu
        name_or_ordinal();  // class
        t.caption = string();
        t.points = word();
        skip(4);
        t.font = string();
        for (WORD i = 0; i < count && at_ < size_; ++i) {
            at_ = (at_ + 3) & ~std::size_t(3);
            Control c;
            skip(8);
            c.style = dword();
            c.x = short(word()), c.y = short(word()), c.cx = short(word()), c.cy = short(word());
            c.id = dword();
            c.window_class = name_or_ordinal();
            c.text = name_or_ordinal();
            skip(word());
            t.controls.push_back(c);
        }
        return t;
    }

private:
    void skip(std::size_t n) { at_ += n; }
    WORD word()
    {
        WORD w = 0;
        if (at_ + 2 <= size_)
            std::memcpy(&w, data_ + at_, 2);
        at_ += 2;
        return w;
    }
    DWORD dword() { return word() | DWORD(word()) << 16; }
    std::wstring string()
    {
        std::wstring s;
        for (WORD c = word(); c != 0 && at_ <= size_; c = word())
            s += wchar_t(c);
        return s;
    }
    std::wstring name_or_ordinal()
    {
        const WORD first = word();
        if (first != 0xFFFF) {
            at_ -= 2;
            return string();
        }
        const WORD ordinal = word();
        switch (ordinal) {
        case 0x80: return L"BUTTON";
        case 0x81: return L"EDIT";
        case 0x82: return L"STATIC";
        default: return L"#" + std::to_wstring(ordinal);
        }
    }

    const BYTE* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

Template dialog_template(LANGID language)
{
    const HMODULE module = qb_module().dll;
    const HRSRC found = FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(102), language);
    if (!found) {
        ADD_FAILURE() << "no dialog 102 for language " << language;
        return {};
    }
    return TemplateReader(static_cast<const BYTE*>(LockResource(LoadResource(module, found))),
                          SizeofResource(module, found))
        .read();
}

std::wstring upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = towupper(c);
    return text;
}

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

TEST(PageTemplates, ThreeLanguagesShareControlsPositionsAndStyles)
{
    // In template (tab) order.
    const Control english[] = {
        {1001, L"STATIC", 0x50020002, 7, 14, 45, 9, L""},
        {1000, L"EDIT", 0x50810880, 57, 11, 161, 14, L""},
        {1002, L"MSCTLS_UPDOWN32", 0x50000024, 212, 11, 6, 14, L""},
        {1003, L"STATIC", 0x50000010, 7, 32, 214, 1, L""},
        {1004, L"STATIC", 0x50020002, 7, 42, 45, 9, L""},
        {1005, L"EDIT", 0x50010880, 57, 42, 161, 14, L""},
        {1006, L"STATIC", 0x50020002, 7, 56, 45, 9, L""},
        {1007, L"EDIT", 0x50010880, 57, 56, 161, 14, L""},
        {1009, L"STATIC", 0x50020002, 7, 70, 45, 9, L""},
        {1010, L"EDIT", 0x50010880, 57, 70, 91, 14, L""},
        {1011, L"STATIC", 0x50020002, 7, 84, 45, 9, L""},
        {1012, L"EDIT", 0x50010880, 57, 84, 91, 14, L""},
        {1013, L"STATIC", 0x50020002, 7, 98, 45, 9, L""},
        {1014, L"EDIT", 0x50010880, 57, 98, 91, 14, L""},
        {1015, L"STATIC", 0x50020002, 7, 112, 45, 9, L""},
        {1016, L"EDIT", 0x50010880, 57, 112, 91, 14, L""},
        {1017, L"BUTTON", 0x50000002, 57, 138, 91, 9, L""},
        {1018, L"BUTTON", 0x50000002, 57, 152, 91, 9, L""},
        {1019, L"BUTTON", 0x50000002, 57, 166, 91, 9, L""},
        {1021, L"BUTTON", 0x50010000, 158, 179, 60, 14, L""},
        {1020, L"STATIC", 0x5000020E, 158, 75, 60, 96, L"#100"},
        {1031, L"STATIC", 0x50020801, 7, 56, 210, 40, L""},
    };
    for (const Language& language : LANGUAGES) {
        SCOPED_TRACE(language.id);
        const Template t = dialog_template(language.id);
        EXPECT_EQ(0x90C000C8u, t.style);
        EXPECT_EQ(225, t.cx);
        EXPECT_EQ(200, t.cy);
        EXPECT_EQ(L"MOBI", t.caption);
        EXPECT_EQ(language.font, t.font);
        EXPECT_EQ(language.points, t.points);
        ASSERT_EQ(std::size(english), t.controls.size());
        for (std::size_t i = 0; i < t.controls.size(); ++i) {
            const Control& want = english[i];
            const Control& got = t.controls[i];
            SCOPED_TRACE(want.id);
            EXPECT_EQ(want.id, got.id);
            EXPECT_EQ(want.window_class, upper(got.window_class));
            EXPECT_EQ(want.style, got.style);
            EXPECT_EQ(want.x, got.x);
            EXPECT_EQ(want.y, got.y);
            EXPECT_EQ(want.cx, got.cx);
            EXPECT_EQ(want.cy, got.cy);
            for (std::size_t k = 0; k < std::size(TEXT_IDS); ++k) {
                if (DWORD(TEXT_IDS[k]) == got.id) {
                    EXPECT_EQ(language.texts[k], got.text);
                }
            }
            if (!want.text.empty()) {
                EXPECT_EQ(want.text, got.text);
            }
        }
    }
}

TEST(PageTemplates, TheUserInterfaceLanguageChoosesThePage)
{
    const LANGID before = GetThreadUILanguage();
    const LCID locale = GetThreadLocale();
    for (const Language& language : LANGUAGES) {
        SCOPED_TRACE(language.id);
        SetThreadUILanguage(language.id);
        SetThreadLocale(MAKELCID(language.id, SORT_DEFAULT));
        Sheet sheet({book_path(L"palmdoc.pdb")});
        for (std::size_t k = 0; k < std::size(TEXT_IDS); ++k)
            EXPECT_EQ(language.texts[k], sheet.text(TEXT_IDS[k])) << TEXT_IDS[k];
        LOGFONTW font = {};
        const auto handle = reinterpret_cast<HFONT>(SendMessageW(sheet.page, WM_GETFONT, 0, 0));
        ASSERT_TRUE(GetObjectW(handle, sizeof(font), &font));
        std::printf("language %04x: font \"%ls\", height %ld\n", language.id, font.lfFaceName,
                    font.lfHeight);
        EXPECT_EQ(std::wstring(language.font), font.lfFaceName);
    }
    SetThreadUILanguage(before);
    SetThreadLocale(locale);
}

}  // namespace
