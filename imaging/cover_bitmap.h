// A book's cover for the surface that shows it: decoded from the book's
// cover record, fitted by the surface's rule, scaled, and made a bitmap.
#pragma once

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include "imaging/dib.h"
#include "imaging/fit.h"

class MobiBook;

// picture fitted by rule into a box of box_width x box_height less the frame
// (fit_frame) and made a DIB section inside the frame (make_dib). A box with
// no room inside the frame gives E_INVALIDARG.
HRESULT framed_picture(IWICImagingFactory* factory, IWICBitmapSource* picture, UINT box_width,
                       UINT box_height, FitRule rule, Frame frame, HBITMAP* out);

// The book's cover as framed_picture makes it, with one new imaging factory
// for the decoding and the scaling. A book without a cover gives E_FAIL.
HRESULT cover_bitmap(MobiBook& book, UINT box_width, UINT box_height, FitRule rule, Frame frame,
                     HBITMAP* out);

// The book's cover fitted into the box by rule and kept in memory in 32-bit
// BGR, decoded and scaled by factory, which scales it again later.
HRESULT decode_cover(IWICImagingFactory* factory, MobiBook& book, UINT box_width, UINT box_height,
                     FitRule rule, Microsoft::WRL::ComPtr<IWICBitmap>& cover);
