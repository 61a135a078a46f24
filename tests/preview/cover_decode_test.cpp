// The preview's cover decode through a decoder of the tests' own that scales
// by itself (tests/support/scaling_frame.h), as Wine's decoders never do.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "book/imaging.h"
#include "handler/thumbnail_fit.h"
#include "preview/cover_decode.h"
#include "preview/preview_book.h"
#include "tests/support/propsys_stand_in.h"
#include "tests/support/scaling_frame.h"

using Microsoft::WRL::ComPtr;

namespace {

// Pixel (x, y) of source in 32-bit BGR, as 0x00RRGGBB.
DWORD pixel_at(IWICImagingFactory* factory, IWICBitmapSource* source, UINT x, UINT y)
{
    ComPtr<IWICBitmapSource> bgr(source);
    DWORD pixel = 0xFFFFFFFF;
    const WICRect one = {INT(x), INT(y), 1, 1};
    if (SUCCEEDED(convert_to_bgr32(factory, bgr)))
        bgr->CopyPixels(&one, 4, 4, reinterpret_cast<BYTE*>(&pixel));
    return pixel & 0xFFFFFF;
}

}  // namespace

TEST(PreviewCover, TheDecodersScalingIsAskedNoSmallerThanTheCoverOnlyToShrinkAndGivesBgr32)
{
    ASSERT_TRUE(load_imaging_component());
    ComPtr<IWICImagingFactory> factory;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&factory)));
    struct Case {
        const char* what;
        UINT width, height;
        std::vector<UINT> divisors;
        Rounding rounding;
        GUID format;
        UINT asked_width;  // of the decoder's scaling; 0: not asked
    };
    const Case cases[] = {
        {"1/2 to 1/8, rounding up", 2400, 3600, {1, 2, 4, 8}, Rounding::up, GUID_WICPixelFormat24bppBGR, 1200},
        {"rounding down", 3200, 4800, {1, 2, 4, 8}, Rounding::down, GUID_WICPixelFormat24bppBGR, 1600},
        {"to the nearest, grey", 3200, 4800, {1, 2, 4, 8}, Rounding::nearest, GUID_WICPixelFormat8bppGray, 1600},
        {"BGRA", 2400, 3600, {1, 2, 4, 8}, Rounding::up, GUID_WICPixelFormat32bppBGRA, 1200},
        {"indexed", 2400, 3600, {1, 2, 4, 8}, Rounding::down, GUID_WICPixelFormat8bppIndexed, 1200},
        {"its only smaller size too small", 2000, 3000, {1, 2}, Rounding::nearest, GUID_WICPixelFormat24bppBGR, 0},
        {"not shrinking", 2000, 3000, {1}, Rounding::nearest, GUID_WICPixelFormat24bppBGR, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ComPtr<IWICBitmap> picture =
            banded_picture(factory.Get(), c.width, c.height, c.format, 0x2860C8, 0xC8A028);
        ASSERT_TRUE(picture);
        auto* frame = new ScalingFrame(factory.Get(), picture.Get(), c.divisors, c.rounding);
        const ComPtr<IWICBitmapSource> held(frame);
        frame->Release();  // held has it
        ComPtr<IWICBitmap> cover;
        EXPECT_EQ(S_OK, decode_cover(factory.Get(), frame, cover));
        EXPECT_EQ(frame->references(), 1u);
        EXPECT_EQ(frame->scaled_copies, c.asked_width ? 1u : 0u);
        EXPECT_EQ(frame->asked_width, c.asked_width);
        const ThumbnailSize fitted = fit_thumbnail(c.width, c.height, COVER_LIMIT, COVER_LIMIT, IEIFLAG_ORIGSIZE);
        EXPECT_TRUE(!c.asked_width || (frame->asked_height >= fitted.height && frame->full_copies == 0))
            << "asked for " << frame->asked_height << " rows of " << fitted.height << ", decoded whole "
            << frame->full_copies << " times";
        UINT width = 0, height = 0;
        WICPixelFormatGUID format = {};
        if (!cover || FAILED(cover->GetSize(&width, &height)) || FAILED(cover->GetPixelFormat(&format))) {
            ADD_FAILURE() << "no cover";
            continue;
        }
        EXPECT_TRUE(IsEqualGUID(format, GUID_WICPixelFormat32bppBGR) || IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA));
        EXPECT_EQ(width, fitted.width);
        EXPECT_EQ(height, fitted.height);
        for (const UINT quarter : {1u, 3u})
            EXPECT_EQ(pixel_at(factory.Get(), cover.Get(), width / 2, height * quarter / 4),
                      pixel_at(factory.Get(), picture.Get(), c.width / 2, c.height * quarter / 4));
    }
}
