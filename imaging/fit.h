// The size a picture is drawn at in a box, by the rule of the surface that
// draws it.
#pragma once

#include <cstdint>

enum class FitRule {
    // The box itself: the picture stretched, its aspect ratio not kept (a
    // thumbnail asked for without IEIFLAG_SCREEN or IEIFLAG_ORIGSIZE).
    fill,
    // Into the box keeping the aspect ratio, never enlarged: thumbnails and
    // the preview pane.
    shrink,
    // Into the box keeping the aspect ratio, a smaller picture scaled up
    // until it touches the box: the property page.
    grow,
};

struct PictureSize {
    std::uint32_t width;
    std::uint32_t height;
};

// The size of a width x height picture in the box by rule, rounded to the
// nearest pixel and never given a side of 0. The products are taken in 64
// bits, so no size wraps. A picture with a side of 0 has no aspect ratio to
// keep and is returned as it is (fill still gives the box).
PictureSize fit_picture(std::uint32_t width, std::uint32_t height, std::uint32_t box_width,
                        std::uint32_t box_height, FitRule rule);
