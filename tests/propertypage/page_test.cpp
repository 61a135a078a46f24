// The "MOBI" page in a real property sheet: AddPages, the fields of one
// book, stepping through a selection, invalid files, the cover picture, no
// GDI objects left behind, and screenshots for a person to look at.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "tests/propertypage/sheet_host.h"
#include "tests/support/process_counts.h"
#include "tests/support/propsys_stand_in.h"

using namespace page_test;

namespace {

TEST(PageAddPages, NoBooksRefusedAndAcceptedPagesAndTheReferenceGivenBack)
{
    PageSink none;
    EXPECT_EQ(S_FALSE, none.offer(qb_create<IShellPropSheetExt>().Get()));
    EXPECT_TRUE(none.pages.empty());

    ComPtr<IShellPropSheetExt> handler = handler_for({book_path(L"cafe-noir.mobi")});
    const ULONG references = other_references(handler.Get());
    PageSink refusing;
    refusing.answer = FALSE;
    EXPECT_EQ(E_FAIL, refusing.offer(handler.Get()));
    EXPECT_EQ(references, other_references(handler.Get()));
    // A page never shown holds one reference until it is destroyed.
    PageSink sink;
    EXPECT_EQ(S_OK, sink.offer(handler.Get()));
    ASSERT_EQ(1u, sink.pages.size());
    EXPECT_EQ(references + 1, other_references(handler.Get()));
    EXPECT_TRUE(DestroyPropertySheetPage(sink.pages[0]));
    EXPECT_EQ(references, other_references(handler.Get()));
    // A page shown in a sheet: the tab is "MOBI"; the reference goes with the sheet.
    Sheet sheet({book_path(L"cafe-noir.mobi")});
    const ULONG shown = other_references(sheet.handler.Get());
    EXPECT_EQ(std::vector<std::wstring>{L"MOBI"}, tab_captions(sheet.sheet));
    sheet.close();
    EXPECT_EQ(shown - 1, other_references(sheet.handler.Get()));
}

// A book shows its labels, fields, check boxes, picture and button; an
// invalid file only the message of 1031. The file name shows for both.
void expect_shows_book(const Sheet& sheet, bool valid)
{
    for (int id : {1004, 1005, 1006, 1007, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1016, 1017,
                   1018, 1019, 1020, 1021})
        EXPECT_EQ(valid, sheet.visible(id)) << id;
    EXPECT_EQ(!valid, sheet.visible(1031));
    EXPECT_TRUE(sheet.visible(1000));
}

TEST(PageOneBook, ShowsTheFieldsFlagsAndButtonOfTheBook)
{
    const struct {
        const char* file;
        const wchar_t* creator;
        bool personal, save_enabled;
    } cases[] = {
        {"cafe-noir.mobi", L"Jane Doe; John Roe", false, false},
        {"cafe-noir-source.mobi", L"Jane Doe; John Roe", false, true},
        {"personal.mobi", L"Me Myself", true, false},
        {"wagahai.mobi", L"\u590f\u76ee\u6f31\u77f3", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::wstring path = book_path(widen(c.file).c_str());
        ComPtr<MobiBook> oracle = book_on(path);  // the dates and language as the reader gives them
        ASSERT_TRUE(oracle->is_valid());
        ASSERT_FALSE(oracle->created_date.empty());
        Sheet sheet({path});
        EXPECT_FALSE(sheet.visible(1002));
        expect_shows_book(sheet, true);
        const std::pair<int, std::wstring> fields[] = {
            {1000, widen(c.file)},         {1005, widen(fixture(c.file).title)},
            {1007, c.creator},             {1010, widen(fixture(c.file).publisher)},
            {1012, oracle->created_date},  {1014, oracle->published_date},
            {1016, oracle->language}};
        for (const auto& [id, text] : fields)
            EXPECT_EQ(text, sheet.text(id)) << id;
        EXPECT_FALSE(sheet.checked(1017));
        EXPECT_EQ(c.personal, sheet.checked(1018));
        EXPECT_FALSE(sheet.checked(1019));
        EXPECT_EQ(c.save_enabled, sheet.enabled(1021));
        SendMessageW(sheet.control(1018), BM_CLICK, 0, 0);  // plain check boxes: nothing changes
        EXPECT_EQ(c.personal, sheet.checked(1018));
    }
}

// Steps through a selection; a null title stands for a file shown as invalid.
struct Stop {
    Sheet::Step how;
    const wchar_t *file, *title;
};
void walk(Sheet& sheet, std::initializer_list<Stop> stops)
{
    for (const auto& [how, file, title] : stops) {
        sheet.step(how);
        SCOPED_TRACE(file);
        EXPECT_EQ(file, sheet.text(1000));
        expect_shows_book(sheet, title != nullptr);
        if (title) {
            EXPECT_EQ(title, sheet.text(1005));
        }
    }
}

TEST(PageSelection, ArrowsAndKeysStepThroughThreeFilesWithoutWrapping)
{
    Sheet sheet({book_path(L"cafe-noir.mobi"), book_path(L"personal.mobi"),
                 book_path(L"no-cover.mobi")});
    ASSERT_TRUE(sheet.visible(1002));
    int lower = -1, upper = -1;
    SendMessageW(sheet.control(1002), UDM_GETRANGE32, WPARAM(&lower), LPARAM(&upper));
    EXPECT_EQ(2, lower);
    EXPECT_EQ(0, upper);
    EXPECT_EQ(L"cafe-noir.mobi", sheet.text(1000));
    walk(sheet, {{Sheet::Up, L"cafe-noir.mobi", L"Caf\u00e9 Noir"},
                 {Sheet::Down, L"personal.mobi", L"My Notes"},
                 {Sheet::Down, L"no-cover.mobi", L"Plain Text Only"},
                 {Sheet::Down, L"no-cover.mobi", L"Plain Text Only"},
                 {Sheet::Up, L"personal.mobi", L"My Notes"},
                 {Sheet::KeyUp, L"cafe-noir.mobi", L"Caf\u00e9 Noir"},
                 {Sheet::KeyDown, L"personal.mobi", L"My Notes"}});
}

TEST(PageSelection, InvalidAndVanishedFilesShowTheMessageOnly)
{
    // A book reads nothing before it is shown: a copy deleted now is one
    // deleted between the selection and its display.
    const std::wstring vanished = scratch_folder() + L"\\vanished.mobi";
    ASSERT_TRUE(CopyFileW(book_path(L"personal.mobi").c_str(), vanished.c_str(), FALSE));
    ASSERT_TRUE(DeleteFileW(vanished.c_str()));
    Sheet sheet({book_path(L"cafe-noir.mobi"), book_path(L"palmdoc.pdb"), vanished});
    expect_shows_book(sheet, true);
    walk(sheet, {{Sheet::Down, L"palmdoc.pdb", nullptr},
                 {Sheet::Down, L"vanished.mobi", nullptr},
                 {Sheet::Up, L"palmdoc.pdb", nullptr},
                 {Sheet::Up, L"cafe-noir.mobi", L"Caf\u00e9 Noir"}});
    EXPECT_EQ(L"Jane Doe; John Roe", sheet.text(1007));
}

// A bitmap's size, and its pixels as 0x00RRGGBB, top row first.
struct Pixels {
    LONG width, height;
    std::vector<DWORD> rgb;
};
Pixels pixels_of(HBITMAP bitmap)
{
    BITMAP shape = {};
    GetObjectW(bitmap, sizeof(shape), &shape);
    Pixels pixels = {shape.bmWidth, shape.bmHeight, std::vector<DWORD>(std::size_t(shape.bmWidth) * shape.bmHeight)};
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), pixels.width, -pixels.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const HDC dc = GetDC(nullptr);
    EXPECT_EQ(pixels.height, GetDIBits(dc, bitmap, 0, pixels.height, pixels.rgb.data(), &info, DIB_RGB_COLORS));
    ReleaseDC(nullptr, dc);
    for (DWORD& pixel : pixels.rgb)
        pixel &= 0xFFFFFF;
    return pixels;
}

TEST(PageCover, FramedCoversFitTheControlAndBooksWithoutOneShowTheTemplate)
{
    using handler_test::banded_image;
    ASSERT_TRUE(load_imaging_component());  // to encode the test covers
    const std::wstring folder = scratch_folder();
    const auto book = [&](const Bytes& cover, const wchar_t* name) {
        write_file(folder + name, handler_test::book_with_cover(cover));
        return folder + name;
    };
    const handler_test::Bgr red = {0, 0, 255}, blue = {255, 0, 0};
    const struct {
        const char* name;
        std::wstring path;
        LONG width, height;  // of the framed bitmap; 0: the picture stays as it was
    } cases[] = {
        {"600 x 800 cover", book_path(L"cafe-noir.mobi"), 120, 159},
        {"10 x 10 cover, scaled up",
         book(banded_image(GUID_ContainerFormatPng, 10, 10, red, blue), L"\\ten.mobi"), 120, 120},
        // Sizes rounded to nearest: 78.67 and 52.67 give 79 and 53, not 78 and 52.
        {"300 x 200 cover", book(banded_image(GUID_ContainerFormatPng, 300, 200, red, blue),
                                 L"\\wider.mobi"), 120, 81},
        {"100 x 300 cover", book(banded_image(GUID_ContainerFormatPng, 100, 300, red, blue),
                                 L"\\taller.mobi"), 55, 160},
        {"as wide as the box, not scaled",
         book(banded_image(GUID_ContainerFormatPng, 118, 50, red, blue), L"\\wide.mobi"), 120, 52},
        {"cover that does not decode",
         book(mobi_test::image_bytes(mobi_test::JPEG_JFIF, 900), L"\\broken.mobi"), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sheet sheet({book_path(L"no-cover.mobi"), c.path});
        const HBITMAP card = sheet.picture();
        const Pixels template_picture = pixels_of(card);
        ASSERT_EQ(48, template_picture.width);
        ASSERT_EQ(64, template_picture.height);
        EXPECT_EQ(0x000000u, template_picture.rgb[0]);            // the card's frame
        EXPECT_EQ(0xFFFFFFu, template_picture.rgb[10 * 48 + 24]);  // the white card
        SetWindowPos(sheet.control(1020), nullptr, 0, 0, 120, 160, SWP_NOMOVE | SWP_NOZORDER);

        sheet.step(Sheet::Down);
        EXPECT_NE(L"no-cover.mobi", sheet.text(1000));
        if (c.width == 0) {
            EXPECT_EQ(card, sheet.picture());
        } else {
            ASSERT_NE(card, sheet.picture());
            const Pixels framed = pixels_of(sheet.picture());
            ASSERT_EQ(c.width, framed.width);
            ASSERT_EQ(c.height, framed.height);
            EXPECT_EQ(0x000000u, framed.rgb[0]);
            EXPECT_EQ(0x000000u, framed.rgb.back());
            EXPECT_NE(0x000000u, framed.rgb[c.height / 4 * c.width + c.width / 2]);
        }
        sheet.step(Sheet::Up);
        EXPECT_EQ(card, sheet.picture());
    }
}

TEST(PageLeaks, OpeningClosingAndSteppingLeaveTheGdiObjectCountFlat)
{
    const std::vector<std::wstring> three = {book_path(L"cafe-noir.mobi"),
                                             book_path(L"kf8-only.azw3"),
                                             book_path(L"no-cover.mobi")};
    { Sheet(three).step(Sheet::Down); }  // codecs, fonts, classes load once
    const DWORD before = gdi_objects();
    ASSERT_NE(0u, before);
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(Sheet({three[0]}).page);
    const DWORD after_sheets = gdi_objects();
    {
        Sheet sheet(three);
        for (int i = 0; i < 500; ++i)
            sheet.step(i % 4 < 2 ? Sheet::Down : Sheet::Up);
    }
    const DWORD after_steps = gdi_objects();
    std::printf("GDI objects %lu, after 200 sheets %lu, after 500 steps %lu\n", before,
                after_sheets, after_steps);
    EXPECT_EQ(before, after_sheets);
    EXPECT_EQ(before, after_steps);
}

// A capture of the screen where the sheet is, saved as a PNG file under
// build/x64/screenshots. Returns the number of distinct colours captured.
std::size_t screenshot(const Sheet& sheet, const wchar_t* name)
{
    RedrawWindow(sheet.sheet, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    for (int i = 0; i < 10; ++i)
        pump(), Sleep(20);
    RECT rect = {};
    GetWindowRect(sheet.sheet, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    const HBITMAP capture = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ old = SelectObject(memory, capture);
    EXPECT_TRUE(BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY));
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::vector<DWORD> pixels = pixels_of(capture).rgb;
    DeleteObject(capture);
    for (DWORD& pixel : pixels)
        pixel |= 0xFF000000u;
    const auto* bytes = reinterpret_cast<const BYTE*>(pixels.data());
    const Bytes png = handler_test::encoded_image(
        GUID_ContainerFormatPng, width, height, GUID_WICPixelFormat32bppBGRA, width * 4,
        std::vector<BYTE>(bytes, bytes + pixels.size() * 4));
    EXPECT_FALSE(png.empty());
    const std::wstring folder = windows_path(QB_BINARY_DIR) + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    write_file(folder + L"\\" + name + L".png", png);
    std::printf("screenshot %ls\\%ls.png\n", folder.c_str(), name);
    std::sort(pixels.begin(), pixels.end());
    return std::size_t(std::unique(pixels.begin(), pixels.end()) - pixels.begin());
}

TEST(PageScreenshots, ValidBookInvalidFileAndSecondOfThree)
{
    ASSERT_TRUE(load_imaging_component());
    // A cover and text: far more than the dialog's few flat colours.
    EXPECT_LT(100u, screenshot(Sheet({book_path(L"cafe-noir.mobi")}), L"page-valid-book-with-cover"));
    EXPECT_LT(2u, screenshot(Sheet({book_path(L"palmdoc.pdb")}), L"page-invalid-file"));
    Sheet sheet({book_path(L"wagahai.mobi"), book_path(L"personal.mobi"),
                 book_path(L"no-cover.mobi")});
    sheet.step(Sheet::Down);
    EXPECT_EQ(L"personal.mobi", sheet.text(1000));
    EXPECT_LT(100u, screenshot(sheet, L"page-second-of-three"));
}

}  // namespace
