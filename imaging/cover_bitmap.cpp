#include "imaging/cover_bitmap.h"

#include "book/mobi_book.h"
#include "imaging/fitted_picture.h"
#include "server/log.h"

using Microsoft::WRL::ComPtr;

HRESULT framed_picture(IWICImagingFactory* factory, IWICBitmapSource* picture, UINT box_width,
                       UINT box_height, FitRule rule, Frame frame, HBITMAP* out)
{
    const UINT64 sides = 2 * UINT64(frame.width);
    ENSURE_THAT(box_width > sides && box_height > sides, E_INVALIDARG);
    ComPtr<IWICBitmapSource> fitted;
    RETURN_IF_FAILED(fit_frame(factory, picture, box_width - 2 * frame.width,
                               box_height - 2 * frame.width, rule, fitted));
    return make_dib(fitted.Get(), frame, out);
}

HRESULT cover_bitmap(MobiBook& book, UINT box_width, UINT box_height, FitRule rule, Frame frame,
                     HBITMAP* out)
{
    // Making a factory costs as much as decoding a small cover: one serves all.
    ComPtr<IWICImagingFactory> factory;
    ENSURE(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_PPV_ARGS(&factory)));
    ComPtr<IWICBitmapSource> frame_zero;
    RETURN_IF_FAILED(book.get_cover_image(&frame_zero, factory.Get()));
    return framed_picture(factory.Get(), frame_zero.Get(), box_width, box_height, rule, frame, out);
}

HRESULT decode_cover(IWICImagingFactory* factory, MobiBook& book, UINT box_width, UINT box_height,
                     FitRule rule, ComPtr<IWICBitmap>& cover)
{
    cover.Reset();
    ComPtr<IWICBitmapSource> frame_zero, fitted;
    RETURN_IF_FAILED(book.get_cover_image(&frame_zero, factory));
    RETURN_IF_FAILED(fit_frame(factory, frame_zero.Get(), box_width, box_height, rule, fitted));
    ENSURE(factory->CreateBitmapFromSource(fitted.Get(), WICBitmapCacheOnLoad, &cover));
    return S_OK;
}
