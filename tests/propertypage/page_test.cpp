// The "MOBI" page in a real property sheet: AddPages, the fields of one
// book, stepping through a selection, invalid files, the cover picture, no
// GDI objects left behind, and screenshots for a person to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/book/book_test_support.h"
#include "tests/propertypage/sheet_host.h"
#include "tests/support/fixture_books.h"
#include "tests/support/process_counts.h"
#include "tests/support/propsys_stand_in.h"

using namespace page_test;
using handler_test::other_references;

namespace {

TEST(PageAddPages, AnswersForNoBooksAcceptedAndRefusedPages)
{
    // No books: no page.
    {
        ComPtr<IShellPropSheetExt> empty = qb_create<IShellPropSheetExt>();
        PageSink sink;
        EXPECT_EQ(S_FALSE, empty->AddPages(PageSink::add, reinterpret_cast<LPARAM>(&sink)));
        EXPECT_TRUE(sink.pages.empty());
    }
    ComPtr<IShellPropSheetExt> handler = handler_for({book_path(L"cafe-noir.mobi")});
    const ULONG references = other_references(handler.Get());

    // Refused: E_FAIL and no reference kept.
    PageSink refusing;
    refusing.answer = FALSE;
    EXPECT_EQ(E_FAIL, handler->AddPages(PageSink::add, reinterpret_cast<LPARAM>(&refusing)));
    EXPECT_EQ(references, other_references(handler.Get()));

    // Accepted: one page holding one reference until it is destroyed.
    PageSink sink;
    EXPECT_EQ(S_OK, handler->AddPages(PageSink::add, reinterpret_cast<LPARAM>(&sink)));
    ASSERT_EQ(1u, sink.pages.size());
    EXPECT_EQ(references + 1, other_references(handler.Get()));
    EXPECT_TRUE(DestroyPropertySheetPage(sink.pages[0]));
    EXPECT_EQ(references, other_references(handler.Get()));
}

TEST(PageAddPages, TheTabIsMobiAndTheSheetGivesTheReferenceBack)
{
    Sheet sheet({book_path(L"cafe-noir.mobi")});
    const ULONG references = other_references(sheet.handler.Get());
    wchar_t caption[64] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = 64;
    ASSERT_TRUE(TabCtrl_GetItem(PropSheet_GetTabControl(sheet.sheet), 0, &item));
    EXPECT_STREQ(L"MOBI", caption);
    sheet.close();
    EXPECT_EQ(references - 1, other_references(sheet.handler.Get()));
}

const FixtureBook& fixture(const char* file)
{
    for (const FixtureBook& book : FIXTURE_BOOKS)
        if (book.file == file)
            return book;
    throw std::runtime_error(file);
}

const int LABELS_FIELDS_AND_BOXES[] = {1004, 1005, 1006, 1007, 1009, 1010, 1011, 1012, 1013,
                                       1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021};

TEST(PageOneBook, ShowsTheFieldsFlagsAndButtonOfTheBook)
{
    struct Case {
        const char* file;
        const wchar_t* creator;
        bool personal, save_enabled;
    } cases[] = {
        {"cafe-noir.mobi", L"Jane Doe; John Roe", false, false},
        {"cafe-noir-source.mobi", L"Jane Doe; John Roe", false, true},
        {"personal.mobi", L"Me Myself", true, false},
        {"wagahai.mobi", L"\u590f\u76ee\u6f31\u77f3", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::wstring path = book_path(widen(c.file).c_str());
        const FixtureBook& expected = fixture(c.file);
        // The dates and language as the book reader gives them.
        ComPtr<MobiBook> oracle = book_on(path);
        ASSERT_TRUE(oracle->is_valid());

        Sheet sheet({path});
        EXPECT_FALSE(sheet.visible(1002));
        EXPECT_FALSE(sheet.visible(1031));
        for (int id : LABELS_FIELDS_AND_BOXES)
            EXPECT_TRUE(sheet.visible(id)) << id;
        EXPECT_EQ(widen(c.file), sheet.text(1000));
        EXPECT_EQ(widen(expected.title), sheet.text(1005));
        EXPECT_EQ(c.creator, sheet.text(1007));
        EXPECT_EQ(widen(expected.publisher), sheet.text(1010));
        EXPECT_EQ(oracle->created_date, sheet.text(1012));
        EXPECT_FALSE(oracle->created_date.empty());
        EXPECT_EQ(oracle->published_date, sheet.text(1014));
        EXPECT_EQ(oracle->language, sheet.text(1016));
        EXPECT_FALSE(sheet.checked(1017));
        EXPECT_EQ(c.personal, sheet.checked(1018));
        EXPECT_FALSE(sheet.checked(1019));
        EXPECT_EQ(c.save_enabled, sheet.enabled(1021));
        // Plain check boxes: a click changes nothing.
        SendMessageW(sheet.control(1018), BM_CLICK, 0, 0);
        EXPECT_EQ(c.personal, sheet.checked(1018));
    }
}

TEST(PageSelection, ArrowsAndKeysStepThroughThreeFilesWithoutWrapping)
{
    Sheet sheet({book_path(L"cafe-noir.mobi"), book_path(L"personal.mobi"),
                 book_path(L"no-cover.mobi")});
    ASSERT_TRUE(sheet.visible(1002));
    int lower = -1, upper = -1;
    SendMessageW(sheet.control(1002), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower),
                 reinterpret_cast<LPARAM>(&upper));
    EXPECT_EQ(2, lower);
    EXPECT_EQ(0, upper);

    enum Action { Up, Down, KeyUp, KeyDown };
    const struct {
        Action action;
        const wchar_t* file;
        const wchar_t* title;
    } steps[] = {
        {Up, L"cafe-noir.mobi", L"Caf\u00e9 Noir"},
        {Down, L"personal.mobi", L"My Notes"},
        {Down, L"no-cover.mobi", L"Plain Text Only"},
        {Down, L"no-cover.mobi", L"Plain Text Only"},
        {Up, L"personal.mobi", L"My Notes"},
        {KeyUp, L"cafe-noir.mobi", L"Caf\u00e9 Noir"},
        {KeyDown, L"personal.mobi", L"My Notes"},
    };
    EXPECT_EQ(L"cafe-noir.mobi", sheet.text(1000));
    for (const auto& step : steps) {
        switch (step.action) {
        case Up: sheet.click_up(); break;
        case Down: sheet.click_down(); break;
        case KeyUp: sheet.key_in_file_name(VK_UP); break;
        case KeyDown: sheet.key_in_file_name(VK_DOWN); break;
        }
        EXPECT_EQ(step.file, sheet.text(1000));
        EXPECT_EQ(step.title, sheet.text(1005));
    }
}

TEST(PageSelection, InvalidAndVanishedFilesShowTheMessageOnly)
{
    // A book reads nothing before it is shown: a copy deleted now is one
    // deleted between the selection and its display.
    const std::wstring vanished = scratch_folder() + L"\\vanished.mobi";
    ASSERT_TRUE(CopyFileW(book_path(L"personal.mobi").c_str(), vanished.c_str(), FALSE));
    ASSERT_TRUE(DeleteFileW(vanished.c_str()));
    Sheet sheet({book_path(L"cafe-noir.mobi"), book_path(L"palmdoc.pdb"), vanished});

    auto shows_book = [&](bool valid) {
        for (int id : LABELS_FIELDS_AND_BOXES)
            EXPECT_EQ(valid, sheet.visible(id)) << id;
        EXPECT_EQ(!valid, sheet.visible(1031));
        EXPECT_TRUE(sheet.visible(1000));
    };
    shows_book(true);
    sheet.click_down();
    EXPECT_EQ(L"palmdoc.pdb", sheet.text(1000));
    shows_book(false);
    EXPECT_EQ(L"This file does not appear to be a valid MOBI-format eBook.", sheet.text(1031));
    sheet.click_down();
    EXPECT_EQ(L"vanished.mobi", sheet.text(1000));
    shows_book(false);
    sheet.click_up();
    sheet.click_up();
    shows_book(true);
    EXPECT_EQ(L"Caf\u00e9 Noir", sheet.text(1005));
    EXPECT_EQ(L"Jane Doe; John Roe", sheet.text(1007));
}

// Colour (0x00RRGGBB) of a pixel of a bitmap, read through GetDIBits.
COLORREF pixel_of(HBITMAP bitmap, int x, int y)
{
    BITMAP shape = {};
    GetObjectW(bitmap, sizeof(shape), &shape);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), shape.bmWidth, -shape.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(std::size_t(shape.bmWidth) * shape.bmHeight);
    const HDC dc = GetDC(nullptr);
    const int rows = GetDIBits(dc, bitmap, 0, shape.bmHeight, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    return rows == shape.bmHeight ? pixels[std::size_t(y) * shape.bmWidth + x] & 0xFFFFFF : 0xDEAD;
}

std::wstring book_file(const mobi_test::Bytes& bytes, const wchar_t* name)
{
    const std::wstring path = scratch_folder() + L"\\" + name;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr));
    CloseHandle(file);
    return path;
}

TEST(PageCover, FramedCoversFitTheControlAndBooksWithoutOneShowTheTemplate)
{
    using handler_test::banded_image;
    using handler_test::book_with_cover;
    ASSERT_TRUE(load_imaging_component());  // to encode the test covers
    const handler_test::Bgr red = {0, 0, 255}, blue = {255, 0, 0};
    struct Case {
        const char* name;
        std::wstring path;
        LONG width, height;  // of the framed bitmap; 0: the picture stays as it was
    } cases[] = {
        {"600 x 800 cover", book_path(L"cafe-noir.mobi"), 120, 159},
        {"10 x 10 cover, scaled up",
         book_file(book_with_cover(banded_image(GUID_ContainerFormatPng, 10, 10, red, blue)),
                   L"ten.mobi"),
         120, 120},
        {"as wide as the box, not scaled",
         book_file(book_with_cover(banded_image(GUID_ContainerFormatPng, 118, 50, red, blue)),
                   L"wide.mobi"),
         120, 52},
        {"cover that does not decode",
         book_file(book_with_cover(mobi_test::image_bytes(mobi_test::JPEG_JFIF, 900)),
                   L"broken.mobi"),
         0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sheet sheet({book_path(L"no-cover.mobi"), c.path});
        const HBITMAP template_picture = sheet.picture();
        ASSERT_TRUE(template_picture);
        EXPECT_EQ(48, sheet.picture_size().cx);
        EXPECT_EQ(64, sheet.picture_size().cy);
        EXPECT_EQ(0x000000u, pixel_of(template_picture, 0, 0));    // the card's frame
        EXPECT_EQ(0xFFFFFFu, pixel_of(template_picture, 24, 10));  // the white card
        SetWindowPos(sheet.control(1020), nullptr, 0, 0, 120, 160, SWP_NOMOVE | SWP_NOZORDER);

        sheet.click_down();
        EXPECT_NE(L"no-cover.mobi", sheet.text(1000));
        if (c.width == 0) {
            EXPECT_EQ(template_picture, sheet.picture());
        } else {
            EXPECT_NE(template_picture, sheet.picture());
            EXPECT_EQ(c.width, sheet.picture_size().cx);
            EXPECT_EQ(c.height, sheet.picture_size().cy);
            EXPECT_EQ(0x000000u, pixel_of(sheet.picture(), 0, 0));
            EXPECT_EQ(0x000000u, pixel_of(sheet.picture(), c.width - 1, c.height - 1));
            EXPECT_NE(0x000000u, pixel_of(sheet.picture(), c.width / 2, c.height / 4));
        }
        sheet.click_up();
        EXPECT_EQ(template_picture, sheet.picture());
    }
}

TEST(PageLeaks, OpeningClosingAndSteppingLeaveTheGdiObjectCountFlat)
{
    const std::vector<std::wstring> three = {book_path(L"cafe-noir.mobi"),
                                             book_path(L"kf8-only.azw3"),
                                             book_path(L"no-cover.mobi")};
    { Sheet warm(three); warm.click_down(); }  // codecs, fonts, classes load once
    const DWORD before = gdi_objects();
    ASSERT_NE(0u, before);
    DWORD start = GetTickCount();
    for (int i = 0; i < 200; ++i) {
        Sheet sheet({three[0]});
        ASSERT_TRUE(sheet.page);
    }
    const DWORD after_sheets = gdi_objects();
    std::printf("200 sheets: %lu ms\n", GetTickCount() - start);
    start = GetTickCount();
    {
        Sheet sheet(three);
        for (int i = 0; i < 500; ++i)
            (i % 4 < 2) ? sheet.click_down() : sheet.click_up();
    }
    std::printf("500 steps: %lu ms\n", GetTickCount() - start);
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
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const HBITMAP capture = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HGDIOBJ old = SelectObject(memory, capture);
    EXPECT_TRUE(BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY));
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::vector<DWORD> pixels(static_cast<const DWORD*>(bits),
                              static_cast<const DWORD*>(bits) + std::size_t(width) * height);
    for (DWORD& pixel : pixels)
        pixel |= 0xFF000000u;

    const std::wstring folder = windows_path(QB_BINARY_DIR) + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + name + L".png";
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    const bool saved =
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&factory))) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
        SUCCEEDED(frame->Initialize(nullptr)) && SUCCEEDED(frame->SetSize(width, height)) &&
        SUCCEEDED(frame->SetPixelFormat(&format)) &&
        SUCCEEDED(frame->WritePixels(height, width * 4, UINT(pixels.size() * 4),
                                     reinterpret_cast<BYTE*>(pixels.data()))) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    EXPECT_TRUE(saved) << "screenshot " << testing::PrintToString(path);
    DeleteObject(capture);
    std::printf("screenshot %ls\n", path.c_str());
    std::sort(pixels.begin(), pixels.end());
    return std::size_t(std::unique(pixels.begin(), pixels.end()) - pixels.begin());
}

TEST(PageScreenshots, ValidBookInvalidFileAndSecondOfThree)
{
    ASSERT_TRUE(load_imaging_component());
    {
        Sheet sheet({book_path(L"cafe-noir.mobi")});
        // A cover and text: far more than the dialog's few flat colours.
        EXPECT_LT(100u, screenshot(sheet, L"page-valid-book-with-cover"));
    }
    {
        Sheet sheet({book_path(L"palmdoc.pdb")});
        EXPECT_LT(2u, screenshot(sheet, L"page-invalid-file"));
    }
    {
        Sheet sheet({book_path(L"wagahai.mobi"), book_path(L"personal.mobi"),
                     book_path(L"no-cover.mobi")});
        sheet.click_down();
        EXPECT_EQ(L"personal.mobi", sheet.text(1000));
        EXPECT_LT(100u, screenshot(sheet, L"page-second-of-three"));
    }
}

}  // namespace
