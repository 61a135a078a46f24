// Fitting a decoded picture: the decoder's own scaling where it offers one
// that keeps the picture sharp, then one conversion and one Fant scaling.
#include "imaging/fitted_picture.h"

#include <cstdint>

#include "imaging/source_transform.h"
#include "server/log.h"

using Microsoft::WRL::ComPtr;

namespace {

bool is_indexed(REFGUID format)
{
    return IsEqualGUID(format, GUID_WICPixelFormat1bppIndexed) ||
           IsEqualGUID(format, GUID_WICPixelFormat2bppIndexed) ||
           IsEqualGUID(format, GUID_WICPixelFormat4bppIndexed) ||
           IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed);
}

// The decoder's closest size to the smallest request it answers with a size
// not below fitted, asking for fitted and then twice as much each time while
// the answer falls short (a decoder may round down); false when no request
// short of the full size gets one.
bool closest_size_at_least(IWICBitmapSourceTransform* transform, UINT full_width,
                           UINT full_height, const PictureSize& fitted, UINT& width, UINT& height)
{
    // fitted is at least 1 a side and full below 2^32: at most 33 requests.
    for (std::uint64_t scale = 1;; scale *= 2) {
        const std::uint64_t want_width = fitted.width * scale, want_height = fitted.height * scale;
        if (want_width >= full_width || want_height >= full_height)
            return false;
        width = UINT(want_width), height = UINT(want_height);
        if (FAILED(transform->GetClosestSize(&width, &height)))
            return false;
        if (width >= fitted.width && height >= fitted.height)
            return true;
    }
}

// The decoder's own scaled decoding (IWICBitmapSourceTransform), where it
// offers it at a size below the full one and not below fitted (the surface
// never draws the picture larger, so it stays sharp). image becomes that
// smaller bitmap, in the decoder's closest format to 32-bit BGR; left as it
// is otherwise, for the single decode and scaling.
void decode_scaled(IWICImagingFactory* factory, UINT full_width, UINT full_height,
                   const PictureSize& fitted, ComPtr<IWICBitmapSource>& image)
{
    ComPtr<IWICBitmapSourceTransform> transform;
    if (FAILED(image.As(&transform)))
        return;
    UINT width = 0, height = 0;
    if (!closest_size_at_least(transform.Get(), full_width, full_height, fitted, width, height) ||
        width > full_width || height > full_height ||
        (width == full_width && height == full_height))
        return;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    BOOL supported = FALSE;
    if (FAILED(transform->GetClosestPixelFormat(&format)) ||
        FAILED(transform->DoesSupportTransform(WICBitmapTransformRotate0, &supported)) || !supported)
        return;
    ComPtr<IWICBitmap> bitmap;
    if (FAILED(factory->CreateBitmap(width, height, format, WICBitmapCacheOnLoad, &bitmap)))
        return;
    // Indexed pixels mean nothing without the frame's palette.
    if (is_indexed(format)) {
        ComPtr<IWICPalette> palette;
        if (FAILED(factory->CreatePalette(&palette)) || FAILED(image->CopyPalette(palette.Get())) ||
            FAILED(bitmap->SetPalette(palette.Get())))
            return;
    }
    const WICRect all = {0, 0, INT(width), INT(height)};
    ComPtr<IWICBitmapLock> lock;
    UINT stride = 0, size = 0;
    BYTE* pixels = nullptr;
    if (FAILED(bitmap->Lock(&all, WICBitmapLockWrite, &lock)) || FAILED(lock->GetStride(&stride)) ||
        FAILED(lock->GetDataPointer(&size, &pixels)) ||
        FAILED(transform->CopyPixels(nullptr, width, height, &format, WICBitmapTransformRotate0,
                                     stride, size, pixels)))
        return;
    lock.Reset();
    image = bitmap;
}

}  // namespace

HRESULT convert_to_bgr32(IWICImagingFactory* factory, ComPtr<IWICBitmapSource>& source)
{
    WICPixelFormatGUID format;
    ENSURE(source->GetPixelFormat(&format));
    if (IsEqualGUID(format, GUID_WICPixelFormat32bppBGR))
        return S_OK;
    ComPtr<IWICFormatConverter> converter;
    ENSURE(factory->CreateFormatConverter(&converter));
    ENSURE(converter->Initialize(source.Get(), GUID_WICPixelFormat32bppBGR,
                                 WICBitmapDitherTypeNone, nullptr, 0.0,
                                 WICBitmapPaletteTypeCustom));
    source = converter;
    return S_OK;
}

HRESULT fit_frame(IWICImagingFactory* factory, IWICBitmapSource* frame, UINT box_width,
                  UINT box_height, FitRule rule, ComPtr<IWICBitmapSource>& picture)
{
    picture.Reset();
    ENSURE_THAT(factory && frame, E_POINTER);
    ComPtr<IWICBitmapSource> image(frame);
    UINT width = 0, height = 0;
    ENSURE(image->GetSize(&width, &height));
    ENSURE_THAT(width != 0 && height != 0, E_FAIL);
    // The size drawn whatever the decoder gives: from the full size.
    const PictureSize fitted = fit_picture(width, height, box_width, box_height, rule);
    if (fitted.width != width || fitted.height != height) {
        decode_scaled(factory, width, height, fitted, image);
        ENSURE(image->GetSize(&width, &height));
    }
    // Else (or once more, from the decoder's size) one conversion, one scaling.
    RETURN_IF_FAILED(convert_to_bgr32(factory, image));
    if (fitted.width != width || fitted.height != height) {
        ComPtr<IWICBitmapScaler> scaler;
        ENSURE(factory->CreateBitmapScaler(&scaler));
        ENSURE(scaler->Initialize(image.Get(), fitted.width, fitted.height,
                                  WICBitmapInterpolationModeFant));
        image = scaler;
        RETURN_IF_FAILED(convert_to_bgr32(factory, image));
    }
    picture = image;
    return S_OK;
}
