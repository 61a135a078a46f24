// The preview's cover decode: the decoder's own scaling where it offers one
// that keeps the cover sharp, else one decode and one scaling.
#include "preview/cover_decode.h"

#include <shlobj.h>

#include "book/imaging.h"
#include "handler/thumbnail_fit.h"
#include "preview/preview_book.h"
#include "preview/source_transform.h"
#include "server/log.h"

using Microsoft::WRL::ComPtr;

namespace {

// The decoder's own scaled decoding (IWICBitmapSourceTransform), where it
// offers it, at its closest size to fitted: the picture never exists at its
// full size. image becomes that smaller bitmap; left as it is otherwise.
void decode_scaled(IWICImagingFactory* factory, const ThumbnailSize& fitted,
                   ComPtr<IWICBitmapSource>& image)
{
    ComPtr<IWICBitmapSourceTransform> transform;
    if (FAILED(image.As(&transform)))
        return;
    UINT width = fitted.width, height = fitted.height;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    BOOL supported = FALSE;
    if (FAILED(transform->GetClosestSize(&width, &height)) || width == 0 || height == 0 ||
        width > COVER_LIMIT * 2 || height > COVER_LIMIT * 2 ||
        FAILED(transform->GetClosestPixelFormat(&format)) ||
        FAILED(transform->DoesSupportTransform(WICBitmapTransformRotate0, &supported)) || !supported)
        return;
    ComPtr<IWICBitmap> bitmap;
    if (FAILED(factory->CreateBitmap(width, height, format, WICBitmapCacheOnLoad, &bitmap)))
        return;
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

HRESULT decode_cover(IWICImagingFactory* factory, IWICBitmapSource* frame, ComPtr<IWICBitmap>& cover)
{
    cover.Reset();
    ENSURE_THAT(factory && frame, E_POINTER);
    ComPtr<IWICBitmapSource> image(frame);
    UINT width = 0, height = 0;
    ENSURE(image->GetSize(&width, &height));
    ENSURE_THAT(width != 0 && height != 0, E_FAIL);
    ThumbnailSize fitted = fit_thumbnail(width, height, COVER_LIMIT, COVER_LIMIT, IEIFLAG_ORIGSIZE);
    if (fitted.width != width || fitted.height != height) {
        decode_scaled(factory, fitted, image);
        ENSURE(image->GetSize(&width, &height));
        fitted = fit_thumbnail(width, height, COVER_LIMIT, COVER_LIMIT, IEIFLAG_ORIGSIZE);
    }
    // Else (or once more, from the decoder's size) one decode, one scaling.
    RETURN_IF_FAILED(convert_to_bgr32(factory, image));
    if (fitted.width != width || fitted.height != height) {
        ComPtr<IWICBitmapScaler> scaler;
        ENSURE(factory->CreateBitmapScaler(&scaler));
        ENSURE(scaler->Initialize(image.Get(), fitted.width, fitted.height,
                                  WICBitmapInterpolationModeFant));
        image = scaler;
        RETURN_IF_FAILED(convert_to_bgr32(factory, image));
    }
    ENSURE(factory->CreateBitmapFromSource(image.Get(), WICBitmapCacheOnLoad, &cover));
    return S_OK;
}
