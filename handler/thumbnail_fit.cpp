#include "handler/thumbnail_fit.h"

namespace {

// IEIFLAG_SCREEN and IEIFLAG_ORIGSIZE of IExtractImage.
constexpr std::uint32_t FLAG_SCREEN = 0x0020;
constexpr std::uint32_t FLAG_ORIGSIZE = 0x0040;

// (a × b + c / 2) / c in 64 bits, at least 1. It can exceed 32 bits; the
// caller keeps it only when it is smaller than the box side it replaces.
std::uint64_t scaled_side(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    const std::uint64_t t = (std::uint64_t(a) * b + c / 2) / c;
    return t < 1 ? 1 : t;
}

}  // namespace

ThumbnailSize fit_thumbnail(std::uint32_t image_width, std::uint32_t image_height,
                            std::uint32_t box_width, std::uint32_t box_height,
                            std::uint32_t flags)
{
    ThumbnailSize size = {box_width, box_height};
    if (!(flags & (FLAG_SCREEN | FLAG_ORIGSIZE)))
        return size;
    if (image_width <= box_width && image_height <= box_height)
        return {image_width, image_height};
    // An image with a side of 0 has no aspect ratio to keep (the thumbnail
    // code refuses it before asking); it is returned as it is, which also
    // keeps the divisions below away from 0.
    if (image_width == 0 || image_height == 0)
        return {image_width, image_height};

    if (std::uint64_t(box_height) * image_width > std::uint64_t(box_width) * image_height) {
        // The box is relatively taller than the image: the width decides.
        const std::uint64_t t = scaled_side(box_width, image_height, image_width);
        if (t < size.height)
            size.height = std::uint32_t(t);
    } else {
        const std::uint64_t t = scaled_side(box_height, image_width, image_height);
        if (t < size.width)
            size.width = std::uint32_t(t);
    }
    return size;
}
