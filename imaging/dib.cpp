#include "imaging/dib.h"

#include <climits>
#include <cstddef>
#include <cstdint>

#include "server/last_error.h"
#include "server/unique_handle.h"
#include "server/log.h"

HRESULT make_dib(IWICBitmapSource* picture, Frame frame, HBITMAP* out)
{
    ENSURE_THAT(picture && out, E_POINTER);
    UINT width = 0, height = 0;
    ENSURE(picture->GetSize(&width, &height));
    // The DIB's header holds the sides as LONG and CopyPixels takes the
    // stride and the buffer size as UINT.
    const std::uint64_t framed_width = std::uint64_t(width) + 2 * std::uint64_t(frame.width);
    const std::uint64_t framed_height = std::uint64_t(height) + 2 * std::uint64_t(frame.width);
    const std::uint64_t stride = framed_width * 4;
    const std::uint64_t bytes = stride * framed_height;
    ENSURE_THAT(framed_width <= LONG_MAX && framed_height <= LONG_MAX && bytes <= UINT_MAX,
                E_OUTOFMEMORY);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = LONG(framed_width);
    info.bmiHeader.biHeight = -LONG(framed_height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP created = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    // The call allocates; it can fail without setting a last error.
    const HRESULT made = created && bits ? S_OK : last_error_or(E_OUTOFMEMORY);
    UniqueBitmap bitmap(created);
    ENSURE(made);

    // The frame: every pixel in its colour, then the picture copied in from
    // row frame.width, column frame.width.
    auto* pixels = static_cast<UINT32*>(bits);
    const std::size_t count = std::size_t(bytes / 4);
    if (frame.width != 0)
        for (std::size_t i = 0; i < count; ++i)
            pixels[i] = frame.colour;
    const std::size_t first = std::size_t(framed_width) * frame.width + frame.width;
    ENSURE(picture->CopyPixels(nullptr, UINT(stride), UINT((count - first) * 4),
                               reinterpret_cast<BYTE*>(pixels + first)));
    *out = bitmap.release();
    return S_OK;
}
