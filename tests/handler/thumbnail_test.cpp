// Thumbnails through IThumbnailProvider and IExtractImage: the fitted sizes,
// the bitmap's form and colours, GetLocation's flags and path buffer, the
// hand-over of the bitmap, and no GDI objects or handles left behind.
#include <gtest/gtest.h>

#include <shobjidl.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tests/handler/handler_test_support.h"
#include "tests/support/process_counts.h"
#include "tests/support/propsys_stand_in.h"

using namespace handler_test;

namespace {

class Thumbnails : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_options();
        use_propsys_variant("full");
    }
    void TearDown() override { clear_options(); }
};

TEST_F(Thumbnails, FixtureCoversAreFittedIntoTopDown32BitBitmaps)
{
    struct Case {
        const wchar_t* file;
        LONG width;
        LONG height;
    };
    const Case cases[] = {{L"cafe-noir.mobi", 192, 256},
                          {L"small-cover.mobi", 100, 50},
                          {L"wagahai.mobi", 256, 154},
                          {L"kf8-only.azw3", 171, 256}};
    for (const Case& c : cases) {
        ComPtr<IThumbnailProvider> provider = 
            handler_on<IThumbnailProvider>(file_stream(book_path(c.file)).Get());
        ASSERT_TRUE(provider);
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_ARGB;
        ASSERT_EQ(S_OK, provider->GetThumbnail(256, &bitmap, &alpha)) << c.file;
        EXPECT_EQ(WTSAT_RGB, alpha);
        const DibShape shape = dib_shape(bitmap);
        EXPECT_TRUE(shape.is_dib) << c.file;
        EXPECT_EQ(c.width, shape.width) << c.file;
        // Top-down (negative) on Windows; Wine reports the height unsigned.
        EXPECT_EQ(c.height, std::abs(shape.height)) << c.file;
        EXPECT_EQ(32, shape.bits) << c.file;
        provider.Reset();
        EXPECT_EQ(OBJ_BITMAP, DWORD(GetObjectType(bitmap)));  // the caller's now
        EXPECT_TRUE(DeleteObject(bitmap));
    }
}

TEST_F(Thumbnails, CoverColoursSurviveAndTheTopRowComesFirst)
{
    const Bgr orange = {0x30, 0x80, 0xC0};
    const Bgr teal = {0x90, 0x70, 0x10};
    struct Case {
        Bgr top;
        Bgr bottom;
    };
    for (const Case& c : {Case{orange, orange}, Case{orange, teal}}) {
        // The imaging component loads once the module has bound the property system.
        ComPtr<IThumbnailProvider> provider = qb_create<IThumbnailProvider>();
        const mobi_test::Bytes png = banded_image(GUID_ContainerFormatPng, 64, 48, c.top, c.bottom);
        ASSERT_FALSE(png.empty());
        ComPtr<IStream> stream = memory_stream(book_with_cover(png));
        ComPtr<IInitializeWithStream> init;
        ASSERT_EQ(S_OK, provider.As(&init));
        ASSERT_EQ(S_OK, init->Initialize(stream.Get(), STGM_READ));

        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        ASSERT_EQ(S_OK, provider->GetThumbnail(32, &bitmap, &alpha));
        DIBSECTION section = {};
        ASSERT_EQ(int(sizeof(section)), GetObjectW(bitmap, sizeof(section), &section));
        ASSERT_EQ(32, section.dsBmih.biWidth);
        ASSERT_EQ(24, std::abs(section.dsBmih.biHeight));
        ASSERT_EQ(32 * 4, section.dsBm.bmWidthBytes);
        // Rows in memory order; the two rows at the seam may blend.
        const BYTE* pixels = static_cast<const BYTE*>(section.dsBm.bmBits);
        int worst = 0;
        for (int row = 0; row < 24; ++row) {
            if (row == 11 || row == 12)
                continue;
            const Bgr expected = row < 12 ? c.top : c.bottom;
            for (int x = 0; x < 32; ++x) {
                const BYTE* pixel = pixels + (row * 32 + x) * 4;
                worst = std::max({worst, std::abs(pixel[0] - expected.blue),
                                  std::abs(pixel[1] - expected.green),
                                  std::abs(pixel[2] - expected.red)});
            }
        }
        EXPECT_LE(worst, 3);
        DeleteObject(bitmap);
    }
}

TEST_F(Thumbnails, GetLocationStretchesUnlessScreenOrOriginalSizeIsAsked)
{
    struct Case {
        DWORD flags;
        LONG width;
        LONG height;
    };
    const Case cases[] = {{0, 100, 100}, {IEIFLAG_ASPECT, 100, 100}, {IEIFLAG_SCREEN, 75, 100}};
    ComPtr<IExtractImage> extract = handler_on<IExtractImage>(book_path(L"cafe-noir.mobi"));
    ASSERT_TRUE(extract);
    for (const Case& c : cases) {
        DWORD flags = c.flags;
        const SIZE size = {100, 100};
        ASSERT_EQ(S_OK, extract->GetLocation(nullptr, 0, nullptr, &size, 32, &flags));
        EXPECT_EQ(c.flags | IEIFLAG_REFRESH, flags);
        HBITMAP bitmap = nullptr;
        ASSERT_EQ(S_OK, extract->Extract(&bitmap));
        const DibShape shape = dib_shape(bitmap);
        EXPECT_EQ(c.width, shape.width) << c.flags;
        EXPECT_EQ(c.height, std::abs(shape.height)) << c.flags;
        DeleteObject(bitmap);
    }
}

TEST_F(Thumbnails, PathBufferMustHoldThePathAndItsNull)
{
    const std::wstring path = book_path(L"cafe-noir.mobi");
    ComPtr<IExtractImage> extract = handler_on<IExtractImage>(path);
    ASSERT_TRUE(extract);
    std::vector<wchar_t> buffer(path.size() + 1, L'#');
    DWORD priority = 5;
    DWORD flags = IEIFLAG_ORIGSIZE | IEIFLAG_OFFLINE;
    const SIZE size = {64, 64};

    EXPECT_EQ(E_OUTOFMEMORY, extract->GetLocation(buffer.data(), DWORD(path.size()), &priority,
                                                  &size, 32, &flags));
    EXPECT_EQ(5u, priority);
    EXPECT_EQ(DWORD(IEIFLAG_ORIGSIZE | IEIFLAG_OFFLINE), flags);
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    EXPECT_EQ(E_NOTIMPL, extract->Extract(&bitmap));
    EXPECT_EQ(nullptr, bitmap);

    EXPECT_EQ(S_OK, extract->GetLocation(buffer.data(), DWORD(path.size() + 1), &priority, &size,
                                         32, &flags));
    EXPECT_EQ(path, std::wstring(buffer.data()));
    EXPECT_EQ(DWORD(IEIT_PRIORITY_NORMAL), priority);
    EXPECT_EQ(DWORD(IEIFLAG_ORIGSIZE | IEIFLAG_OFFLINE | IEIFLAG_REFRESH), flags);
    ASSERT_EQ(S_OK, extract->Extract(&bitmap));
    EXPECT_EQ(48, dib_shape(bitmap).width);
    DeleteObject(bitmap);
}

TEST_F(Thumbnails, ExtractHandsOverOnce)
{
    ComPtr<IExtractImage> extract = handler_on<IExtractImage>(book_path(L"small-cover.mobi"));
    ASSERT_TRUE(extract);
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    EXPECT_EQ(E_NOTIMPL, extract->Extract(&bitmap));  // nothing made yet
    EXPECT_EQ(nullptr, bitmap);

    DWORD flags = IEIFLAG_ORIGSIZE;
    const SIZE size = {256, 256};
    ASSERT_EQ(S_OK, extract->GetLocation(nullptr, 0, nullptr, &size, 32, &flags));
    ASSERT_EQ(S_OK, extract->Extract(&bitmap));
    ASSERT_NE(nullptr, bitmap);
    HBITMAP second = reinterpret_cast<HBITMAP>(1);
    EXPECT_EQ(E_NOTIMPL, extract->Extract(&second));
    EXPECT_EQ(nullptr, second);
    extract.Reset();
    EXPECT_EQ(OBJ_BITMAP, DWORD(GetObjectType(bitmap)));
    DeleteObject(bitmap);
}

TEST_F(Thumbnails, NoCoverOrNoBookGivesNoThumbnail)
{
    for (const wchar_t* file : {L"no-cover.mobi", L"palmdoc.pdb"}) {
        ComPtr<IThumbnailProvider> provider = 
            handler_on<IThumbnailProvider>(file_stream(book_path(file)).Get());
        ASSERT_TRUE(provider);
        HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
        WTS_ALPHATYPE alpha = WTSAT_RGB;
        EXPECT_EQ(E_NOTIMPL, provider->GetThumbnail(256, &bitmap, &alpha)) << file;
        EXPECT_EQ(nullptr, bitmap);
        EXPECT_EQ(WTSAT_UNKNOWN, alpha);

        ComPtr<IExtractImage> extract;
        ASSERT_EQ(S_OK, provider.As(&extract));
        DWORD priority = 5;
        DWORD flags = IEIFLAG_ORIGSIZE;
        wchar_t path[8] = L"keep";
        const SIZE size = {256, 256};
        EXPECT_EQ(S_OK, extract->GetLocation(path, 8, &priority, &size, 32, &flags)) << file;
        EXPECT_EQ(5u, priority);
        EXPECT_EQ(DWORD(IEIFLAG_ORIGSIZE), flags);
        EXPECT_EQ(std::wstring(L"keep"), path);
    }
}

TEST_F(Thumbnails, UninitialisedHandlerFails)
{
    ComPtr<IThumbnailProvider> provider = qb_create<IThumbnailProvider>();
    ASSERT_TRUE(provider);
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    WTS_ALPHATYPE alpha = WTSAT_RGB;
    EXPECT_EQ(E_FAIL, provider->GetThumbnail(256, &bitmap, &alpha));
    EXPECT_EQ(nullptr, bitmap);
    EXPECT_EQ(WTSAT_UNKNOWN, alpha);
    EXPECT_EQ(E_POINTER, provider->GetThumbnail(256, nullptr, &alpha));

    ComPtr<IExtractImage> extract;
    ASSERT_EQ(S_OK, provider.As(&extract));
    DWORD flags = 0;
    const SIZE size = {256, 256};
    EXPECT_EQ(E_FAIL, extract->GetLocation(nullptr, 0, nullptr, &size, 32, &flags));
    EXPECT_EQ(E_POINTER, extract->GetLocation(nullptr, 0, nullptr, nullptr, 32, &flags));
    EXPECT_EQ(E_POINTER, extract->GetLocation(nullptr, 0, nullptr, &size, 32, nullptr));
    EXPECT_EQ(E_POINTER, extract->Extract(nullptr));
}

TEST_F(Thumbnails, UseMobiThumbnailTakesTheThumbnailImage)
{
    set_option_dword(L"UseMobiThumbnail", 1);
    ComPtr<IThumbnailProvider> provider = 
        handler_on<IThumbnailProvider>(file_stream(book_path(L"cafe-noir.mobi")).Get());
    ASSERT_TRUE(provider);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    ASSERT_EQ(S_OK, provider->GetThumbnail(256, &bitmap, &alpha));
    const DibShape shape = dib_shape(bitmap);
    EXPECT_EQ(180, shape.width);
    EXPECT_EQ(240, std::abs(shape.height));
    DeleteObject(bitmap);
}

TEST_F(Thumbnails, UnclaimedBitmapsAreDeleted)
{
    ComPtr<IExtractImage> warm = handler_on<IExtractImage>(book_path(L"small-cover.mobi"));
    DWORD flags = IEIFLAG_ORIGSIZE;
    const SIZE size = {64, 64};
    ASSERT_EQ(S_OK, warm->GetLocation(nullptr, 0, nullptr, &size, 32, &flags));
    warm.Reset();  // never extracted: the handler deletes it
    const DWORD before = gdi_objects();

    ComPtr<IExtractImage> extract = handler_on<IExtractImage>(book_path(L"small-cover.mobi"));
    ASSERT_EQ(S_OK, extract->GetLocation(nullptr, 0, nullptr, &size, 32, &flags));
    ASSERT_EQ(S_OK, extract->GetLocation(nullptr, 0, nullptr, &size, 32, &flags));
    HBITMAP bitmap = nullptr;
    ASSERT_EQ(S_OK, extract->Extract(&bitmap));
    EXPECT_EQ(before + 1, gdi_objects());
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_EQ(before, gdi_objects());

    ASSERT_EQ(S_OK, extract->GetLocation(nullptr, 0, nullptr, &size, 32, &flags));
    EXPECT_EQ(before + 1, gdi_objects());
    extract.Reset();
    EXPECT_EQ(before, gdi_objects());
}

TEST_F(Thumbnails, ThousandThumbnailsLeaveNothingBehind)
{
    const std::wstring path = book_path(L"cafe-noir.mobi");
    auto cycle = [&] {
        ComPtr<IThumbnailProvider> provider = 
            handler_on<IThumbnailProvider>(file_stream(path).Get());
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        const HRESULT hr = provider->GetThumbnail(256, &bitmap, &alpha);
        const bool deleted = bitmap && DeleteObject(bitmap) && GetObjectType(bitmap) == 0;
        return hr == S_OK && deleted;
    };
    ASSERT_TRUE(cycle());  // the imaging component loads its codecs once
    const DWORD gdi_before = gdi_objects();
    const DWORD handles_before = handles();

    int failures = 0;
    for (int i = 0; i < 1000; ++i)
        failures += !cycle();
    EXPECT_EQ(0, failures);
    EXPECT_NE(0u, gdi_before);
    EXPECT_NE(0u, handles_before);
    EXPECT_EQ(gdi_before, gdi_objects());
    EXPECT_EQ(handles_before, handles());
    EXPECT_EQ(S_OK, qb_module().DllCanUnloadNow());  // no handler or book alive
    std::printf("GDI objects %lu -> %lu, handles %lu -> %lu\n", gdi_before, gdi_objects(),
                handles_before, handles());
}

}  // namespace
