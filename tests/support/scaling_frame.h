// A decoder's frame of the tests' own over a real bitmap, in the bitmap's
// pixel format, that offers the decoder's own scaling (IWICBitmapSourceTransform)
// to size / d for each d of divisors, rounding a request up, down or to the
// nearest of those sizes, and counts what it is asked.
#pragma once

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "preview/source_transform.h"

enum class Rounding { up, down, nearest };

class ScalingFrame final : public IWICBitmapSource, public IWICBitmapSourceTransform {
public:
    ScalingFrame(IWICImagingFactory* factory, IWICBitmap* picture, std::vector<UINT> divisors, Rounding rounding)
        : factory_(factory), picture_(picture), divisors_(std::move(divisors)), rounding_(rounding)
    {
        picture_->GetSize(&width_, &height_);
        picture_->GetPixelFormat(&format_);
        std::sort(divisors_.begin(), divisors_.end());
    }
    UINT full_copies = 0, scaled_copies = 0, asked_width = 0, asked_height = 0;
    ULONG references() const { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWICBitmapSource))
            *out = static_cast<IWICBitmapSource*>(this);
        else if (IsEqualIID(iid, __uuidof(IWICBitmapSourceTransform)))
            *out = static_cast<IWICBitmapSourceTransform*>(this);
        else
            return *out = nullptr, E_NOINTERFACE;
        return AddRef(), S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    // IWICBitmapSource: the whole picture, as the decoder decodes it.
    HRESULT STDMETHODCALLTYPE GetSize(UINT* w, UINT* h) override { return picture_->GetSize(w, h); }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* f) override { return picture_->GetPixelFormat(f); }
    HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override { return picture_->GetResolution(x, y); }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* p) override { return picture_->CopyPalette(p); }
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* r, UINT stride, UINT size, BYTE* to) override
    {
        return ++full_copies, picture_->CopyPixels(r, stride, size, to);
    }
    // IWICBitmapSourceTransform: its sizes and its own format only.
    HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* w, UINT* h) override
    {
        const auto side = [](UINT full, UINT d) { return (full + d - 1) / d; };
        const auto gap = [](UINT a, UINT b) { return a > b ? a - b : b - a; };
        UINT best = rounding_ == Rounding::down ? divisors_.back() : divisors_.front();
        for (const UINT d : divisors_) {  // the sizes from the largest down
            const UINT s = side(width_, d);
            if (rounding_ == Rounding::up && s >= *w)
                best = d;
            if (rounding_ == Rounding::down && s <= *w) {
                best = d;
                break;
            }
            if (rounding_ == Rounding::nearest && gap(s, *w) < gap(side(width_, best), *w))
                best = d;
        }
        *w = side(width_, best), *h = side(height_, best);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* f) override { return *f = format_, S_OK; }
    HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions t, BOOL* yes) override
    {
        return *yes = t == WICBitmapTransformRotate0, S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* r, UINT w, UINT h, WICPixelFormatGUID* f,
                                         WICBitmapTransformOptions t, UINT stride, UINT size, BYTE* to) override
    {
        UINT closest_w = w, closest_h = h;
        GetClosestSize(&closest_w, &closest_h);
        if (closest_w != w || closest_h != h || !IsEqualGUID(*f, format_) || t != WICBitmapTransformRotate0)
            return E_INVALIDARG;
        ++scaled_copies, asked_width = w, asked_height = h;
        Microsoft::WRL::ComPtr<IWICBitmapScaler> scaler;
        HRESULT hr = factory_->CreateBitmapScaler(&scaler);
        if (SUCCEEDED(hr))
            hr = scaler->Initialize(picture_.Get(), w, h, WICBitmapInterpolationModeNearestNeighbor);
        // In strips of rows: a decoder that scales never holds the picture
        // whole, and Wine's scaler reads all the source rows it is asked for.
        const WICRect all = {0, 0, INT(w), INT(h)}, want = r ? *r : all;
        for (INT top = 0; SUCCEEDED(hr) && top < want.Height; top += 8) {
            const WICRect strip = {want.X, want.Y + top, want.Width, std::min(8, want.Height - top)};
            const std::size_t at = std::size_t(top) * stride;
            hr = at < size ? scaler->CopyPixels(&strip, stride, UINT(size - at), to + at) : E_INVALIDARG;
        }
        return hr;
    }

private:
    ~ScalingFrame() = default;
    std::atomic<ULONG> references_{1};
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory_;
    Microsoft::WRL::ComPtr<IWICBitmap> picture_;
    std::vector<UINT> divisors_;
    Rounding rounding_;
    UINT width_ = 0, height_ = 0;
    WICPixelFormatGUID format_ = {};
};

// A picture of two bands, top over bottom (0x00RRGGBB), in format: 32-bit
// BGR, 8-bit indexed, or any the imaging component converts 32-bit BGR to.
inline Microsoft::WRL::ComPtr<IWICBitmap> banded_picture(IWICImagingFactory* factory, UINT width,
                                                         UINT height, REFGUID format, DWORD top, DWORD bottom)
{
    const bool indexed = IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed);
    Microsoft::WRL::ComPtr<IWICBitmap> bitmap, picture;
    Microsoft::WRL::ComPtr<IWICBitmapLock> lock;
    Microsoft::WRL::ComPtr<IWICPalette> palette;
    Microsoft::WRL::ComPtr<IWICFormatConverter> converter;
    const WICRect all = {0, 0, INT(width), INT(height)};
    UINT stride = 0, size = 0;
    BYTE* pixels = nullptr;
    if (FAILED(factory->CreateBitmap(width, height, indexed ? format : GUID_WICPixelFormat32bppBGR,
                                     WICBitmapCacheOnLoad, &bitmap)) ||
        FAILED(bitmap->Lock(&all, WICBitmapLockWrite, &lock)) || FAILED(lock->GetStride(&stride)) ||
        FAILED(lock->GetDataPointer(&size, &pixels)))
        return nullptr;
    for (UINT y = 0; y < height; ++y) {
        BYTE* row = pixels + std::size_t(y) * stride;
        for (UINT x = 0; x < width; ++x)
            if (indexed)
                row[x] = BYTE(y >= height / 2);
            else
                reinterpret_cast<DWORD*>(row)[x] = y < height / 2 ? top : bottom;
    }
    lock.Reset();
    WICColor colours[] = {0xFF000000 | top, 0xFF000000 | bottom};
    if (indexed && (FAILED(factory->CreatePalette(&palette)) ||
                    FAILED(palette->InitializeCustom(colours, 2)) || FAILED(bitmap->SetPalette(palette.Get()))))
        return nullptr;
    if (indexed || IsEqualGUID(format, GUID_WICPixelFormat32bppBGR))
        return bitmap;
    if (FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(bitmap.Get(), format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(factory->CreateBitmapFromSource(converter.Get(), WICBitmapCacheOnLoad, &picture)))
        return nullptr;
    return picture;
}
