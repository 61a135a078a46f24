// Imaging steps shared by everything that shows a book's cover.
#pragma once

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

// Puts a converter to 32-bit BGR in front of source unless it already
// delivers that format. Each failed step is logged.
HRESULT convert_to_bgr32(IWICImagingFactory* factory,
                         Microsoft::WRL::ComPtr<IWICBitmapSource>& source);
