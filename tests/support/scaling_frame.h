// A decoder's frame of the tests' own over a real bitmap, that offers the
// decoder's own scaling (IWICBitmapSourceTransform) to size / d for each d of
// divisors, in the bitmap's format only, rounding a request up, down or to
// the nearest of those sizes; and a two-band picture to put in it.
#pragma once

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "imaging/source_transform.h"

enum class Rounding { up, down, nearest };

class ScalingFrame final : public IWICBitmapSource, public IWICBitmapSourceTransform {
public:
    ScalingFrame(IWICImagingFactory* factory, IWICBitmap* picture, std::vector<UINT> divisors, Rounding rounding)
        : factory_(factory), picture_(picture), divisors_(std::move(divisors)), rounding_(rounding)
    {
        picture_->GetSize(&width_, &height_), picture_->GetPixelFormat(&format_);
        std::sort(divisors_.begin(), divisors_.end());  // the sizes from the largest down
    }
    UINT full_copies = 0, scaled_copies = 0, asked_width = 0, asked_height = 0;
    ULONG references() const { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWICBitmapSource) ? static_cast<IWICBitmapSource*>(this)
               : IsEqualIID(iid, __uuidof(IWICBitmapSourceTransform)) ? static_cast<void*>(static_cast<IWICBitmapSourceTransform*>(this))
                                                                       : nullptr;
        return *out ? AddRef(), S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        return left ? left : (delete this, 0);
    }
    HRESULT STDMETHODCALLTYPE GetSize(UINT* w, UINT* h) override { return picture_->GetSize(w, h); }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* f) override { return picture_->GetPixelFormat(f); }
    HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override { return picture_->GetResolution(x, y); }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* p) override { return picture_->CopyPalette(p); }
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* r, UINT stride, UINT size, BYTE* to) override
    {
        return ++full_copies, picture_->CopyPixels(r, stride, size, to);
    }
    HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* w, UINT* h) override
    {
        const auto side = [](UINT full, UINT d) { return (full + d - 1) / d; };
        const auto gap = [](UINT a, UINT b) { return a > b ? a - b : b - a; };
        UINT best = rounding_ == Rounding::down ? divisors_.back() : divisors_.front();
        for (const UINT d : divisors_) {
            const UINT s = side(width_, d);
            if ((rounding_ == Rounding::up && s >= *w) ||
                (rounding_ == Rounding::nearest && gap(s, *w) < gap(side(width_, best), *w)))
                best = d;
            if (rounding_ == Rounding::down && s <= *w) {
                best = d;
                break;
            }
        }
        return *w = side(width_, best), *h = side(height_, best), S_OK;
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

// Two bands, top over bottom (0x00RRGGBB), in format: 8-bit indexed, or any
// the imaging component converts 32-bit BGR to.
inline Microsoft::WRL::ComPtr<IWICBitmap> banded_picture(IWICImagingFactory* factory, UINT width,
                                                         UINT height, REFGUID format, DWORD top, DWORD bottom)
{
    const bool indexed = IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed);
    const UINT stride = indexed ? width : width * 4;
    std::vector<BYTE> pixels(std::size_t(stride) * height);
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x)
            indexed ? void(pixels[y * stride + x] = y >= height / 2)
                    : void(reinterpret_cast<DWORD*>(&pixels[y * stride])[x] = y < height / 2 ? top : bottom);
    Microsoft::WRL::ComPtr<IWICBitmap> bitmap, picture;
    Microsoft::WRL::ComPtr<IWICPalette> palette;
    Microsoft::WRL::ComPtr<IWICFormatConverter> converter;
    WICColor colours[] = {0xFF000000 | top, 0xFF000000 | bottom};
    if (FAILED(factory->CreateBitmapFromMemory(width, height, indexed ? format : GUID_WICPixelFormat32bppBGR,
                                               stride, UINT(pixels.size()), pixels.data(), &bitmap)) ||
        (indexed && (FAILED(factory->CreatePalette(&palette)) || FAILED(palette->InitializeCustom(colours, 2)) ||
                     FAILED(bitmap->SetPalette(palette.Get())))))
        return nullptr;
    if (indexed || FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(bitmap.Get(), format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(factory->CreateBitmapFromSource(converter.Get(), WICBitmapCacheOnLoad, &picture)))
        return indexed ? bitmap : nullptr;
    return picture;
}
