// A decoded picture brought to the size a surface draws it at, in 32-bit
// BGR, by the decoder's own scaling where it offers it and then Fant's.
#pragma once

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include "imaging/fit.h"

// Puts a converter to 32-bit BGR in front of source unless it already
// delivers that format. Each failed step is logged.
HRESULT convert_to_bgr32(IWICImagingFactory* factory,
                         Microsoft::WRL::ComPtr<IWICBitmapSource>& source);

// frame's picture fitted into the box by rule (fit_picture, from frame's
// full size), in 32-bit BGR, as a chain of sources that one CopyPixels pulls
// through. Where frame offers the decoder's own scaled decoding
// (IWICBitmapSourceTransform) at a size below the full one and not below the
// fitted one, the smallest such size is decoded, so that the full picture
// never exists in memory; the rest of the way, or all of it, is a Fant
// scaler. A picture with a side of 0 gives E_FAIL. Each failed step is
// logged; picture is null on failure.
HRESULT fit_frame(IWICImagingFactory* factory, IWICBitmapSource* frame, UINT box_width,
                  UINT box_height, FitRule rule, Microsoft::WRL::ComPtr<IWICBitmapSource>& picture);
