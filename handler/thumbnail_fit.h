// The size a thumbnail is made at, from the image's size, the requested box
// and the IExtractImage flags.
#pragma once

#include <cstdint>

struct ThumbnailSize {
    std::uint32_t width;
    std::uint32_t height;
};

// With IEIFLAG_SCREEN or IEIFLAG_ORIGSIZE in flags the image is fitted into
// the box keeping its aspect ratio, rounded to the nearest pixel, never
// enlarged and never given a side of 0. Without them the result is the box
// itself. The products are taken in 64 bits, so no size wraps.
ThumbnailSize fit_thumbnail(std::uint32_t image_width, std::uint32_t image_height,
                            std::uint32_t box_width, std::uint32_t box_height,
                            std::uint32_t flags);
