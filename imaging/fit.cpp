#include "imaging/fit.h"

namespace {

// (a × b + c / 2) / c in 64 bits, at least 1. It can exceed 32 bits; the
// caller keeps it only when it is smaller than the box side it replaces.
std::uint64_t scaled_side(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    const std::uint64_t t = (std::uint64_t(a) * b + c / 2) / c;
    return t < 1 ? 1 : t;
}

}  // namespace

PictureSize fit_picture(std::uint32_t width, std::uint32_t height, std::uint32_t box_width,
                        std::uint32_t box_height, FitRule rule)
{
    PictureSize size = {box_width, box_height};
    if (rule == FitRule::fill)
        return size;
    if ((rule == FitRule::shrink && width <= box_width && height <= box_height) || width == 0 ||
        height == 0)
        return {width, height};

    if (std::uint64_t(box_height) * width > std::uint64_t(box_width) * height) {
        // The box is relatively taller than the picture: the width decides.
        const std::uint64_t t = scaled_side(box_width, height, width);
        if (t < size.height)
            size.height = std::uint32_t(t);
    } else {
        const std::uint64_t t = scaled_side(box_height, width, height);
        if (t < size.width)
            size.width = std::uint32_t(t);
    }
    return size;
}
