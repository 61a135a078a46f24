// The one way a picture becomes a GDI bitmap: a top-down 32-bit DIB
// section, with or without a frame around the picture.
#pragma once

#include <windows.h>
#include <wincodec.h>

// A frame of width pixels on every side, each the DIB pixel colour
// (0xAARRGGBB); width 0 is no frame.
struct Frame {
    UINT width;
    UINT32 colour;
};

// Copies picture, which delivers 32-bit BGR, into a new top-down 32-bit DIB
// section inside frame: the section is the picture's size plus the frame on
// each side, every pixel of it the frame's colour until the picture is
// copied in. A size the section cannot hold gives E_OUTOFMEMORY, a section
// not made the last error. Each failed step is logged; *out is set only on
// success, and the bitmap is the caller's.
HRESULT make_dib(IWICBitmapSource* picture, Frame frame, HBITMAP* out);
