// Fitting a decoded cover through a decoder of the tests' own that scales by
// itself (tests/support/scaling_frame.h), as Wine's decoders never do: the
// decoder's scaling asked for, the picture never decoded whole, and what
// that spares a thumbnail of a very large cover.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "imaging/cover_bitmap.h"
#include "imaging/fitted_picture.h"
#include "tests/bench/private_bytes.h"
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

// The preview's bound on the cover it keeps.
constexpr UINT LIMIT = 1600;

TEST(FittedPicture, TheDecodersScalingIsAskedNoSmallerThanTheFittedSizeOnlyToShrinkAndGivesBgr32)
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
        ComPtr<IWICBitmapSource> chain;
        ComPtr<IWICBitmap> cover;
        EXPECT_EQ(S_OK, fit_frame(factory.Get(), frame, LIMIT, LIMIT, FitRule::shrink, chain));
        if (chain) {
            EXPECT_EQ(S_OK, factory->CreateBitmapFromSource(chain.Get(), WICBitmapCacheOnLoad, &cover));
        }
        chain.Reset();
        EXPECT_EQ(frame->references(), 1u);
        EXPECT_EQ(frame->scaled_copies, c.asked_width ? 1u : 0u);
        EXPECT_EQ(frame->asked_width, c.asked_width);
        const PictureSize fitted = fit_picture(c.width, c.height, LIMIT, LIMIT, FitRule::shrink);
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

TEST(FittedPicture, AThumbnailOfA6000By9000CoverCostsAtMost64MegabytesThroughAScalingDecoder)
{
    ASSERT_TRUE(load_imaging_component());
    ComPtr<IWICImagingFactory> factory;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&factory)));
    // The decoder holds the picture (as a file's bytes would be), outside the figure.
    const ComPtr<IWICBitmap> picture =
        banded_picture(factory.Get(), 6000, 9000, GUID_WICPixelFormat24bppBGR, 0x2860C8, 0xC8A028);
    ASSERT_TRUE(picture);
    auto* frame = new ScalingFrame(factory.Get(), picture.Get(), {1, 2, 4, 8}, Rounding::up);
    const ComPtr<IWICBitmapSource> held(frame);
    frame->Release();  // held has it
    HBITMAP bitmap = nullptr;
    HRESULT hr = E_FAIL;
    const SIZE_T before = private_kb();
    // The thumbnail's road from the decoder's frame on, as GetThumbnail(256) takes it.
    const SIZE_T peak = peak_kb_during(
        [&] { hr = framed_picture(factory.Get(), frame, 256, 256, FitRule::shrink, Frame{0, 0}, &bitmap); });
    const double megabytes = double(peak > before ? peak - before : 0) / 1024.0;
    std::printf("thumbnail of a 6000 x 9000 cover through a scaling decoder: %.1f MB at the peak\n", megabytes);
    ASSERT_EQ(S_OK, hr);
    BITMAP shape = {};
    GetObjectW(bitmap, sizeof(shape), &shape);
    DeleteObject(bitmap);
    EXPECT_EQ(171, shape.bmWidth);
    EXPECT_EQ(256, shape.bmHeight);
    EXPECT_EQ(0u, frame->full_copies);
    EXPECT_EQ(1u, frame->scaled_copies);
    EXPECT_EQ(750u, frame->asked_width);  // 1/8, the smallest not below 171 x 256
    EXPECT_LE(megabytes, 64.0);
}
