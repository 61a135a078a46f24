// The preview's cover from the decoder's frame: no side above COVER_LIMIT,
// 32-bit BGR, by the decoder's own scaling where it offers it.
#pragma once

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

// Decodes frame into cover. Where the frame offers the decoder's own scaled
// decoding (IWICBitmapSourceTransform) at a size below the full one and not
// below the fitted one, the picture is decoded at that size and never exists
// whole; else it is decoded once and scaled once. cover is null on failure.
HRESULT decode_cover(IWICImagingFactory* factory, IWICBitmapSource* frame,
                     Microsoft::WRL::ComPtr<IWICBitmap>& cover);
