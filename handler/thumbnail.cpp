// Thumbnails: GetLocation decodes the first book's cover, fits it into the
// requested box and keeps it as a top-down 32-bit DIB section until Extract
// or GetThumbnail hands it over.
#include "handler/quirebinder.h"

#include <wincodec.h>

#include <climits>
#include <cstdint>

#include "book/imaging.h"
#include "book/mobi_book.h"
#include "handler/thumbnail_fit.h"
#include "server/com_boundary.h"
#include "server/last_error.h"
#include "server/log.h"

using Microsoft::WRL::ComPtr;

namespace {

// Owns a GDI bitmap until it is handed on.
class BitmapHolder {
public:
    explicit BitmapHolder(HBITMAP bitmap) : bitmap_(bitmap) {}
    ~BitmapHolder()
    {
        if (bitmap_)
            DeleteObject(bitmap_);
    }
    BitmapHolder(const BitmapHolder&) = delete;
    BitmapHolder& operator=(const BitmapHolder&) = delete;

    HBITMAP release()
    {
        HBITMAP bitmap = bitmap_;
        bitmap_ = nullptr;
        return bitmap;
    }

private:
    HBITMAP bitmap_;
};

// Decodes the book's cover, fits it into box by flags and copies it into a
// new top-down 32-bit DIB section. Every failure is logged once, where it
// happens.
HRESULT make_thumbnail(MobiBook& book, const SIZE& box, DWORD flags, HBITMAP* out)
{
    ENSURE_THAT(box.cx > 0 && box.cy > 0, E_INVALIDARG);

    // One imaging factory serves the decoding and the scaling.
    ComPtr<IWICImagingFactory> factory;
    ENSURE(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_PPV_ARGS(&factory)));
    ComPtr<IWICBitmapSource> source;
    RETURN_IF_FAILED(book.get_cover_image(&source, factory.Get()));
    RETURN_IF_FAILED(convert_to_bgr32(factory.Get(), source));

    UINT width = 0;
    UINT height = 0;
    ENSURE(source->GetSize(&width, &height));
    ENSURE_THAT(width != 0 && height != 0, E_FAIL);

    const ThumbnailSize target =
        fit_thumbnail(width, height, UINT(box.cx), UINT(box.cy), flags);
    if (target.width != width || target.height != height) {
        ComPtr<IWICBitmapScaler> scaler;
        ENSURE(factory->CreateBitmapScaler(&scaler));
        ENSURE(scaler->Initialize(source.Get(), target.width, target.height,
                                  WICBitmapInterpolationModeFant));
        source = scaler;
        width = target.width;
        height = target.height;
    }
    RETURN_IF_FAILED(convert_to_bgr32(factory.Get(), source));

    // The DIB's header holds the sides as LONG and CopyPixels takes the
    // stride and the buffer size as UINT.
    const std::uint64_t stride = std::uint64_t(width) * 4;
    const std::uint64_t bytes = stride * height;
    ENSURE_THAT(width <= LONG_MAX && height <= LONG_MAX && bytes <= UINT_MAX, E_OUTOFMEMORY);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = LONG(width);
    info.bmiHeader.biHeight = -LONG(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    void* pixels = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP created = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    ReleaseDC(nullptr, screen);
    // The call allocates; it can fail without setting a last error.
    const HRESULT made = created && pixels ? S_OK : last_error_or(E_OUTOFMEMORY);
    BitmapHolder bitmap(created);
    ENSURE(made);
    ENSURE(source->CopyPixels(nullptr, UINT(stride), UINT(bytes), static_cast<BYTE*>(pixels)));
    *out = bitmap.release();
    return S_OK;
}

}  // namespace

STDMETHODIMP Quirebinder::GetLocation(LPWSTR path, DWORD path_size, DWORD* priority,
                                      const SIZE* size, DWORD, DWORD* flags)
{
    trace_object(serial(), "GetLocation");
    if (!size || !flags)
        return E_POINTER;
    return guard_boundary(E_UNEXPECTED, [&] {
        ENSURE_THAT(!books.empty(), E_FAIL);
        if (extracted_bitmap) {
            DeleteObject(extracted_bitmap);
            extracted_bitmap = nullptr;
        }
        MobiBook& book = *books[0];
        if (!book.is_valid() || book.cover_size == 0)
            return S_OK;
        if (path) {
            ENSURE_THAT(book.file_path.size() < path_size, E_OUTOFMEMORY);
            book.file_path.copy(path, book.file_path.size());
            path[book.file_path.size()] = L'\0';
        }
        if (priority)
            *priority = IEIT_PRIORITY_NORMAL;
        *flags |= IEIFLAG_REFRESH;
        return make_thumbnail(book, *size, *flags, &extracted_bitmap);
    });
}

STDMETHODIMP Quirebinder::Extract(HBITMAP* bitmap)
{
    trace_object(serial(), "Extract");
    if (!bitmap)
        return E_POINTER;
    *bitmap = extracted_bitmap;
    if (!extracted_bitmap)
        return E_NOTIMPL;
    extracted_bitmap = nullptr;
    return S_OK;
}

STDMETHODIMP Quirebinder::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha)
{
    trace_object(serial(), "GetThumbnail");
    if (!bitmap || !alpha)
        return E_POINTER;
    *alpha = WTSAT_UNKNOWN;
    *bitmap = nullptr;
    // A side above LONG_MAX is no size at all; GetLocation refuses it.
    const LONG side = cx > LONG_MAX ? 0 : LONG(cx);
    const SIZE box = {side, side};
    DWORD flags = IEIFLAG_ORIGSIZE | IEIFLAG_QUALITY;
    IExtractImage* extract = this;
    // GetLocation logs the step that failed.
    RETURN_IF_FAILED(extract->GetLocation(nullptr, 0, nullptr, &box, 0, &flags));
    if (!extracted_bitmap)
        return E_NOTIMPL;
    *bitmap = extracted_bitmap;
    extracted_bitmap = nullptr;
    *alpha = WTSAT_RGB;
    return S_OK;
}
